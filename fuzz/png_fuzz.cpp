// Fuzz target for the PNG loader's GL-free half: the VIEWING_GAMMA rule, decoding from
// memory and from a file into the texture's first level, and the mip chain, with the
// loader's promises checked on whatever decodes.
//
// Input: one options byte, one byte giving the length of a VIEWING_GAMMA text (0-15;
// above that the variable counts as unset), two bytes unused, the text, then the PNG
// file.
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

// The level sides and sizes the loader promises, and the mip chain made from them.
void check_levels(const decoded_png& image, uint32_t max_texture_size, bool mipmaps) {
    png_level level = image.level;
    require(level.width == png_texture_side(image.width, max_texture_size) &&
                level.height == png_texture_side(image.height, max_texture_size),
            "level 0 sides");
    require((level.width & (level.width - 1)) == 0 && (level.height & (level.height - 1)) == 0 &&
                level.width <= max_texture_size && level.height <= max_texture_size,
            "level 0 sides are powers of two within the largest texture");
    while (true) {
        require(level.bytes.size() == size_t(level.width) * level.height * image.components,
                "level size matches its sides");
        if (!mipmaps || (level.width == 1 && level.height == 1))
            return;
        const png_level half = halve_png_level(level, image.components);
        require(half.width == std::max<uint32_t>(level.width / 2, 1) &&
                    half.height == std::max<uint32_t>(level.height / 2, 1),
                "each mip halves the one above");
        level = half;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t header_bytes = 4;
    if (size < header_bytes)
        return 0;
    const uint8_t options = data[0];
    const uint8_t gamma_length = data[1];
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
    // times that, as the loader does, small enough to keep the runs fast.
    constexpr uint32_t texture_sizes[] = {1, 2, 3, 16, 64, 100, 128, 256};
    const bool mipmaps = options & 1;
    const uint32_t max_texture_size = texture_sizes[(options >> 1) & 7];
    const bool through_file = options & 16;

    decoded_png image = {};
    const char* reason = nullptr;
    const bool decoded = decode_png(data, size, screen_gamma, max_texture_size, &image, &reason);
    require(reason != nullptr, "a reason is always set");
    require(decoded == (reason[0] == '\0'), "a reason exactly when the decode fails");

    if (through_file && write_memory_file(data, size)) {
        decoded_png from_file = {};
        const char* file_reason = nullptr;
        const bool file_decoded = decode_png_file(state.path.c_str(), screen_gamma,
                                                  max_texture_size, &from_file, &file_reason);
        require(file_decoded == decoded, "file and memory decodes agree on success");
        if (decoded)
            require(from_file.width == image.width && from_file.height == image.height &&
                        from_file.level.bytes == image.level.bytes,
                    "file and memory decodes give the same pixels");
    }
    if (!decoded)
        return 0;
    require(image.width >= 1 && image.height >= 1 &&
                image.width <= max_texture_size * png_max_side_factor &&
                image.height <= max_texture_size * png_max_side_factor &&
                uint64_t(image.width) * image.height <= png_max_pixels,
            "decoded sides within the limits");
    require(image.components == 3 || image.components == 4, "RGB or RGBA");
    check_levels(image, max_texture_size, mipmaps);
    return 0;
}
