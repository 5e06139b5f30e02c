// vornhal-fuzz-seeds DIR: writes the fuzz targets' starting corpora, DIR/png and
// DIR/mp3, from the tests' own PNG writer and the soundtrack's MP3 encoder. Each
// file carries the small header its target reads before the data (see the targets).
#include "mp3_encode.h"
#include "test_png.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

static bool write_seed(const std::string& path, const std::vector<uint8_t>& header,
                       const std::vector<uint8_t>& body) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "vornhal-fuzz-seeds: cannot write %s\n", path.c_str());
        return false;
    }
    bool written = std::fwrite(header.data(), 1, header.size(), file) == header.size() &&
                   std::fwrite(body.data(), 1, body.size(), file) == body.size();
    written = std::fclose(file) == 0 && written;
    if (!written)
        std::fprintf(stderr, "vornhal-fuzz-seeds: cannot write %s\n", path.c_str());
    return written;
}

static bool write_png_seeds(const std::string& dir) {
    struct png_case {
        const char* name;
        int colour_type;
        int bit_depth;
        uint32_t width, height;
        bool interlaced;
        double gamma;
        std::vector<uint8_t> header; // options, gamma text length, resample sides, text
    };
    // Options byte: bit 0 mips, bits 1-3 the largest texture, bit 4 decode from a file.
    const png_case cases[] = {
        {"grey1", PNG_COLOR_TYPE_GRAY, 1, 13, 7, false, 0, {0x1b, 0xff, 5, 3}},
        {"grey4-interlaced", PNG_COLOR_TYPE_GRAY, 4, 9, 9, true, 0, {0x0d, 0xff, 2, 2}},
        {"grey16-gamma", PNG_COLOR_TYPE_GRAY, 16, 6, 5, false, 1.0, {0x1f, 0xff, 7, 1}},
        {"grey-alpha8",
         PNG_COLOR_TYPE_GRAY_ALPHA,
         8,
         8,
         8,
         false,
         0,
         {0x1b, 3, 4, 4, '2', '.', '2'}},
        {"palette2", PNG_COLOR_TYPE_PALETTE, 2, 11, 3, false, 0, {0x19, 0xff, 1, 9}},
        {"palette8-interlaced",
         PNG_COLOR_TYPE_PALETTE,
         8,
         17,
         10,
         true,
         0.45455,
         {0x1d, 0xff, 3, 3}},
        {"rgb8", PNG_COLOR_TYPE_RGB, 8, 16, 16, false, 0, {0x1f, 0xff, 8, 8}},
        {"rgb8-odd-texture", PNG_COLOR_TYPE_RGB, 8, 33, 5, false, 0, {0x09, 0xff, 30, 2}},
        {"rgb16-interlaced", PNG_COLOR_TYPE_RGB, 16, 7, 12, true, 0.7, {0x11, 2, 6, 6, '1', 'x'}},
        {"rgba8-gamma",
         PNG_COLOR_TYPE_RGB_ALPHA,
         8,
         20,
         4,
         false,
         1.0,
         {0x1b, 3, 9, 9, '1', '.', '1'}},
        {"rgba16", PNG_COLOR_TYPE_RGB_ALPHA, 16, 3, 3, false, 0, {0x1f, 3, 1, 1, 'n', 'a', 'n'}},
        {"rgba8-one-texel-texture",
         PNG_COLOR_TYPE_RGB_ALPHA,
         8,
         5,
         2,
         false,
         0,
         {0x11, 0xff, 2, 2}},
    };
    uint32_t seed = 1;
    for (const png_case& c : cases) {
        test_png image;
        image.width = c.width;
        image.height = c.height;
        image.colour_type = c.colour_type;
        image.bit_depth = c.bit_depth;
        image.interlaced = c.interlaced;
        image.gamma = c.gamma;
        if (c.colour_type == PNG_COLOR_TYPE_PALETTE) {
            const int entries = 1 << c.bit_depth;
            for (int i = 0; i < entries; ++i)
                image.palette.push_back(
                    {png_byte(i * 37), png_byte(255 - i * 11), png_byte(i * 5 + 7)});
        }
        fill_test_samples(&image, seed++);
        if (!write_seed(dir + "/" + c.name + ".bin", c.header, encode_test_png(image)))
            return false;
    }
    // Headers declaring far more pixels than any texture: refused before allocating.
    const std::vector<uint8_t> big_header = {0x1f, 0xff, 4, 4};
    return write_seed(dir + "/declared-huge.bin", big_header,
                      header_only_png(1u << 30, 1u << 30)) &&
           write_seed(dir + "/declared-wide.bin", big_header, header_only_png(100000, 1));
}

static bool write_mp3_seeds(const std::string& dir) {
    struct mp3_case {
        const char* name;
        int rate_hz;
        int kbps;
        double seconds;
        std::vector<uint8_t> header; // seek count, then 4 bytes per seek (ms, little end)
    };
    const mp3_case cases[] = {
        {"tone-44100-128k", 44100, 128, 0.5, {2, 100, 0, 0, 0, 0x2c, 1, 0, 0}},
        {"tone-44100-32k-seeks-out",
         44100,
         32,
         0.3,
         {3, 0xff, 0xff, 0xff, 0xff, 0x10, 0x27, 0, 0, 0xff, 0xff, 0xff, 0x7f}},
        {"tone-44100-320k", 44100, 320, 0.2, {1, 50, 0, 0, 0}},
        {"tone-22050-64k", 22050, 64, 0.3, {1, 10, 0, 0, 0}},
        {"tone-48000-128k", 48000, 128, 0.2, {0}},
    };
    for (const mp3_case& c : cases) {
        const size_t frames = size_t(c.seconds * c.rate_hz);
        std::vector<int16_t> stereo(frames * 2);
        constexpr double two_pi = 6.283185307179586;
        constexpr double left_hz = 440.0, right_hz = 660.0, amplitude = 12000.0;
        for (size_t i = 0; i < frames; ++i) {
            const double t = double(i) / c.rate_hz;
            stereo[2 * i] = int16_t(amplitude * std::sin(two_pi * left_hz * t));
            stereo[2 * i + 1] = int16_t(amplitude * std::sin(two_pi * right_hz * t));
        }
        std::vector<unsigned char> mp3;
        if (!encode_mp3(stereo, c.rate_hz, c.kbps, mp3)) {
            std::fprintf(stderr, "vornhal-fuzz-seeds: the encoder refused %s\n", c.name);
            return false;
        }
        if (!write_seed(dir + "/" + c.name + ".bin", c.header, mp3))
            return false;
    }
    return true;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: vornhal-fuzz-seeds DIR\n", stderr);
        return 1;
    }
    const std::string dir = argv[1];
    return write_png_seeds(dir + "/png") && write_mp3_seeds(dir + "/mp3") ? 0 : 1;
}
