// Fuzz target for the PNG loader's GL-free half: the VIEWING_GAMMA rule, decoding from
// memory and from a file, and the texture levels handed to GL (power-of-two resize,
// mip chain), with the loader's promises checked on whatever decodes.
//
// Input: one options byte, one byte giving the length of a VIEWING_GAMMA text (0-15;
// above that the variable counts as unset), two bytes of resample sides, the text,
// then the PNG file.
#include "pngload/png_decode.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// A broken promise is a finding: stop right here with a line saying which.
void require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "png fuzz: broken promise: %s\n", what);
        std::abort();
    }
}

// An in-memory file the file decoder reads through /proc/self/fd. Written once per
// input, by the fuzzing thread.
struct fuzz_state {
    int file = -1;
    std::string path;
};
fuzz_state state;

bool write_memory_file(const uint8_t* data, size_t size) {
    if (state.file < 0) {
        state.file = memfd_create("png-fuzz", 0);
        require(state.file >= 0, "memfd_create");
        state.path = "/proc/self/fd/" + std::to_string(state.file);
    }
    if (ftruncate(state.file, 0) != 0)
        return false;
    return pwrite(state.file, data, size, 0) == ssize_t(size);
}

bool same_pixels(const png_pixels& a, const png_pixels& b) {
    return a.width == b.width && a.height == b.height && a.file_depth == b.file_depth &&
           a.components == b.components && a.bytes == b.bytes;
}

void check_levels(const png_pixels& image, uint32_t max_texture_size, bool mipmaps) {
    const std::vector<png_level> levels = prepare_png_levels(image, max_texture_size, mipmaps);
    require(!levels.empty(), "at least one level");
    const uint32_t width = png_texture_side(image.width, max_texture_size);
    const uint32_t height = png_texture_side(image.height, max_texture_size);
    require(levels[0].width == width && levels[0].height == height, "level 0 sides");
    require((width & (width - 1)) == 0 && (height & (height - 1)) == 0, "power-of-two sides");
    require(width <= std::max<uint32_t>(max_texture_size, 1) &&
                height <= std::max<uint32_t>(max_texture_size, 1),
            "level 0 within the largest texture");
    for (size_t i = 0; i < levels.size(); ++i) {
        const png_level& level = levels[i];
        require(level.bytes.size() == size_t(level.width) * level.height * image.components,
                "level size matches its sides");
        if (i > 0) {
            require(level.width == std::max<uint32_t>(levels[i - 1].width / 2, 1) &&
                        level.height == std::max<uint32_t>(levels[i - 1].height / 2, 1),
                    "each mip halves the one above");
        }
    }
    if (mipmaps)
        require(levels.back().width == 1 && levels.back().height == 1, "mips end at 1 x 1");
    else
        require(levels.size() == 1, "no mips unless asked");
    // An image already at its texture size goes up untouched.
    if (width == image.width && height == image.height)
        require(levels[0].bytes == image.bytes, "level 0 of a power-of-two image is the image");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t header_bytes = 4;
    if (size < header_bytes)
        return 0;
    const uint8_t options = data[0];
    const uint8_t gamma_length = data[1];
    const uint32_t resample_width = 1 + data[2] % 64;
    const uint32_t resample_height = 1 + data[3] % 64;
    data += header_bytes;
    size -= header_bytes;

    // The environment's text, unset when the length byte says so.
    constexpr uint8_t max_gamma_text = 15;
    std::string gamma_text;
    const bool gamma_set = gamma_length <= max_gamma_text;
    if (gamma_set) {
        const size_t take = std::min<size_t>(gamma_length, size);
        gamma_text.assign(reinterpret_cast<const char*>(data), take);
        gamma_text = gamma_text.c_str(); // the variable ends at its first NUL
        data += take;
        size -= take;
    }
    const double screen_gamma = png_screen_gamma(gamma_set ? gamma_text.c_str() : nullptr);
    // libpng accepts screen gammas within [0.01, 100]; the rule must never hand it more.
    require(std::isfinite(screen_gamma) && screen_gamma >= 0.01 && screen_gamma <= 100.0,
            "screen gamma within what libpng takes");

    // Largest texture sizes a GL may report, odd ones included; decoding allows four
    // times that, as the loader does, but stays small enough to keep the runs fast.
    constexpr uint32_t texture_sizes[] = {1, 2, 3, 64, 100, 256, 512, 1024};
    constexpr uint32_t fuzz_max_side = 1024;
    constexpr uint32_t oversize_factor = 4;
    const bool mipmaps = options & 1;
    const uint32_t max_texture_size = texture_sizes[(options >> 1) & 7];
    const bool through_file = options & 16;
    const uint32_t max_side = std::min(max_texture_size * oversize_factor, fuzz_max_side);

    png_pixels image = {};
    const char* reason = nullptr;
    const bool decoded = decode_png(data, size, screen_gamma, max_side, &image, &reason);
    require(reason != nullptr, "a reason is always set");
    require(decoded == (reason[0] == '\0'), "a reason exactly when the decode fails");

    if (through_file && write_memory_file(data, size)) {
        png_pixels from_file = {};
        const char* file_reason = nullptr;
        const bool file_decoded =
            decode_png_file(state.path.c_str(), screen_gamma, max_side, &from_file, &file_reason);
        require(file_decoded == decoded, "file and memory decodes agree on success");
        if (decoded)
            require(same_pixels(image, from_file), "file and memory decodes give the same pixels");
    }
    if (!decoded)
        return 0;

    require(image.width >= 1 && image.height >= 1, "decoded image is not empty");
    require(image.width <= max_side && image.height <= max_side, "decoded sides within the limit");
    require(uint64_t(image.width) * image.height <= png_max_decoded_pixels,
            "decoded pixels within the limit");
    require(image.components == 3 || image.components == 4, "RGB or RGBA");
    const uint32_t depth = image.file_depth;
    require(depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16, "file depth");
    require(image.bytes.size() == size_t(image.width) * image.height * image.components,
            "pixel bytes match the sides");

    check_levels(image, max_texture_size, mipmaps);

    const png_level resampled = resample_png_nearest(image, resample_width, resample_height);
    require(resampled.width == resample_width && resampled.height == resample_height &&
                resampled.bytes.size() ==
                    size_t(resample_width) * resample_height * image.components,
            "resample has the asked sides");
    return 0;
}
