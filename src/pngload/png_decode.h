// The GL-free half of the PNG loader: decoding into 8-bit RGB or RGBA pixels and
// preparing the texture levels (power-of-two resize, mip chain). Plain functions over
// byte buffers; none needs a GL context, so tests and fuzzers can drive them directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Decoding refuses images with more pixels than this (16384 x 16384), or sides more than
// png_max_side_factor times the texture limit, so a hostile header can never make it
// allocate more than a bounded amount. Rows are sampled as they are decoded, so a
// non-interlaced image is never held whole; an interlaced one is (its rows come in
// seven passes), and is refused beyond png_max_interlaced_pixels (8192 x 4096).
constexpr uint64_t png_max_pixels = uint64_t(1) << 28;
constexpr uint64_t png_max_interlaced_pixels = uint64_t(1) << 25;
constexpr uint32_t png_max_side_factor = 4;

// One texture level: rows top first, `components` bytes a pixel, no row padding.
struct png_level {
    uint32_t width;
    uint32_t height;
    std::vector<uint8_t> bytes;
};

// A decoded image as its texture's first level.
struct decoded_png {
    uint32_t width; // the file's own size
    uint32_t height;
    uint32_t components; // 3 (RGB) or 4 (RGBA: the file has an alpha channel)
    png_level level;     // the image sampled to the texture's sides
};

// The display gamma to correct for: 2.2, or 2.2 divided by `viewing_gamma` (the value
// of VIEWING_GAMMA, nullptr when unset) when that is a plain finite number in
// [0.022, 220]. Anything else ("", "abc", "0", "-1", "inf", "nan", "2x") counts as
// unset. Never fails.
double png_screen_gamma(const char* viewing_gamma);

// Whether pixels need correcting between a file gamma and a screen gamma: only when
// their product lies more than 0.05 away from 1.
bool png_gamma_needs_correction(double file_gamma, double screen_gamma);

// Decodes a whole PNG held in memory into its texture's first level: each side
// png_texture_side of the image's, pixels picked by nearest neighbour (pixel centres
// mapped onto pixel centres). Palette, grey and RGB images come out as RGB, grey+alpha
// and RGBA as RGBA, 16-bit channels rounded to 8 bits; interlacing is undone; a
// transparency chunk (tRNS) is ignored, and of the ancillary chunks only gAMA is
// honoured (absent: 1/2.2), corrected towards `screen_gamma`. Returns false with
// `reason` set on any failure; `out` then holds no pixels.
bool decode_png(const uint8_t* data, size_t size, double screen_gamma, uint32_t max_texture_size,
                decoded_png* out, const char** reason);

// The same, reading the file at `path` as it goes (never holding the whole file).
bool decode_png_file(const char* path, double screen_gamma, uint32_t max_texture_size,
                     decoded_png* out, const char** reason);

// The side a texture gets for an image side: the next power of two at or above it,
// but no more than the largest power of two within `max_texture_size`.
uint32_t png_texture_side(uint32_t image_side, uint32_t max_texture_size);

// The next mip level: each side halved (not below 1), each texel the rounded mean of
// the 2 x 2 (or 2 x 1) block above it. Never fails.
png_level halve_png_level(const png_level& level, uint32_t components);
