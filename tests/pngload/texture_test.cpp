// Loading through GL: files written here, textures read back from llvmpipe with
// glGetTexImage and compared level by level with values computed on the CPU.
#include "pngload/png_texture.h"
#include "test_png.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

class PngTexture : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        window =
            SDL_CreateWindow("pngload test", 0, 0, 64, 64, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        ASSERT_NE(window, nullptr) << SDL_GetError();
        context = SDL_GL_CreateContext(window);
        ASSERT_NE(context, nullptr) << SDL_GetError();
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_texture_size);
    }
    static void TearDownTestSuite() {
        SDL_GL_DeleteContext(context);
        SDL_DestroyWindow(window);
        SDL_Quit();
    }
    void SetUp() override {
        ASSERT_NE(context, nullptr);
        unsetenv("VIEWING_GAMMA");
    }

    static SDL_Window* window;
    static SDL_GLContext context;
    static GLint max_texture_size;
};
SDL_Window* PngTexture::window = nullptr;
SDL_GLContext PngTexture::context = nullptr;
GLint PngTexture::max_texture_size = 0;

GLuint load_texture(const std::string& path, png_image_info* info = nullptr) {
    png_image_info ignored = {};
    return bind_png_texture(path.c_str(), png_build_mipmaps, png_alpha, info ? info : &ignored,
                            GL_REPEAT, GL_NEAREST, GL_NEAREST);
}

GLint level_parameter(GLint level, GLenum parameter) {
    GLint value = -1;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, parameter, &value);
    return value;
}

GLint texture_parameter(GLenum parameter) {
    GLint value = -1;
    glGetTexParameteriv(GL_TEXTURE_2D, parameter, &value);
    return value;
}

GLuint bound_texture() {
    GLint name = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &name);
    return GLuint(name);
}

// The bound texture's level, read back in `components` bytes a texel.
std::vector<uint8_t> read_level(GLint level, int components) {
    const GLint width = level_parameter(level, GL_TEXTURE_WIDTH);
    const GLint height = level_parameter(level, GL_TEXTURE_HEIGHT);
    std::vector<uint8_t> bytes(size_t(width) * height * components);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, level, components == 4 ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE,
                  bytes.data());
    return bytes;
}

void expect_texture_set_up(GLuint name) {
    EXPECT_EQ(bound_texture(), name);
    EXPECT_EQ(texture_parameter(GL_TEXTURE_WRAP_S), GL_REPEAT);
    EXPECT_EQ(texture_parameter(GL_TEXTURE_WRAP_T), GL_REPEAT);
    EXPECT_EQ(texture_parameter(GL_TEXTURE_MAG_FILTER), GL_NEAREST);
    EXPECT_EQ(texture_parameter(GL_TEXTURE_MIN_FILTER), GL_NEAREST);
}

std::vector<png_color> test_palette(int entries) {
    std::vector<png_color> palette(entries);
    for (int i = 0; i < entries; ++i) {
        palette[i] = {png_byte(i * 37 + 11), png_byte(255 - i * 13), png_byte(i * 101)};
    }
    return palette;
}

TEST_F(PngTexture, EveryKindOfFileBecomesRgbOrRgbaTopRowFirst) {
    struct kind {
        const char* label;
        int colour_type;
        int bit_depth;
        bool interlaced;
        int palette_entries;
        bool transparency;
    };
    const kind kinds[] = {
        {"palette 8", PNG_COLOR_TYPE_PALETTE, 8, false, 200, false},
        {"palette 4 with tRNS", PNG_COLOR_TYPE_PALETTE, 4, false, 16, true},
        {"palette 1 with tRNS", PNG_COLOR_TYPE_PALETTE, 1, false, 2, true},
        {"grey 1", PNG_COLOR_TYPE_GRAY, 1, false, 0, false},
        {"grey 2", PNG_COLOR_TYPE_GRAY, 2, false, 0, false},
        {"grey 4", PNG_COLOR_TYPE_GRAY, 4, false, 0, false},
        {"grey 8 with tRNS", PNG_COLOR_TYPE_GRAY, 8, false, 0, true},
        {"grey 16", PNG_COLOR_TYPE_GRAY, 16, false, 0, false},
        {"grey+alpha 8", PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, 0, false},
        {"grey+alpha 16", PNG_COLOR_TYPE_GRAY_ALPHA, 16, false, 0, false},
        {"RGB 8", PNG_COLOR_TYPE_RGB, 8, false, 0, false},
        {"RGB 8 with tRNS", PNG_COLOR_TYPE_RGB, 8, false, 0, true},
        {"RGB 16", PNG_COLOR_TYPE_RGB, 16, false, 0, false},
        {"RGB 8 interlaced", PNG_COLOR_TYPE_RGB, 8, true, 0, false},
        {"RGBA 8", PNG_COLOR_TYPE_RGB_ALPHA, 8, false, 0, false},
        {"RGBA 16 interlaced", PNG_COLOR_TYPE_RGB_ALPHA, 16, true, 0, false},
        {"palette 8 interlaced", PNG_COLOR_TYPE_PALETTE, 8, true, 60, false},
    };
    uint32_t seed = 1;
    for (const kind& k : kinds) {
        SCOPED_TRACE(k.label);
        test_png image;
        image.width = 16;
        image.height = 8;
        image.colour_type = k.colour_type;
        image.bit_depth = k.bit_depth;
        image.interlaced = k.interlaced;
        image.palette = test_palette(k.palette_entries);
        fill_test_samples(&image, seed++);
        if (k.transparency && k.colour_type == PNG_COLOR_TYPE_PALETTE) {
            image.palette_alpha.assign(image.palette.size(), 0);
        } else if (k.transparency) {
            // Key out the first pixel's colour: it must still come out opaque.
            image.colour_key = true;
            image.key.gray = image.samples[0];
            image.key.red = image.samples[0];
            image.key.green = image.samples[1];
            image.key.blue = image.samples[2];
        }
        const bool alpha =
            k.colour_type == PNG_COLOR_TYPE_GRAY_ALPHA || k.colour_type == PNG_COLOR_TYPE_RGB_ALPHA;
        const std::string path = write_temp_file("kind.png", encode_test_png(image));

        png_image_info info = {};
        const GLuint name = load_texture(path, &info);
        ASSERT_NE(name, 0u) << png_failure_reason();
        EXPECT_STREQ(png_failure_reason(), "");
        expect_texture_set_up(name);
        EXPECT_EQ(level_parameter(0, GL_TEXTURE_WIDTH), 16);
        EXPECT_EQ(level_parameter(0, GL_TEXTURE_HEIGHT), 8);
        EXPECT_EQ(level_parameter(0, GL_TEXTURE_RED_SIZE), 8);
        EXPECT_EQ(level_parameter(0, GL_TEXTURE_ALPHA_SIZE), alpha ? 8 : 0);
        EXPECT_EQ(read_level(0, alpha ? 4 : 3), expected_pixels(image));
        EXPECT_EQ(info.width, 16u);
        EXPECT_EQ(info.height, 8u);
        EXPECT_EQ(info.depth, uint32_t(k.bit_depth));
        EXPECT_EQ(info.alpha, alpha ? 8u : 0u);
        glDeleteTextures(1, &name);
    }
}

// Nearest neighbour computed independently: the source texel whose area holds the
// destination texel's centre.
std::vector<uint8_t> nearest_resample(const std::vector<uint8_t>& source, int sw, int sh, int dw,
                                      int dh, int components) {
    std::vector<uint8_t> out;
    for (int y = 0; y < dh; ++y) {
        const int sy = int(std::floor((y + 0.5) * sh / dh));
        for (int x = 0; x < dw; ++x) {
            const int sx = int(std::floor((x + 0.5) * sw / dw));
            const uint8_t* texel = &source[(size_t(sy) * sw + sx) * components];
            out.insert(out.end(), texel, texel + components);
        }
    }
    return out;
}

TEST_F(PngTexture, NonPowerOfTwoSidesGrowByNearestNeighbour) {
    const struct {
        uint32_t width, height;
        int expected_width, expected_height;
    } sizes[] = {
        {3, 5, 4, 8}, {5, 1, 8, 1}, {1, 3, 1, 4}, {33, 17, 64, 32}, {100, 64, 128, 64},
    };
    for (const auto& s : sizes) {
        SCOPED_TRACE(std::to_string(s.width) + " x " + std::to_string(s.height));
        test_png image;
        image.width = s.width;
        image.height = s.height;
        fill_test_samples(&image, s.width * 7 + s.height);
        png_image_info info = {};
        const GLuint name = load_texture(write_temp_file("odd.png", encode_test_png(image)), &info);
        ASSERT_NE(name, 0u) << png_failure_reason();
        ASSERT_EQ(level_parameter(0, GL_TEXTURE_WIDTH), s.expected_width);
        ASSERT_EQ(level_parameter(0, GL_TEXTURE_HEIGHT), s.expected_height);
        EXPECT_EQ(read_level(0, 3),
                  nearest_resample(expected_pixels(image), int(s.width), int(s.height),
                                   s.expected_width, s.expected_height, 3));
        EXPECT_EQ(info.width, s.width);
        EXPECT_EQ(info.height, s.height);
        glDeleteTextures(1, &name);
    }
}

TEST_F(PngTexture, ASideBeyondTheLargestTextureShrinksToIt) {
    test_png image;
    image.width = uint32_t(max_texture_size) + 1;
    image.height = 2;
    image.colour_type = PNG_COLOR_TYPE_GRAY;
    fill_test_samples(&image, 9);
    png_image_info info = {};
    const GLuint name = load_texture(write_temp_file("wide.png", encode_test_png(image)), &info);
    ASSERT_NE(name, 0u) << png_failure_reason();
    EXPECT_EQ(level_parameter(0, GL_TEXTURE_WIDTH), max_texture_size);
    EXPECT_EQ(level_parameter(0, GL_TEXTURE_HEIGHT), 2);
    EXPECT_EQ(info.width, uint32_t(max_texture_size) + 1);
    EXPECT_EQ(read_level(0, 3), nearest_resample(expected_pixels(image), int(image.width), 2,
                                                 max_texture_size, 2, 3));
    glDeleteTextures(1, &name);
}

// Level n + 1 from level n as the mean of each 2 x 2 block (a side of 1 stays 1),
// rounded to nearest, computed in floating point.
std::vector<uint8_t> mean_of_blocks(const std::vector<uint8_t>& level, int width, int height,
                                    int components) {
    const int half_width = std::max(width / 2, 1);
    const int half_height = std::max(height / 2, 1);
    std::vector<uint8_t> out;
    for (int y = 0; y < half_height; ++y) {
        for (int x = 0; x < half_width; ++x) {
            for (int c = 0; c < components; ++c) {
                double sum = 0;
                int count = 0;
                for (int dy = 0; dy < std::min(height, 2); ++dy) {
                    for (int dx = 0; dx < std::min(width, 2); ++dx) {
                        sum += level[(size_t(2 * y + dy) * width + 2 * x + dx) * components + c];
                        ++count;
                    }
                }
                out.push_back(uint8_t(std::floor(sum / count + 0.5)));
            }
        }
    }
    return out;
}

TEST_F(PngTexture, MipChainAveragesTwoByTwoDownToOneTexel) {
    const struct {
        uint32_t width, height;
        int colour_type;
        int levels;
    } cases[] = {
        {8, 4, PNG_COLOR_TYPE_RGB_ALPHA, 4},
        {1, 4, PNG_COLOR_TYPE_RGB, 3},
        {16, 16, PNG_COLOR_TYPE_RGB, 5},
        {6, 3, PNG_COLOR_TYPE_GRAY_ALPHA, 4}, // resized to 8 x 4 first
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        test_png image;
        image.width = c.width;
        image.height = c.height;
        image.colour_type = c.colour_type;
        fill_test_samples(&image, c.width + 100 * c.height);
        const GLuint name = load_texture(write_temp_file("mips.png", encode_test_png(image)));
        ASSERT_NE(name, 0u) << png_failure_reason();
        const int components = c.colour_type == PNG_COLOR_TYPE_RGB ? 3 : 4;
        std::vector<uint8_t> expected = read_level(0, components);
        int width = level_parameter(0, GL_TEXTURE_WIDTH);
        int height = level_parameter(0, GL_TEXTURE_HEIGHT);
        for (int level = 1; level < c.levels; ++level) {
            expected = mean_of_blocks(expected, width, height, components);
            width = std::max(width / 2, 1);
            height = std::max(height / 2, 1);
            ASSERT_EQ(level_parameter(level, GL_TEXTURE_WIDTH), width) << "level " << level;
            ASSERT_EQ(level_parameter(level, GL_TEXTURE_HEIGHT), height) << "level " << level;
            EXPECT_EQ(read_level(level, components), expected) << "level " << level;
        }
        EXPECT_EQ(width * height, 1);
        EXPECT_EQ(level_parameter(c.levels, GL_TEXTURE_WIDTH), 0) << "a level past 1 x 1";
        glDeleteTextures(1, &name);
    }
}

TEST_F(PngTexture, GammaCorrectsOnlyWhenFileAndScreenDisagree) {
    const struct {
        double file_gamma; // 0: no gAMA chunk
        const char* viewing_gamma;
        bool srgb;
        double exponent; // 0: pixels pass unchanged
    } cases[] = {
        {0, nullptr, false, 0},
        {1 / 2.2, nullptr, false, 0},
        {0.47, nullptr, false, 0},
        {1.0, nullptr, false, 1 / 2.2},
        {0.5, nullptr, false, 1 / 1.1},
        {1.0, nullptr, true, 1 / 2.2}, // the colour-space chunk does not override gAMA
        {0, "2.2", false, 2.2},
        {0, "1.1", false, 1.1},
        {1.0, "2.2", false, 0},
        {1.0, "abc", false, 1 / 2.2},
        {0, "abc", false, 0},
        {0, "0", false, 0},
        {0, "-1", false, 0},
        {0, "inf", false, 0},
        {0, "nan", false, 0},
        {0, "", false, 0},
    };
    test_png image;
    image.width = 256;
    image.colour_type = PNG_COLOR_TYPE_RGB_ALPHA;
    for (int v = 0; v < 256; ++v) {
        image.samples.insert(image.samples.end(),
                             {uint16_t(v), uint16_t(v), uint16_t(255 - v), uint16_t(255 - v)});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("gAMA ") + std::to_string(c.file_gamma) + ", VIEWING_GAMMA " +
                     (c.viewing_gamma ? c.viewing_gamma : "unset") + (c.srgb ? ", sRGB" : ""));
        if (c.viewing_gamma) {
            setenv("VIEWING_GAMMA", c.viewing_gamma, 1);
        } else {
            unsetenv("VIEWING_GAMMA");
        }
        image.gamma = c.file_gamma;
        image.srgb = c.srgb;
        const GLuint name = load_texture(write_temp_file("gamma.png", encode_test_png(image)));
        ASSERT_NE(name, 0u) << png_failure_reason();
        const std::vector<uint8_t> texels = read_level(0, 4);
        // Within one step of the exact power law (libpng works from its own tables).
        auto corrected = [&](int v) {
            return c.exponent > 0 ? std::floor(255 * std::pow(v / 255.0, c.exponent) + 0.5) : v;
        };
        double worst = 0;
        for (int v = 0; v < 256; ++v) {
            worst = std::max(worst, std::fabs(texels[4 * v] - corrected(v)));
            worst = std::max(worst, std::fabs(texels[4 * v + 2] - corrected(255 - v)));
            EXPECT_EQ(texels[4 * v + 3], 255 - v) << "alpha is never corrected";
        }
        EXPECT_LE(worst, 1);
        glDeleteTextures(1, &name);
    }
    unsetenv("VIEWING_GAMMA");
}

TEST_F(PngTexture, FailuresReturnZeroAndLeaveTheNewNameBound) {
    test_png good;
    good.width = 4;
    good.height = 4;
    fill_test_samples(&good, 5);
    std::vector<uint8_t> bad_crc = encode_test_png(good);
    for (const png_chunk_at& chunk : list_png_chunks(bad_crc)) {
        if (chunk.type == "IDAT") {
            bad_crc[chunk.offset + 9] ^= 0xff;
        }
    }
    const std::vector<uint8_t> complete = encode_test_png(good);
    const std::string text = "hello";
    const struct {
        const char* label;
        std::string path;
    } cases[] = {
        {"missing", "/nonexistent/missing.png"},
        {"empty", write_temp_file("empty.png", {})},
        {"not a PNG", write_temp_file("text.png", std::vector<uint8_t>(text.begin(), text.end()))},
        {"truncated",
         write_temp_file("cut.png", std::vector<uint8_t>(complete.begin(), complete.begin() + 40))},
        {"corrupt CRC", write_temp_file("crc.png", bad_crc)},
        {"100000 x 100000", write_temp_file("huge.png", header_only_png(100000, 100000))},
    };
    GLuint previous = load_texture(write_temp_file("good.png", complete));
    ASSERT_NE(previous, 0u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(load_texture(c.path), 0u);
        const GLuint name = bound_texture();
        EXPECT_NE(name, 0u);
        EXPECT_NE(name, previous);
        EXPECT_TRUE(glIsTexture(name)) << "the failed load's name is not deleted";
        EXPECT_TRUE(glIsTexture(previous)) << "earlier textures are untouched";
        expect_texture_set_up(name);
        const std::string reason = png_failure_reason();
        EXPECT_EQ(reason.rfind(c.path + ": ", 0), 0u) << reason;
        EXPECT_GT(reason.size(), c.path.size() + 2);
        previous = name;
    }
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    // A success afterwards clears the reason and leaves the caller's unpack alignment.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    EXPECT_NE(load_texture(write_temp_file("good.png", complete)), 0u);
    EXPECT_STREQ(png_failure_reason(), "");
    GLint alignment = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 8);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
}

TEST_F(PngTexture, WithoutMipmapsOnlyTheBaseLevelAndUnknownModesAreRefused) {
    test_png image;
    image.width = 4;
    image.height = 4;
    fill_test_samples(&image, 21);
    const std::string path = write_temp_file("modes.png", encode_test_png(image));
    png_image_info info = {};
    const GLuint single =
        bind_png_texture(path.c_str(), 0, png_alpha, &info, GL_CLAMP, GL_LINEAR, GL_NEAREST);
    ASSERT_NE(single, 0u) << png_failure_reason();
    EXPECT_EQ(texture_parameter(GL_TEXTURE_WRAP_S), GL_CLAMP);
    EXPECT_EQ(texture_parameter(GL_TEXTURE_MIN_FILTER), GL_LINEAR);
    EXPECT_EQ(texture_parameter(GL_TEXTURE_MAG_FILTER), GL_NEAREST);
    EXPECT_EQ(level_parameter(0, GL_TEXTURE_WIDTH), 4);
    EXPECT_EQ(level_parameter(1, GL_TEXTURE_WIDTH), 0);
    glDeleteTextures(1, &single);

    const struct {
        int mipmap_mode;
        int alpha_mode;
    } unknown[] = {{3, png_alpha}, {png_build_mipmaps, 0}, {png_build_mipmaps, 7}};
    for (const auto& u : unknown) {
        EXPECT_EQ(bind_png_texture(path.c_str(), u.mipmap_mode, u.alpha_mode, &info, GL_REPEAT,
                                   GL_NEAREST, GL_NEAREST),
                  0u);
        EXPECT_NE(std::string(png_failure_reason()).find("unsupported"), std::string::npos);
        EXPECT_NE(bound_texture(), 0u);
    }
}

} // namespace
