// The loader's GL-free half: gamma rule, texture sides, and hostile input.
#include "pngload/png_decode.h"
#include "test_png.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

constexpr double display_gamma = 2.2;
constexpr uint32_t generous_side = 65536;

TEST(PngScreenGamma, ValidViewingGammaDividesTheDisplayGammaGarbageCountsAsUnset) {
    const struct {
        const char* env;
        double expected;
    } cases[] = {
        {nullptr, display_gamma},
        {"", display_gamma},
        {"abc", display_gamma},
        {"0", display_gamma},
        {"-1", display_gamma},
        {"inf", display_gamma},
        {"-inf", display_gamma},
        {"nan", display_gamma},
        {"1e400", display_gamma},  // overflows to infinity
        {"1e-400", display_gamma}, // underflows to 0
        {"1.1x", display_gamma},
        {"0x", display_gamma},
        {"1000", display_gamma}, // far beyond any display
        {"1", display_gamma},
        {"2.2", 1.0},
        {"1.1", 2.0},
        {" 1.1 ", 2.0},
        {"0.5", 4.4},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(png_screen_gamma(c.env), c.expected)
            << "VIEWING_GAMMA=" << (c.env ? c.env : "(unset)");
    }
}

TEST(PngGammaCorrection, OnlyWhenTheProductStraysMoreThanFiveHundredthsFromOne) {
    const struct {
        double file_gamma;
        double screen_gamma;
        bool corrected;
    } cases[] = {
        {1 / 2.2, 2.2, false}, {0.45455, 2.2, false}, {0.47, 2.2, false},   {0.44, 2.2, false},
        {0.48, 2.2, true},     {0.43, 2.2, true},     {1.0, 2.2, true},     {1.0, 1.0, false},
        {0.5, 2.0, false},     {0.5, 2.2, true},      {1 / 2.2, 1.0, true}, {0.45455, 4.4, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(png_gamma_needs_correction(c.file_gamma, c.screen_gamma), c.corrected)
            << c.file_gamma << " x " << c.screen_gamma;
    }
}

TEST(PngTextureSide, NextPowerOfTwoCappedAtTheLargestPowerOfTwoAllowed) {
    const struct {
        uint32_t side;
        uint32_t max_texture_size;
        uint32_t expected;
    } cases[] = {
        {1, 16384, 1},
        {2, 16384, 2},
        {3, 16384, 4},
        {511, 16384, 512},
        {512, 16384, 512},
        {513, 16384, 1024},
        {16384, 16384, 16384},
        {16385, 16384, 16384},
        {65536, 16384, 16384},
        {65, 100, 64},
        {5, 100, 8},
        {40000, 2048, 2048},
        {7, 1, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(png_texture_side(c.side, c.max_texture_size), c.expected)
            << c.side << " within " << c.max_texture_size;
    }
}

TEST(PngDecode, SixteenBitChannelsAreRoundedToEightBits) {
    test_png image;
    image.width = 6;
    image.colour_type = PNG_COLOR_TYPE_GRAY;
    image.bit_depth = 16;
    image.samples = {0x0000, 0x0080, 0x0081, 0x80ff, 0xfe80, 0xffff};
    const std::vector<uint8_t> file = encode_test_png(image);
    png_pixels pixels = {};
    const char* reason = nullptr;
    ASSERT_TRUE(
        decode_png(file.data(), file.size(), display_gamma, generous_side, &pixels, &reason))
        << reason;
    const uint8_t expected[] = {0, 0, 1, 128, 254, 255};
    for (int x = 0; x < 6; ++x) {
        EXPECT_EQ(pixels.bytes[3 * x], expected[x]) << "sample " << image.samples[x];
    }
}

test_png small_rgba_png() {
    test_png image;
    image.width = 9;
    image.height = 7;
    image.colour_type = PNG_COLOR_TYPE_RGB_ALPHA;
    image.interlaced = true;
    fill_test_samples(&image, 3);
    return image;
}

TEST(PngDecode, EveryTruncationOfAValidFileFails) {
    const std::vector<uint8_t> file = encode_test_png(small_rgba_png());
    png_pixels pixels = {};
    const char* reason = nullptr;
    ASSERT_TRUE(
        decode_png(file.data(), file.size(), display_gamma, generous_side, &pixels, &reason));
    for (size_t length = 0; length < file.size(); ++length) {
        const std::vector<uint8_t> prefix(file.begin(), file.begin() + length);
        EXPECT_FALSE(decode_png(prefix.data(), prefix.size(), display_gamma, generous_side, &pixels,
                                &reason))
            << "first " << length << " of " << file.size() << " bytes";
        EXPECT_STRNE(reason, "");
    }
}

std::vector<uint8_t> with_idat_byte_flipped(bool fix_crc) {
    std::vector<uint8_t> file = encode_test_png(small_rgba_png());
    for (const png_chunk_at& chunk : list_png_chunks(file)) {
        if (chunk.type == "IDAT") {
            file[chunk.offset + 8 + chunk.length / 2] ^= 0x5a;
            if (fix_crc) {
                fix_png_crc(&file, chunk);
            }
            break;
        }
    }
    return file;
}

TEST(PngDecode, HostileFilesAreRefusedWithAReason) {
    const std::string text = "just some text, long enough to look like a header";
    const struct {
        const char* label;
        std::vector<uint8_t> bytes;
        uint32_t max_side;
    } cases[] = {
        {"empty", {}, generous_side},
        {"signature only", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'}, generous_side},
        {"not a PNG", std::vector<uint8_t>(text.begin(), text.end()), generous_side},
        {"image data CRC", with_idat_byte_flipped(false), generous_side},
        {"image data zlib stream", with_idat_byte_flipped(true), generous_side},
        {"100000 x 100000", header_only_png(100000, 100000), generous_side},
        {"100000 x 1", header_only_png(100000, 1), generous_side},
        {"too many pixels", header_only_png(8193, 4097), generous_side},
        {"side over the limit", header_only_png(300, 2), 256},
        {"zero width", header_only_png(0, 4), generous_side},
    };
    for (const auto& c : cases) {
        png_pixels pixels = {};
        const char* reason = nullptr;
        EXPECT_FALSE(
            decode_png(c.bytes.data(), c.bytes.size(), display_gamma, c.max_side, &pixels, &reason))
            << c.label;
        ASSERT_NE(reason, nullptr);
        EXPECT_STRNE(reason, "") << c.label;
        EXPECT_TRUE(pixels.bytes.empty()) << c.label;
    }
}

TEST(PngDecode, ARefusedSizeNamesTheLimit) {
    const std::vector<uint8_t> file = header_only_png(8193, 4097);
    png_pixels pixels = {};
    const char* reason = nullptr;
    ASSERT_FALSE(
        decode_png(file.data(), file.size(), display_gamma, generous_side, &pixels, &reason));
    EXPECT_NE(std::strstr(reason, "8193 x 4097"), nullptr) << reason;
}

// Random damage anywhere in a file must never crash or overrun (run under the
// sanitizers to make that visible); whatever decodes must be whole.
TEST(PngDecode, RandomlyDamagedFilesNeverCrash) {
    const std::vector<uint8_t> original = encode_test_png(small_rgba_png());
    uint32_t state = 12345;
    int decoded = 0;
    constexpr int attempts = 3000;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        std::vector<uint8_t> file = original;
        const int flips = 1 + attempt % 4;
        for (int f = 0; f < flips; ++f) {
            state = state * 1664525u + 1013904223u;
            file[(state >> 8) % file.size()] ^= uint8_t(1 + (state >> 24) % 255);
        }
        png_pixels pixels = {};
        const char* reason = nullptr;
        if (decode_png(file.data(), file.size(), display_gamma, generous_side, &pixels, &reason)) {
            ++decoded;
            EXPECT_EQ(pixels.bytes.size(),
                      size_t(pixels.width) * pixels.height * pixels.components);
        }
    }
    // CRCs reject nearly every damaged chunk; a few flips land where they do no harm.
    EXPECT_LT(decoded, attempts / 2);
}

} // namespace
