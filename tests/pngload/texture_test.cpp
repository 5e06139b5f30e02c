// Loading through GL: files written here, textures read back from llvmpipe with
// glGetTexImage and compared level by level with values computed on the CPU.
#include "pngload/png_texture.h"
#include "test_png.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
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

    static inline SDL_Window* window = nullptr;
    static inline SDL_GLContext context = nullptr;
    static inline GLint max_texture_size = 0;
};

GLuint load_texture(const test_png& image, png_image_info* info = nullptr) {
    png_image_info ignored = {};
    const std::string path = write_temp_file("image.png", encode_test_png(image));
    return bind_png_texture(path.c_str(), png_build_mipmaps, png_alpha, info ? info : &ignored,
                            GL_REPEAT, GL_NEAREST, GL_NEAREST);
}

// Samples from a fixed seed; palette images get a full palette of their depth.
test_png random_image(uint32_t width, uint32_t height, int colour_type = PNG_COLOR_TYPE_RGB,
                      int bit_depth = 8, bool interlaced = false) {
    test_png image;
    image.width = width;
    image.height = height;
    image.colour_type = colour_type;
    image.bit_depth = bit_depth;
    image.interlaced = interlaced;
    for (int i = 0; colour_type == PNG_COLOR_TYPE_PALETTE && i < (1 << bit_depth); ++i)
        image.palette.push_back({png_byte(i * 37 + 11), png_byte(255 - i * 13), png_byte(i * 101)});
    fill_test_samples(&image, width * 7 + height * 100 + colour_type * 10 + bit_depth);
    return image;
}

GLint level_parameter(GLint level, GLenum parameter) {
    GLint value = -1;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, parameter, &value);
    return value;
}

GLuint bound_texture() {
    GLint name = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &name);
    return GLuint(name);
}

// The bound texture's level, read back in `components` bytes a texel.
std::vector<uint8_t> read_level(GLint level, int components) {
    std::vector<uint8_t> bytes(size_t(level_parameter(level, GL_TEXTURE_WIDTH)) *
                               level_parameter(level, GL_TEXTURE_HEIGHT) * components);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, level, components == 4 ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE,
                  bytes.data());
    return bytes;
}

// The bound texture carries the wrapping and filters that load_texture asked for.
void expect_texture_set_up() {
    for (GLenum parameter :
         {GL_TEXTURE_WRAP_S, GL_TEXTURE_WRAP_T, GL_TEXTURE_MAG_FILTER, GL_TEXTURE_MIN_FILTER}) {
        GLint value = -1;
        glGetTexParameteriv(GL_TEXTURE_2D, parameter, &value);
        EXPECT_EQ(value, parameter == GL_TEXTURE_WRAP_S || parameter == GL_TEXTURE_WRAP_T
                             ? GL_REPEAT
                             : GL_NEAREST);
    }
}

TEST_F(PngTexture, EveryKindOfFileBecomesRgbOrRgbaTopRowFirst) {
    const struct {
        int colour_type, bit_depth;
        bool interlaced, transparency;
    } kinds[] = {
        {PNG_COLOR_TYPE_PALETTE, 8, true, false},     {PNG_COLOR_TYPE_PALETTE, 4, false, true},
        {PNG_COLOR_TYPE_PALETTE, 1, false, true},     {PNG_COLOR_TYPE_GRAY, 1, false, false},
        {PNG_COLOR_TYPE_GRAY, 2, false, false},       {PNG_COLOR_TYPE_GRAY, 8, false, true},
        {PNG_COLOR_TYPE_GRAY, 16, false, false},      {PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, false},
        {PNG_COLOR_TYPE_GRAY_ALPHA, 16, true, false}, {PNG_COLOR_TYPE_RGB, 8, false, true},
        {PNG_COLOR_TYPE_RGB, 16, false, false},       {PNG_COLOR_TYPE_RGB, 8, true, false},
        {PNG_COLOR_TYPE_RGB_ALPHA, 8, false, false},  {PNG_COLOR_TYPE_RGB_ALPHA, 16, true, false},
    };
    for (const auto& k : kinds) {
        SCOPED_TRACE(testing::Message()
                     << "colour type " << k.colour_type << ", depth " << k.bit_depth
                     << (k.interlaced ? ", interlaced" : "") << (k.transparency ? ", tRNS" : ""));
        test_png image = random_image(16, 8, k.colour_type, k.bit_depth, k.interlaced);
        if (k.transparency && k.colour_type == PNG_COLOR_TYPE_PALETTE) {
            image.palette_alpha.assign(image.palette.size(), 0);
        } else if (k.transparency) { // key out the first pixel's colour: it stays opaque
            image.colour_key = true;
            image.key = {0, image.samples[0], image.samples[1], image.samples[2], image.samples[0]};
        }
        const bool alpha = k.colour_type & PNG_COLOR_MASK_ALPHA;
        png_image_info info = {};
        const GLuint name = load_texture(image, &info);
        ASSERT_NE(name, 0u) << png_failure_reason();
        EXPECT_EQ(bound_texture(), name);
        expect_texture_set_up();
        EXPECT_EQ(level_parameter(0, GL_TEXTURE_RED_SIZE), 8);
        EXPECT_EQ(level_parameter(0, GL_TEXTURE_ALPHA_SIZE), alpha ? 8 : 0);
        EXPECT_EQ(read_level(0, alpha ? 4 : 3), expected_pixels(image));
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
        for (int x = 0; x < dw; ++x) {
            const int sx = int(std::floor((x + 0.5) * sw / dw));
            const int sy = int(std::floor((y + 0.5) * sh / dh));
            const uint8_t* texel = &source[(size_t(sy) * sw + sx) * components];
            out.insert(out.end(), texel, texel + components);
        }
    }
    return out;
}

// Level n + 1 from level n as the rounded mean of each 2 x 2 block (2 x 1 once a side
// is down to 1).
std::vector<uint8_t> mean_of_blocks(const std::vector<uint8_t>& level, int width, int height,
                                    int components) {
    const int step_x = width > 1 ? 2 : 1, step_y = height > 1 ? 2 : 1;
    std::vector<uint8_t> out;
    for (int y = 0; y < height; y += step_y) {
        for (int x = 0; x < width; x += step_x) {
            for (int c = 0; c < components; ++c) {
                double sum = 0;
                for (int dy = 0; dy < step_y; ++dy)
                    for (int dx = 0; dx < step_x; ++dx)
                        sum += level[(size_t(y + dy) * width + x + dx) * components + c];
                out.push_back(uint8_t(std::floor(sum / (step_x * step_y) + 0.5)));
            }
        }
    }
    return out;
}

TEST_F(PngTexture, SidesGrowByNearestNeighbourToPowersOfTwoAndMipsAverageTwoByTwo) {
    const struct {
        uint32_t width, height;
        int colour_type, texture_width, texture_height;
    } cases[] = {
        {3, 5, PNG_COLOR_TYPE_RGB, 4, 8},
        {5, 1, PNG_COLOR_TYPE_RGB, 8, 1},
        {1, 4, PNG_COLOR_TYPE_RGB, 1, 4},
        {16, 16, PNG_COLOR_TYPE_RGB, 16, 16},
        {33, 17, PNG_COLOR_TYPE_RGB_ALPHA, 64, 32},
        {100, 64, PNG_COLOR_TYPE_RGB, 128, 64},
        {6, 3, PNG_COLOR_TYPE_GRAY_ALPHA, 8, 4},
        // A side beyond the largest texture shrinks to it.
        {uint32_t(max_texture_size) + 1, 2, PNG_COLOR_TYPE_GRAY, max_texture_size, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        const test_png image = random_image(c.width, c.height, c.colour_type);
        png_image_info info = {};
        const GLuint name = load_texture(image, &info);
        ASSERT_NE(name, 0u) << png_failure_reason();
        EXPECT_EQ(info.width, c.width); // the file's own size
        EXPECT_EQ(info.height, c.height);
        const int components = c.colour_type & PNG_COLOR_MASK_ALPHA ? 4 : 3;
        int width = c.texture_width, height = c.texture_height, level = 0;
        std::vector<uint8_t> expected = nearest_resample(expected_pixels(image), int(c.width),
                                                         int(c.height), width, height, components);
        for (;; ++level) {
            SCOPED_TRACE(level);
            ASSERT_EQ(level_parameter(level, GL_TEXTURE_WIDTH), width);
            ASSERT_EQ(level_parameter(level, GL_TEXTURE_HEIGHT), height);
            EXPECT_EQ(read_level(level, components), expected);
            if (width * height == 1)
                break;
            expected = mean_of_blocks(expected, width, height, components);
            width = std::max(width / 2, 1);
            height = std::max(height / 2, 1);
        }
        if ((1 << (level + 1)) <= max_texture_size) { // a level GL allows at all
            EXPECT_EQ(level_parameter(level + 1, GL_TEXTURE_WIDTH), 0) << "a level past 1 x 1";
        }
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
        {0, nullptr, false, 0},        {0.47, nullptr, false, 0}, {1.0, nullptr, false, 1 / 2.2},
        {1.0, nullptr, true, 1 / 2.2}, // the colour-space chunk does not override gAMA
        {0, "2.2", false, 2.2},        {0, "1.1", false, 1.1},    {1.0, "2.2", false, 0},
        {1.0, "abc", false, 1 / 2.2},
    };
    test_png image;
    image.width = 256;
    image.colour_type = PNG_COLOR_TYPE_RGB_ALPHA;
    for (int v = 0; v < 256; ++v) {
        image.samples.insert(image.samples.end(),
                             {uint16_t(v), uint16_t(v), uint16_t(255 - v), uint16_t(255 - v)});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "gAMA " << c.file_gamma << ", VIEWING_GAMMA "
                     << (c.viewing_gamma ? c.viewing_gamma : "unset") << (c.srgb ? ", sRGB" : ""));
        if (c.viewing_gamma)
            setenv("VIEWING_GAMMA", c.viewing_gamma, 1);
        else
            unsetenv("VIEWING_GAMMA");
        image.gamma = c.file_gamma;
        image.srgb = c.srgb;
        const GLuint name = load_texture(image);
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
    const std::vector<uint8_t> good = encode_test_png(random_image(4, 4));
    std::vector<uint8_t> bad_crc = good;
    damage_image_data(&bad_crc, false);
    const std::string text = "hello";
    const struct {
        const char* label;
        std::string path;
        int mipmap_mode = png_build_mipmaps, alpha_mode = png_alpha;
    } cases[] = {
        {"missing", "/nonexistent/missing.png"},
        {"empty", write_temp_file("empty.png", {})},
        {"not a PNG", write_temp_file("text.png", std::vector<uint8_t>(text.begin(), text.end()))},
        {"truncated", write_temp_file("cut.png", {good.begin(), good.begin() + 40})},
        {"corrupt CRC", write_temp_file("crc.png", bad_crc)},
        {"100000 x 100000", write_temp_file("huge.png", header_only_png(100000, 100000))},
        {"unknown mipmap mode", write_temp_file("good.png", good), 3},
        {"unknown alpha mode", write_temp_file("good.png", good), png_build_mipmaps, 7},
    };
    GLuint previous = load_texture(random_image(4, 4));
    ASSERT_NE(previous, 0u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        png_image_info info = {};
        EXPECT_EQ(bind_png_texture(c.path.c_str(), c.mipmap_mode, c.alpha_mode, &info, GL_REPEAT,
                                   GL_NEAREST, GL_NEAREST),
                  0u);
        const GLuint name = bound_texture();
        EXPECT_NE(name, 0u);
        EXPECT_NE(name, previous);
        EXPECT_TRUE(glIsTexture(name)) << "the failed load's name is not deleted";
        EXPECT_TRUE(glIsTexture(previous)) << "earlier textures are untouched";
        expect_texture_set_up();
        const std::string reason = png_failure_reason();
        EXPECT_EQ(reason.rfind(c.path + ": ", 0), 0u) << reason;
        EXPECT_GT(reason.size(), c.path.size() + 2);
        previous = name;
    }
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    // A success afterwards clears the reason and leaves the caller's unpack alignment;
    // without mipmaps only the base level exists.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    png_image_info info = {};
    const std::string path = write_temp_file("good.png", good);
    EXPECT_NE(bind_png_texture(path.c_str(), 0, png_alpha, &info, GL_CLAMP, GL_LINEAR, GL_NEAREST),
              0u);
    EXPECT_STREQ(png_failure_reason(), "");
    GLint alignment = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 8);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    EXPECT_EQ(level_parameter(0, GL_TEXTURE_WIDTH), 4);
    EXPECT_EQ(level_parameter(1, GL_TEXTURE_WIDTH), 0);
}

} // namespace
