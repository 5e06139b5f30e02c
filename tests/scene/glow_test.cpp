// The glow on llvmpipe against a CPU reference of its passes, run on the very frame
// the GL saw, plus uniform greys whose result can be worked out by hand.
#include "gl_test_context.h"

#include <GL/glext.h>
#include <algorithm>
#include <cmath>

namespace {

// 8-bit colour buffer: every pass rounds to the nearest level and saturates.
double quantise(double level) {
    return std::min(255.0, std::floor(level + 0.5));
}

struct glow_passes {
    int steps;      // one-texel steps on each side of the box
    int multiplies; // times the reduced frame is multiplied into itself
    double weight;  // each tap's weight
    int layers;     // blurred layers in the composite
};

// One channel plane, rows bottom first as GL stores them.
struct plane {
    int width, height;
    std::vector<double> v;
    double& at(int x, int y) { return v[static_cast<size_t>(y) * width + x]; }
    double clamped(int x, int y) const {
        x = std::clamp(x, 0, width - 1);
        y = std::clamp(y, 0, height - 1);
        return v[static_cast<size_t>(y) * width + x];
    }
};

// The glow worked out on the CPU from the frame (one channel, levels 0..255); the
// blurred half-size image is left in *blurred_out when asked for.
plane reference_glow(const plane& frame, const glow_passes& passes, plane* blurred_out = nullptr) {
    const int hw = frame.width / 2, hh = frame.height / 2;
    plane reduced{hw, hh, std::vector<double>(static_cast<size_t>(hw) * hh)};
    for (int y = 0; y < hh; ++y)
        for (int x = 0; x < hw; ++x)
            reduced.at(x, y) =
                quantise((frame.clamped(2 * x, 2 * y) + frame.clamped(2 * x + 1, 2 * y) +
                          frame.clamped(2 * x, 2 * y + 1) + frame.clamped(2 * x + 1, 2 * y + 1)) /
                         4.0);
    plane bright = reduced;
    for (int k = 0; k < passes.multiplies; ++k)
        for (size_t i = 0; i < bright.v.size(); ++i)
            bright.v[i] = quantise(bright.v[i] * reduced.v[i] / 255.0);

    // The tap weight reaches the blender as the fragment's alpha, an 8-bit level like
    // every colour in this pipeline (1/7 becomes 36/255).
    const double weight = std::floor(passes.weight * 255.0 + 0.5) / 255.0;
    auto box = [&](const plane& in, int dx, int dy) {
        plane out = in;
        for (int y = 0; y < hh; ++y)
            for (int x = 0; x < hw; ++x) {
                double sum = quantise(weight * in.clamped(x, y));
                for (int i = 1; i <= passes.steps; ++i) {
                    sum = quantise(sum + weight * in.clamped(x - i * dx, y - i * dy));
                    sum = quantise(sum + weight * in.clamped(x + i * dx, y + i * dy));
                }
                out.at(x, y) = sum;
            }
        return out;
    };
    const plane blurred = box(box(bright, 1, 0), 0, 1);
    if (blurred_out)
        *blurred_out = blurred;

    plane out = frame;
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            // Enlarged 2:1 with linear filtering: each pixel lies a quarter texel from
            // its nearest half-size texel.
            const double sx = x / 2.0 - 0.25, sy = y / 2.0 - 0.25;
            const int x0 = static_cast<int>(std::floor(sx)), y0 = static_cast<int>(std::floor(sy));
            const double fx = sx - x0, fy = sy - y0;
            const double enlarged = quantise((1 - fx) * (1 - fy) * blurred.clamped(x0, y0) +
                                             fx * (1 - fy) * blurred.clamped(x0 + 1, y0) +
                                             (1 - fx) * fy * blurred.clamped(x0, y0 + 1) +
                                             fx * fy * blurred.clamped(x0 + 1, y0 + 1));
            double sum = enlarged;
            for (int layer = 1; layer < passes.layers; ++layer)
                sum = quantise(sum + enlarged);
            out.at(x, y) = quantise(sum + frame.clamped(x, y));
        }
    return out;
}

// Channel c of the back buffer, or of the glow's half-size texture, rows bottom first.
plane read_plane(int c, bool half_texture = false) {
    const int width = half_texture ? 400 : 800, height = half_texture ? 300 : 600;
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    if (half_texture) {
        glBindTexture(GL_TEXTURE_RECTANGLE_ARB, blur_half_texture);
        glGetTexImage(GL_TEXTURE_RECTANGLE_ARB, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    } else {
        glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    }
    plane p{width, height, std::vector<double>(rgb.size() / 3)};
    for (size_t i = 0; i < p.v.size(); ++i)
        p.v[i] = rgb[i * 3 + c];
    return p;
}

class GlowTest : public GlSceneTest {};

TEST_F(GlowTest, MatchesTheCpuReferenceOnARealFrame) {
    // A picture with hard edges, fine detail and every level: a gradient background
    // with a checker, black bars and both overlays.
    std::vector<uint8_t> texels;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            texels.push_back(static_cast<uint8_t>(x * 4));
            texels.push_back(static_cast<uint8_t>(y * 4));
            texels.push_back(((x / 4 + y / 4) % 2) ? 255 : 40);
        }
    bg_texture = make_texture(64, 64, texels);
    fg_texture = make_solid_texture(255, 200, 100);
    scroll_texture = make_texture(2, 1, {255, 255, 255, 0, 0, 0});

    const struct {
        float radius, multiply_passes, strength, gain;
        glow_passes expected; // worked out by hand from the parameters
    } cases[] = {
        {3.0f, 1.0f, 5.0f, 1.0f, {3, 1, 1.0 / 7.0, 5}}, // as every frame uses it
        {0.5f, 1.0f, 5.0f, 1.0f, {0, 1, 1.0 / 2.0, 5}}, // only the unshifted tap
        {3.5f, 1.0f, 5.0f, 1.0f, {3, 1, 1.0 / 8.0, 5}}, // 7 taps of 1/8
        {3.0f, 0.9f, 5.0f, 1.0f, {3, 0, 1.0 / 7.0, 5}}, // no multiply
        {3.0f, 1.0f, 1.0f, 1.0f, {3, 1, 1.0 / 7.0, 1}},
        {3.0f, 1.0f, 1.5f, 1.0f, {3, 1, 1.0 / 7.0, 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "radius " << c.radius << ", multiply "
                                        << c.multiply_passes << ", strength " << c.strength);
        draw_layers_at(60000, true);
        const plane frame[3] = {read_plane(0), read_plane(1), read_plane(2)};
        apply_glow(c.radius, c.multiply_passes, c.strength, c.gain);

        // Tolerance: the half-size blur exactly, up to one level; the output up to one
        // level per blurred layer (the 2:1 enlargement may round either way, and each
        // layer adds that rounding again), and few values off by more than one.
        double worst_blurred = 0, worst = 0;
        long off_by_more_than_one = 0;
        for (int ch = 0; ch < 3; ++ch) {
            plane expected_blurred{0, 0, {}};
            const plane expected = reference_glow(frame[ch], c.expected, &expected_blurred);
            const plane blurred = read_plane(ch, true), glowed = read_plane(ch);
            for (size_t i = 0; i < blurred.v.size(); ++i)
                worst_blurred =
                    std::max(worst_blurred, std::fabs(blurred.v[i] - expected_blurred.v[i]));
            for (size_t i = 0; i < glowed.v.size(); ++i) {
                worst = std::max(worst, std::fabs(glowed.v[i] - expected.v[i]));
                off_by_more_than_one += std::fabs(glowed.v[i] - expected.v[i]) > 1;
            }
        }
        EXPECT_LE(worst_blurred, 1);
        EXPECT_LE(worst, c.expected.layers);
        EXPECT_LT(off_by_more_than_one, 3 * 800 * 600 / 20);
    }
}

TEST_F(GlowTest, UniformGreysGainFiveTimesTheirSquare) {
    const struct {
        int level;
        int expected;  // v + 5 v^2, clamped, in levels
        int tolerance; // what the 8-bit rounding of each pass may cost a dark grey
    } cases[] = {
        {0, 0, 0},     {77, 191, 12}, // 0.3 -> 0.75
        {128, 255, 0}, {153, 255, 0}, {200, 255, 0}, {255, 255, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        glClearColor(c.level / 255.0f, c.level / 255.0f, c.level / 255.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        apply_glow(3.0f, 1.0f, 5.0f, 1.0f);
        const test_image out = read_back();
        // Uniform right up to the borders: the shifted taps read the edge texels again.
        EXPECT_EQ(std::count(out.rgb.begin(), out.rgb.end(), out.rgb[0]), long(out.rgb.size()));
        EXPECT_NEAR(out.rgb[0], c.expected, c.tolerance);
    }
}

TEST_F(GlowTest, LeavesTheStateTheLetterboxAndNextFrameExpect) {
    glViewport(10, 20, 100, 50); // as after a resize of the window
    glMatrixMode(GL_PROJECTION);
    glTranslatef(0.5f, 0.25f, 0.0f);
    glMatrixMode(GL_MODELVIEW);
    glTranslatef(1.0f, 2.0f, 3.0f);
    const std::vector<GLfloat> matrices = current_matrices();
    glColor4f(0.2f, 0.3f, 0.4f, 0.5f);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);

    apply_glow(3.0f, 1.0f, 5.0f, 1.0f);

    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(std::vector<GLint>(viewport, viewport + 4), (std::vector<GLint>{0, 0, 800, 600}));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(get_integer(GL_BLEND_SRC), GL_ONE);
    EXPECT_EQ(get_integer(GL_BLEND_DST), GL_ONE);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_RECTANGLE_ARB));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_EQ(static_cast<GLuint>(get_integer(GL_TEXTURE_BINDING_RECTANGLE_ARB)),
              blur_full_texture);
    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_EQ(std::vector<GLfloat>(colour, colour + 3), std::vector<GLfloat>(3, 1.0f));
    EXPECT_FLOAT_EQ(colour[3], 1.0f / 7.0f);
    EXPECT_EQ(get_integer(GL_MATRIX_MODE), GL_MODELVIEW);
    EXPECT_EQ(current_matrices(), matrices);
}

} // namespace
