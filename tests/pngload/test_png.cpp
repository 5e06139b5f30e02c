#include "test_png.h"

#include <zlib.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace {

void append_bytes(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void flush_nothing(png_structp) {}

// libpng's writing, with no C++ objects alive across its setjmp.
bool write_png_rows(png_structp png, png_infop info, const test_png& image, png_bytepp rows,
                    std::vector<uint8_t>* out) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, out, append_bytes, flush_nothing);
    png_set_IHDR(png, info, image.width, image.height, image.bit_depth, image.colour_type,
                 image.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!image.palette.empty())
        png_set_PLTE(png, info, image.palette.data(), int(image.palette.size()));
    if (!image.palette_alpha.empty()) {
        png_set_tRNS(png, info, image.palette_alpha.data(), int(image.palette_alpha.size()),
                     nullptr);
    }
    if (image.colour_key)
        png_set_tRNS(png, info, nullptr, 0, &image.key);
    if (image.gamma > 0)
        png_set_gAMA(png, info, image.gamma);
    png_write_info(png, info);
    if (image.bit_depth < 8)
        png_set_packing(png);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}

// Samples a pixel, indexed by colour type (0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA).
int channels_of(int colour_type) {
    constexpr int channels[] = {1, 0, 3, 1, 2, 0, 4};
    return channels[colour_type];
}

uint8_t to_8_bits(uint16_t sample, int depth) {
    if (depth == 16)
        return uint8_t(std::lround(sample / 257.0));
    return uint8_t(sample * 255 / ((1 << depth) - 1));
}

void put_be32(std::vector<uint8_t>* out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out->push_back(uint8_t(value >> shift));
}

uint32_t get_be32(const std::vector<uint8_t>& file, size_t at) {
    return uint32_t(file[at]) << 24 | uint32_t(file[at + 1]) << 16 | uint32_t(file[at + 2]) << 8 |
           file[at + 3];
}

// Recomputes the CRC of the chunk whose length field starts at `at`.
void restamp_crc(std::vector<uint8_t>* file, size_t at) {
    const uint32_t length = get_be32(*file, at);
    const uint32_t crc = uint32_t(crc32(0, file->data() + at + 4, uInt(length + 4)));
    for (int i = 0; i < 4; ++i)
        (*file)[at + 8 + length + i] = uint8_t(crc >> (24 - 8 * i));
}

void append_chunk(std::vector<uint8_t>* out, const char* type, const std::vector<uint8_t>& data) {
    put_be32(out, uint32_t(data.size()));
    const size_t start = out->size();
    out->insert(out->end(), type, type + 4);
    out->insert(out->end(), data.begin(), data.end());
    put_be32(out, uint32_t(crc32(0, out->data() + start, uInt(out->size() - start))));
}

std::filesystem::path temp_dir() {
    return std::filesystem::temp_directory_path() / ("vornhal-pngload-" + std::to_string(getpid()));
}

void remove_temp_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(temp_dir(), ignored);
}

} // namespace

std::vector<uint8_t> encode_test_png(const test_png& image) {
    const size_t sample_bytes = image.bit_depth == 16 ? 2 : 1;
    const size_t row_bytes = size_t(image.width) * channels_of(image.colour_type) * sample_bytes;
    std::vector<uint8_t> packed; // 16-bit samples big-endian, as PNG stores them
    for (size_t i = 0; i < row_bytes / sample_bytes * image.height; ++i) {
        if (sample_bytes == 2)
            packed.push_back(uint8_t(image.samples.at(i) >> 8));
        packed.push_back(uint8_t(image.samples.at(i)));
    }
    std::vector<png_bytep> rows(image.height);
    for (uint32_t y = 0; y < image.height; ++y)
        rows[y] = packed.data() + y * row_bytes;
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    const bool written = write_png_rows(png, info, image, rows.data(), &out);
    png_destroy_write_struct(&png, &info);
    if (!written) {
        std::fprintf(stderr, "test PNG could not be written\n");
        std::abort();
    }
    if (image.srgb) {
        // libpng refuses to write an sRGB chunk that disagrees with gAMA; put it in by hand.
        constexpr size_t after_ihdr = 8 + 12 + 13;
        std::vector<uint8_t> chunk;
        append_chunk(&chunk, "sRGB", {0});
        out.insert(out.begin() + after_ihdr, chunk.begin(), chunk.end());
    }
    return out;
}

std::vector<uint8_t> expected_pixels(const test_png& image) {
    const int channels = channels_of(image.colour_type);
    const bool alpha = image.colour_type & PNG_COLOR_MASK_ALPHA;
    std::vector<uint8_t> out;
    for (size_t p = 0; p < size_t(image.width) * image.height; ++p) {
        const uint16_t* s = image.samples.data() + p * channels;
        uint8_t rgba[4] = {};
        if (image.colour_type == PNG_COLOR_TYPE_PALETTE) {
            const png_color& c = image.palette.at(s[0]);
            rgba[0] = c.red, rgba[1] = c.green, rgba[2] = c.blue;
        } else if (channels <= 2) {
            rgba[0] = rgba[1] = rgba[2] = to_8_bits(s[0], image.bit_depth);
            rgba[3] = channels == 2 ? to_8_bits(s[1], image.bit_depth) : 0;
        } else {
            for (int c = 0; c < channels; ++c)
                rgba[c] = to_8_bits(s[c], image.bit_depth);
        }
        out.insert(out.end(), rgba, rgba + (alpha ? 4 : 3));
    }
    return out;
}

void fill_test_samples(test_png* image, uint32_t seed) {
    const size_t count = size_t(image->width) * image->height * channels_of(image->colour_type);
    const uint32_t limit = image->colour_type == PNG_COLOR_TYPE_PALETTE
                               ? uint32_t(image->palette.size())
                               : (1u << image->bit_depth);
    image->samples.resize(count);
    uint32_t state = seed * 2654435761u + 1;
    for (size_t i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        image->samples[i] = uint16_t((state >> 8) % limit);
    }
}

void damage_image_data(std::vector<uint8_t>* file, bool fix_crc) {
    constexpr size_t signature_bytes = 8;
    for (size_t at = signature_bytes; at + 12 <= file->size(); at += 12 + get_be32(*file, at)) {
        if (std::memcmp(file->data() + at + 4, "IDAT", 4) == 0) {
            (*file)[at + 8 + get_be32(*file, at) / 2] ^= 0x5a;
            if (fix_crc)
                restamp_crc(file, at);
            return;
        }
    }
}

std::vector<uint8_t> header_only_png(uint32_t width, uint32_t height) {
    test_png image;
    image.width = image.height = 4;
    image.samples.assign(4 * 4 * 3, 0);
    std::vector<uint8_t> file = encode_test_png(image);
    constexpr size_t ihdr = 8; // right after the signature
    for (int i = 0; i < 4; ++i) {
        file[ihdr + 8 + i] = uint8_t(width >> (24 - 8 * i));
        file[ihdr + 12 + i] = uint8_t(height >> (24 - 8 * i));
    }
    restamp_crc(&file, ihdr);
    return file;
}

std::string write_temp_file(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::filesystem::path dir = temp_dir();
    if (!std::filesystem::exists(dir)) {
        std::filesystem::create_directories(dir);
        std::atexit(remove_temp_dir);
    }
    const std::string path = (dir / name).string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}
