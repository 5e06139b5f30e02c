#include "output_file.h"

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

bool make_temporary(const std::string& final_path, const char* suffix, std::string& temp_path) {
    // "./" keeps a name such as "-" from reading as an option to another program.
    std::string name = (final_path[0] == '/' ? "" : "./") + final_path + ".partial-XXXXXX" + suffix;
    const int fd = mkstemps(name.data(), static_cast<int>(std::strlen(suffix)));
    if (fd < 0)
        return false;
    close(fd);
    temp_path = name;
    return true;
}

bool publish(const std::string& temp_path, const std::string& final_path) {
    // mkstemp makes files private; a finished one gets what the umask allows.
    const mode_t mask = umask(0);
    umask(mask);
    return chmod(temp_path.c_str(), 0666 & ~mask) == 0 &&
           std::rename(temp_path.c_str(), final_path.c_str()) == 0;
}

bool write_file(const char* program, const std::string& path, const char* suffix,
                const std::function<bool(FILE*)>& write_body) {
    // The first failure's reason is the one told: later clean-up calls may set errno too.
    std::string temp_path;
    int error = 0;
    FILE* file =
        make_temporary(path, suffix, temp_path) ? std::fopen(temp_path.c_str(), "wb") : nullptr;
    if (!file)
        error = errno;
    errno = 0;
    bool ok = file && write_body(file) && std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    if (file && !ok)
        error = errno ? errno : EIO;
    if (file && std::fclose(file) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && !publish(temp_path, path)) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", program, path.c_str(),
                     std::strerror(error));
        if (!temp_path.empty())
            unlink(temp_path.c_str());
    }
    return ok;
}

// libpng reports errors by longjmp, so nothing here may need destruction.
static bool encode_png(FILE* file, const unsigned char* pixels, int width, int height,
                       int components, int compression_level) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        return false;
    }
    png_init_io(png, file);
    if (compression_level >= 0)
        png_set_compression_level(png, compression_level);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 components == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const size_t row_bytes = static_cast<size_t>(width) * components;
    for (int y = 0; y < height; ++y)
        png_write_row(png, pixels + y * row_bytes);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool write_png(const char* program, const std::string& path, const unsigned char* pixels, int width,
               int height, int components, int compression_level) {
    return write_file(program, path, ".png", [&](FILE* file) {
        return encode_png(file, pixels, width, height, components, compression_level);
    });
}
