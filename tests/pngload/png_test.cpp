// The PNG loader on files written here: every kind decoded to the texture's first
// level, hostile files refused with a reason, and a large image as a real texture on
// llvmpipe, read back.
#include "platform/gl_surface.h"
#include "pngload/png_decode.h"
#include "pngload/png_texture.h"

#include <SDL.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

// libpng's gamma correction rounds through its own tables: a level either side.
constexpr int gamma_rounding_levels = 1;

using bytes = std::vector<uint8_t>;

static void put_be32(bytes& out, uint64_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(value >> shift));
}

static void put_chunk(bytes& file, const char* type, const bytes& data) {
    put_be32(file, data.size());
    const size_t start = file.size();
    file.insert(file.end(), type, type + 4);
    file.insert(file.end(), data.begin(), data.end());
    put_be32(file, crc32(0, &file[start], uInt(file.size() - start)));
}

// A PNG from rows of bytes as the file stores them. Marked interlaced, the rows must be
// what Adam7 makes of them (a 1 x 1 image's are the same). Chunks in extra go first.
static bytes make_png(uint32_t width, uint32_t height, int depth, int colour_type,
                      const std::vector<bytes>& rows, bool interlaced = false,
                      const std::vector<std::pair<const char*, bytes>>& extra = {}) {
    bytes file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'}, header, raw;
    put_be32(header, width);
    put_be32(header, height);
    header.insert(header.end(), {uint8_t(depth), uint8_t(colour_type), 0, 0, interlaced});
    put_chunk(file, "IHDR", header);
    for (const auto& [type, data] : extra)
        if (!data.empty())
            put_chunk(file, type, data);
    for (const bytes& row : rows) {
        raw.push_back(0); // no filter
        raw.insert(raw.end(), row.begin(), row.end());
    }
    bytes packed(compressBound(uLong(raw.size())));
    uLongf packed_size = uLongf(packed.size());
    compress2(packed.data(), &packed_size, raw.data(), uLong(raw.size()), 1);
    packed.resize(packed_size);
    put_chunk(file, "IDAT", packed);
    put_chunk(file, "IEND", {});
    return file;
}

// The reason a decode with the texture limit given fails, "" when it succeeds.
static std::string decode(const bytes& file, decoded_png* out, uint32_t max_texture_size = 64) {
    const char* reason = "";
    decode_png(file.data(), file.size(), png_screen_gamma(nullptr), max_texture_size, out, &reason);
    return reason;
}

// One row of pixels of each kind, and the texture's first level made of it.
TEST(PngDecode, EveryKindOfFileBecomesRgbOrRgbaAtPowerOfTwoSides) {
    const struct {
        const char* name;
        uint32_t width, depth, type;
        bytes row, texture, plte = {}, trns = {}, gama = {};
        bool interlaced = false;
    } rows[] = {
        {"grey 1-bit", 2, 1, 0, {0x80}, {255, 255, 255, 0, 0, 0}},
        {"grey 16-bit, rounded", 2, 16, 0, {0x12, 0x34, 0xff, 0x00}, {18, 18, 18, 254, 254, 254}},
        {"grey and alpha", 2, 8, 4, {10, 20, 30, 40}, {10, 10, 10, 20, 30, 30, 30, 40}},
        {"palette, its tRNS ignored", 2, 8, 3, {1, 0}, {6, 5, 4, 9, 8, 7}, {9, 8, 7, 6, 5, 4}, {0}},
        {"RGB, key ignored",
         2,
         8,
         2,
         {1, 2, 3, 4, 5, 6},
         {1, 2, 3, 4, 5, 6},
         {},
         {0, 1, 0, 2, 0, 3}},
        {"RGB interlaced", 1, 8, 2, {1, 2, 3}, {1, 2, 3}, {}, {}, {}, true},
        // A linear file on a 2.2 display: 255 * (v / 255)^(1 / 2.2).
        {"linear", 2, 8, 0, {64, 128}, {136, 136, 136, 186, 186, 186}, {}, {}, {0, 1, 0x86, 0xa0}},
        // Three pixels become four, each picking the one under its centre.
        {"three wide", 3, 8, 0, {10, 20, 30}, {10, 10, 10, 20, 20, 20, 20, 20, 20, 30, 30, 30}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const bytes file = make_png(row.width, 1, row.depth, row.type, {row.row}, row.interlaced,
                                    {{"PLTE", row.plte}, {"tRNS", row.trns}, {"gAMA", row.gama}});
        decoded_png image = {};
        EXPECT_EQ(decode(file, &image), "");
        ASSERT_EQ(image.level.bytes.size(), row.texture.size());
        for (size_t i = 0; i < row.texture.size(); ++i)
            EXPECT_NEAR(image.level.bytes[i], row.texture[i], gamma_rounding_levels) << i;
    }
}

TEST(PngDecode, HostileFilesAreRefusedWithAReasonBeforeAnythingLarge) {
    const bytes good = make_png(2, 2, 8, 2, {bytes(6, 1), bytes(6, 2)});
    bytes damaged = good;
    damaged[damaged.size() - 20] ^= 1;
    const struct {
        const char *name, *reason;
        bytes file;
        uint32_t max_texture_size;
    } rows[] = {
        {"empty", "not a PNG file", {}, 64},
        {"truncated", "truncated", bytes(good.begin(), good.begin() + good.size() / 2), 64},
        {"damaged pixels", "data check", damaged, 64},
        {"2^30 x 2^30", "IHDR", make_png(1u << 30, 1u << 30, 8, 2, {}), 1 << 14},
        {"wider than four textures", "IHDR", make_png(257, 1, 8, 0, {bytes(257)}), 64},
        {"16385 x 16385", "too large", make_png(16385, 16385, 8, 0, {}), 1 << 14},
        {"interlaced 8192 x 8192", "too large", make_png(8192, 8192, 8, 2, {}, true), 1 << 14},
    };
    for (const auto& row : rows) {
        decoded_png image = {};
        const std::string reason = decode(row.file, &image, row.max_texture_size);
        EXPECT_NE(reason.find(row.reason), std::string::npos) << row.name << ": " << reason;
        EXPECT_TRUE(image.level.bytes.empty()) << row.name;
    }
}

// 16384 x 512 grey, (x + 3 y) mod 251, loaded through GL on an offscreen context.
TEST(PngTexture, ALargeImageBecomesATextureOfTheGlLimitWithAFullMipChain) {
    ASSERT_TRUE(open_offscreen_gl("vornhal-test-pngload", 64, 64));
    constexpr uint32_t width = 16384, height = 512;
    std::vector<bytes> rows(height, bytes(width));
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            rows[y][x] = uint8_t((x + 3 * y) % 251);
    const std::string path = testing::TempDir() + "large.png";
    const bytes file = make_png(width, height, 8, 0, rows);
    std::ofstream(path, std::ios::binary)
        .write((const char*)file.data(), std::streamsize(file.size()));

    GLint limit = 0, level_width = 0, last_width = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &limit);
    ASSERT_NE(load_png_texture(path.c_str()), 0u) << png_failure_reason();
    std::remove(path.c_str());
    const uint32_t side = std::min<uint32_t>(width, uint32_t(limit)); // both powers of two
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &level_width);
    EXPECT_EQ(uint32_t(level_width), side);
    bytes texels(size_t(side) * height * 3);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
    for (uint32_t y = 0; y < height; y += 37)
        for (uint32_t x = 0; x < side; ++x) // each texel picks the column under its centre
            ASSERT_EQ(texels[(size_t(y) * side + x) * 3],
                      rows[y][(2 * x + 1) * width / (2 * side)]);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, int(std::log2(side)), GL_TEXTURE_WIDTH, &last_width);
    EXPECT_EQ(last_width, 1) << "the mip chain goes down to 1 x 1";
    SDL_Quit();
}
