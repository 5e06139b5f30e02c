// The offline renderer's context, frame read-back and PNG writer, and the `frame`
// subcommand built on them.
#include "capture.h"

#include "platform/host.h"
#include "scene/scene.h"
#include "sound/soundtrack.h"

#include <SDL.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <png.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

static struct {
    SDL_Window* window = nullptr;    // the hidden 800 x 600 window; written by open/close
    SDL_GLContext context = nullptr; // its GL context, current while open
    bool video_started = false;      // SDL's video subsystem initialised by us
} capture;

void close_capture_context() {
    if (capture.context)
        SDL_GL_DeleteContext(capture.context);
    if (capture.window)
        SDL_DestroyWindow(capture.window);
    if (capture.video_started)
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    capture.context = nullptr;
    capture.window = nullptr;
    capture.video_started = false;
}

bool open_capture_context() {
    close_capture_context();
    // A renderer with no display by nature; a driver named in the environment still
    // wins over this hint.
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "vornhal-capture: cannot start SDL video: %s\n", SDL_GetError());
        return false;
    }
    capture.video_started = true;

    set_gl_surface_attributes(); // the demo's own, so the pictures are the demo's
    capture.window =
        SDL_CreateWindow("Vornhal", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, screen_width,
                         screen_height, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!capture.window) {
        std::fprintf(stderr, "vornhal-capture: cannot create the render window: %s\n",
                     SDL_GetError());
        close_capture_context();
        return false;
    }
    capture.context = SDL_GL_CreateContext(capture.window);
    if (!capture.context || SDL_GL_MakeCurrent(capture.window, capture.context) != 0) {
        std::fprintf(stderr, "vornhal-capture: cannot create a GL context: %s\n", SDL_GetError());
        close_capture_context();
        return false;
    }

    hold_demo_clock(0); // no sound output while rendering
    set_perspective_view(screen_width, screen_height);
    setup_scene();
    return true;
}

bool render_capture_frame(int ms, std::vector<unsigned char>& rgb) {
    hold_demo_clock(ms);
    const bool goes_on = draw_frame();

    const size_t row_bytes = static_cast<size_t>(screen_width) * 3;
    const size_t size = row_bytes * screen_height;
    if (rgb.size() != size)
        rgb.resize(size);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, screen_width, screen_height, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    // GL gives the bottom row first; a picture file wants the top one first.
    for (int top = 0, bottom = screen_height - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(rgb.begin() + top * row_bytes, rgb.begin() + (top + 1) * row_bytes,
                         rgb.begin() + bottom * row_bytes);
    return goes_on;
}

// Encodes into an open file. libpng reports errors by longjmp, so nothing here may
// need destruction.
static bool encode_png(FILE* file, const unsigned char* rgb, int width, int height,
                       std::string& reason) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        reason = "out of memory";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        reason = std::strerror(errno ? errno : EIO);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y)
        png_write_row(png, rgb + static_cast<size_t>(y) * width * 3);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool write_rgb_png(const char* path, const unsigned char* rgb, int width, int height) {
    if (width <= 0 || height <= 0) {
        std::fprintf(stderr, "vornhal-capture: %s: no pixels to write\n", path);
        return false;
    }
    // Written beside the target and renamed over it, so a failed write never leaves a
    // truncated picture nor destroys the one that was there.
    std::string temp_path = std::string(path) + ".XXXXXX";
    int fd = mkstemp(temp_path.data());
    if (fd < 0) {
        std::fprintf(stderr, "vornhal-capture: cannot write %s: %s\n", path, std::strerror(errno));
        return false;
    }
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    FILE* file = fdopen(fd, "wb");
    if (!file) {
        std::fprintf(stderr, "vornhal-capture: cannot write %s: %s\n", path, std::strerror(errno));
        close(fd);
        unlink(temp_path.c_str());
        return false;
    }
    std::string reason;
    errno = 0;
    bool ok = encode_png(file, rgb, width, height, reason);
    if (ok && (std::fflush(file) != 0 || fsync(fileno(file)) != 0 || std::ferror(file))) {
        ok = false;
        reason = std::strerror(errno);
    }
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        reason = std::strerror(errno);
    }
    if (ok && std::rename(temp_path.c_str(), path) != 0) {
        ok = false;
        reason = std::strerror(errno);
    }
    if (!ok) {
        unlink(temp_path.c_str());
        std::fprintf(stderr, "vornhal-capture: cannot write %s: %s\n", path, reason.c_str());
    }
    return ok;
}

static const char frame_usage[] =
    "usage: vornhal-capture frame MS OUT.png\n"
    "Renders the picture the demo shows when its clock reads MS milliseconds\n"
    "(a whole number, 0 to 16777216) and writes it to OUT.png as an 800 x 600 RGB PNG.\n"
    "Reads the images in data/ below the working directory; needs no display.\n"
    "From 142000 ms on the show is over: that frame is drawn but the demo never shows it.\n";

// Whole milliseconds the single-precision clock holds exactly.
static bool parse_frame_time(const char* text, int& ms) {
    constexpr long max_frame_ms = 16777216; // 2^24
    if (!text[0])
        return false;
    for (const char* c = text; *c; ++c)
        if (*c < '0' || *c > '9')
            return false;
    errno = 0;
    const long value = std::strtol(text, nullptr, 10);
    if (errno != 0 || value > max_frame_ms)
        return false;
    ms = static_cast<int>(value);
    return true;
}

int run_frame_command(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(frame_usage, stdout);
            return 0;
        }
    if (argc != 3) {
        std::fprintf(stderr, "vornhal-capture: frame takes a time in ms and an output file "
                             "(see vornhal-capture frame --help)\n");
        return 1;
    }
    int ms = 0;
    if (!parse_frame_time(argv[1], ms)) {
        std::fprintf(stderr,
                     "vornhal-capture: '%s' is not a frame time (whole milliseconds, 0 to "
                     "16777216)\n",
                     argv[1]);
        return 1;
    }
    if (!argv[2][0]) {
        std::fprintf(stderr, "vornhal-capture: the output file name is empty\n");
        return 1;
    }
    if (!open_capture_context())
        return 1;
    std::vector<unsigned char> rgb;
    render_capture_frame(ms, rgb);
    close_capture_context();
    return write_rgb_png(argv[2], rgb.data(), screen_width, screen_height) ? 0 : 1;
}
