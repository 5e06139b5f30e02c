// The loader's GL-free half: gamma rule, texture sides, and hostile input.
#include "pngload/png_decode.h"
#include "test_png.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr double display_gamma = 2.2;
constexpr uint32_t generous_side = 65536;

TEST(PngGamma, ViewingGammaDividesTheDisplayGammaGarbageCountsAsUnset) {
    const struct {
        const char* env;
        double expected;
    } cases[] = {
        {nullptr, display_gamma}, {"", display_gamma},
        {"abc", display_gamma},   {"0", display_gamma},
        {"-1", display_gamma},    {"inf", display_gamma},
        {"nan", display_gamma},   {"1.1x", display_gamma},
        {"1e400", display_gamma}, {"1e-400", display_gamma},
        {"1000", display_gamma},  {"2.2", 1.0},
        {" 1.1 ", 2.0},           {"0.5", 4.4},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(png_screen_gamma(c.env), c.expected) << (c.env ? c.env : "(unset)");
    // Corrected only when file gamma times screen gamma strays more than 0.05 from 1.
    const struct {
        double file_gamma, screen_gamma;
        bool corrected;
    } products[] = {
        {1 / 2.2, 2.2, false}, {0.47, 2.2, false}, {0.44, 2.2, false}, {0.48, 2.2, true},
        {0.43, 2.2, true},     {1.0, 2.2, true},   {1.0, 1.0, false},  {1 / 2.2, 1.0, true},
    };
    for (const auto& c : products) {
        EXPECT_EQ(png_gamma_needs_correction(c.file_gamma, c.screen_gamma), c.corrected)
            << c.file_gamma << " x " << c.screen_gamma;
    }
}

std::vector<uint8_t> small_rgba_file() {
    test_png image;
    image.width = 9;
    image.height = 7;
    image.colour_type = PNG_COLOR_TYPE_RGB_ALPHA;
    image.interlaced = true;
    fill_test_samples(&image, 3);
    return encode_test_png(image);
}

bool decode(const std::vector<uint8_t>& file, png_pixels* pixels, const char** reason,
            uint32_t max_side = generous_side) {
    return decode_png(file.data(), file.size(), display_gamma, max_side, pixels, reason);
}

TEST(PngDecode, HostileFilesAreRefusedWithAReason) {
    const std::string text = "just some text, long enough to look like a header";
    std::vector<uint8_t> bad_crc = small_rgba_file(), bad_zlib = bad_crc;
    damage_image_data(&bad_crc, false);
    damage_image_data(&bad_zlib, true);
    const struct {
        const char* label;
        std::vector<uint8_t> bytes;
        uint32_t max_side;
        const char* reason_names; // part of the reason, when it must name something
    } cases[] = {
        {"empty", {}, generous_side, nullptr},
        {"signature only", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'}, generous_side, nullptr},
        {"not a PNG", std::vector<uint8_t>(text.begin(), text.end()), generous_side, nullptr},
        {"image data CRC", bad_crc, generous_side, nullptr},
        {"image data zlib stream", bad_zlib, generous_side, nullptr},
        {"100000 x 100000", header_only_png(100000, 100000), generous_side, nullptr},
        {"100000 x 1", header_only_png(100000, 1), generous_side, nullptr},
        {"too many pixels", header_only_png(8193, 4097), generous_side, "8193 x 4097"},
        {"side over the limit", header_only_png(300, 2), 256, nullptr},
        {"zero width", header_only_png(0, 4), generous_side, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        png_pixels pixels = {};
        const char* reason = nullptr;
        EXPECT_FALSE(decode(c.bytes, &pixels, &reason, c.max_side));
        ASSERT_NE(reason, nullptr);
        EXPECT_STRNE(reason, "");
        EXPECT_TRUE(pixels.bytes.empty());
        if (c.reason_names) {
            EXPECT_NE(std::strstr(reason, c.reason_names), nullptr) << reason;
        }
    }
}

TEST(PngDecode, EveryTruncationOfAValidFileFails) {
    const std::vector<uint8_t> file = small_rgba_file();
    png_pixels pixels = {};
    const char* reason = nullptr;
    ASSERT_TRUE(decode(file, &pixels, &reason)) << reason;
    for (size_t length = 0; length < file.size(); ++length) {
        EXPECT_FALSE(decode({file.begin(), file.begin() + length}, &pixels, &reason))
            << "first " << length << " of " << file.size() << " bytes";
        EXPECT_STRNE(reason, "");
    }
}

} // namespace
