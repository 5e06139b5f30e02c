// PNG files written by the tests themselves, with libpng, and helpers to damage them.
#pragma once

#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

// An image to write. Samples are at the file's bit depth, rows top first, channels
// in file order (one for grey and palette indices, two for grey+alpha, ...).
struct test_png {
    uint32_t width = 1;
    uint32_t height = 1;
    int colour_type = PNG_COLOR_TYPE_RGB;
    int bit_depth = 8;
    bool interlaced = false;
    std::vector<uint16_t> samples;
    std::vector<png_color> palette;     // palette images only
    std::vector<uint8_t> palette_alpha; // a tRNS chunk for a palette image when not empty
    bool colour_key = false;            // a tRNS chunk for a grey or RGB image
    png_color_16 key = {};
    double gamma = 0;  // a gAMA chunk when above 0
    bool srgb = false; // an sRGB chunk
};

// The encoded file; aborts the test program if libpng refuses.
std::vector<uint8_t> encode_test_png(const test_png& image);

// The pixels the loader must produce, before any gamma correction: 8-bit RGB, or RGBA
// where the file has an alpha channel.
std::vector<uint8_t> expected_pixels(const test_png& image);

// Samples filled from a small deterministic generator, each within the bit depth.
void fill_test_samples(test_png* image, uint32_t seed);

// Flips a byte in the middle of the first IDAT chunk. With `fix_crc` the chunk's CRC
// is recomputed, so the damage reaches the zlib stream instead.
void damage_image_data(std::vector<uint8_t>* file, bool fix_crc);

// A file with only a signature and an IHDR of the given size (8-bit RGB), then one
// small IDAT and IEND, all with valid CRCs.
std::vector<uint8_t> header_only_png(uint32_t width, uint32_t height);

std::string write_temp_file(const std::string& name, const std::vector<uint8_t>& bytes);
