// Fuzz target for the loader's GL-free half: decode any bytes, then prepare the
// texture levels of whatever decodes. Built with -DVORNHAL_FUZZ=ON under clang.
#include "pngload/png_decode.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Keep inputs small enough that a run finds bugs rather than allocates.
    constexpr uint32_t fuzz_max_side = 1024;
    constexpr uint32_t fuzz_max_texture_size = 512;
    png_pixels image = {};
    const char* reason = nullptr;
    if (decode_png(data, size, 2.2, fuzz_max_side, &image, &reason)) {
        prepare_png_levels(image, fuzz_max_texture_size, true);
    }
    return 0;
}
