// The scene on a real context (llvmpipe under ctest) against pictures worked out on
// the CPU another way: the glow against a reference of its passes, the bars against
// the strips projected through the demo's view, and the letterbox rows.
#define GL_GLEXT_PROTOTYPES 1
#include "platform/gl_surface.h"
#include "scene/scene_internal.h"
#include "sound/soundtrack.h"

#include <GL/glext.h>
#include <SDL.h>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numeric>
#include <vector>

// The glow against its CPU reference: up to one level per composited layer (each adds
// the enlargement's rounding again), and more than one on few pixels (a twentieth).
constexpr double glow_levels_per_layer = 1.0;
constexpr int glow_pixels_off_by_more = 3 * 800 * 600 / 20;
// Bar edges: pixels this close to an edge, in pixels, may fall either way.
constexpr double bar_edge_pixels = 1.5;

namespace {

// One channel, levels 0..255, rows bottom first as GL stores them.
struct plane {
    int width, height;
    std::vector<double> v;
    double& at(int x, int y) { return v[y * width + x]; }
    double get(int x, int y) const { // clamped to the edges, as the glow's textures read
        return v[std::clamp(y, 0, height - 1) * width + std::clamp(x, 0, width - 1)];
    }
};

// Channel c of the back buffer.
plane read_plane(int c) {
    std::vector<uint8_t> rgb(800 * 600 * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, 800, 600, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    plane p{800, 600, std::vector<double>(rgb.size() / 3)};
    for (size_t i = 0; i < p.v.size(); ++i)
        p.v[i] = rgb[i * 3 + c];
    return p;
}

// A repeating (GL's default), nearest-filtered RGB texture, first row at t = 0, as the
// loader makes them.
GLuint make_texture(int width, int height, const std::vector<uint8_t>& rgb) {
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    for (GLenum filter : {GL_TEXTURE_MAG_FILTER, GL_TEXTURE_MIN_FILTER})
        glTexParameteri(GL_TEXTURE_2D, filter, GL_NEAREST);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, width, height, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    return name;
}

// One context, made as the demo makes its own, for the whole program.
class SceneTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(open_offscreen_gl("vornhal-test-scene", 800, 600));
        hold_demo_clock(0);
        setup_scene();
    }
    void SetUp() override { glColor4f(1.0f, 1.0f, 1.0f, 1.0f); } // as the letterbox leaves it
    void TearDown() override { EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)); }

    // The given layers alone, in white (the bars leave the colour black), at ms.
    static void draw_layers_at(int ms, std::initializer_list<void (*)()> layers) {
        hold_demo_clock(ms);
        sample_demo_clock();
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
        for (void (*draw_layer)() : layers)
            draw_layer();
    }
};

// 8-bit colour buffer: every pass rounds to the nearest level and saturates.
double quantise(double level) {
    return std::min(255.0, std::floor(level + 0.5));
}

// apply_glow's arguments, and the passes they mean, worked out by hand.
struct glow_case {
    float radius, multiply_passes, strength, gain;
    int steps;      // one-texel steps on each side of the box
    int multiplies; // times the reduced frame is multiplied into itself
    double weight;  // each tap's weight
    int layers;     // blurred layers in the composite
};

// The glow worked out on the CPU from one channel of the frame.
plane reference_glow(const plane& frame, const glow_case& passes) {
    const int hw = frame.width / 2, hh = frame.height / 2;
    plane reduced{hw, hh, std::vector<double>(static_cast<size_t>(hw) * hh)};
    for (int y = 0; y < hh; ++y)
        for (int x = 0; x < hw; ++x)
            reduced.at(x, y) =
                quantise((frame.get(2 * x, 2 * y) + frame.get(2 * x + 1, 2 * y) +
                          frame.get(2 * x, 2 * y + 1) + frame.get(2 * x + 1, 2 * y + 1)) /
                         4.0);
    plane bright = reduced;
    for (int k = 0; k < passes.multiplies; ++k)
        for (size_t i = 0; i < bright.v.size(); ++i)
            bright.v[i] = quantise(bright.v[i] * reduced.v[i] / 255.0);
    // The weight reaches the blender as an 8-bit alpha (1/7 becomes 36/255).
    const double weight = std::floor(passes.weight * 255.0 + 0.5) / 255.0;
    auto box = [&](const plane& in, int dx, int dy) {
        plane out = in;
        for (int y = 0; y < hh; ++y)
            for (int x = 0; x < hw; ++x) {
                double sum = quantise(weight * in.get(x, y));
                for (int i = 1; i <= passes.steps; ++i) {
                    sum = quantise(sum + weight * in.get(x - i * dx, y - i * dy));
                    sum = quantise(sum + weight * in.get(x + i * dx, y + i * dy));
                }
                out.at(x, y) = sum;
            }
        return out;
    };
    const plane blurred = box(box(bright, 1, 0), 0, 1);
    plane out = frame;
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            // Enlarged 2:1 with linear filtering: a quarter texel from the nearest texel.
            const double sx = x / 2.0 - 0.25, sy = y / 2.0 - 0.25;
            const int x0 = static_cast<int>(std::floor(sx)), y0 = static_cast<int>(std::floor(sy));
            const double fx = sx - x0, fy = sy - y0;
            const double enlarged = quantise((1 - fx) * (1 - fy) * blurred.get(x0, y0) +
                                             fx * (1 - fy) * blurred.get(x0 + 1, y0) +
                                             (1 - fx) * fy * blurred.get(x0, y0 + 1) +
                                             fx * fy * blurred.get(x0 + 1, y0 + 1));
            double sum = enlarged;
            for (int layer = 1; layer < passes.layers; ++layer)
                sum = quantise(sum + enlarged);
            out.at(x, y) = quantise(sum + frame.get(x, y));
        }
    return out;
}

// Every row outside `keep` of the frame and of both glow textures made bright orange,
// as stale rows of another picture would be.
void scramble_rows_outside(row_band keep) {
    glClearColor(1.0f, 0.5f, 0.25f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    for (GLuint texture : {blur_full_texture, blur_half_texture}) {
        const int scale = texture == blur_full_texture ? 1 : 2;
        glBindTexture(GL_TEXTURE_RECTANGLE_ARB, texture);
        glCopyTexSubImage2D(GL_TEXTURE_RECTANGLE_ARB, 0, 0, 0, 0, 0, 800 / scale, 600 / scale);
    }
    glClearColor(0.0f, 0.0f, 0.0f, 0.5f);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, keep.first, 800, keep.end - keep.first);
}

TEST_F(SceneTest, GlowMatchesTheCpuReferenceAndNeedsOnlyItsReach) {
    // Hard edges, fine detail and every level: a gradient with a checker under the
    // black bars and both overlays.
    std::vector<uint8_t> texels;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            texels.insert(texels.end(), {uint8_t(x * 4), uint8_t(y * 4),
                                         uint8_t((x / 4 + y / 4) % 2 ? 255 : 40)});
    bg_texture = make_texture(64, 64, texels);
    fg_texture = make_texture(1, 1, {255, 200, 100});
    scroll_texture = make_texture(2, 1, {255, 255, 255, 0, 0, 0});
    const glow_case cases[] = {
        {3.0f, 1.0f, 5.0f, 1.0f, 3, 1, 1.0 / 7.0, 5}, // as every frame uses it
        {0.5f, 1.0f, 5.0f, 1.0f, 0, 1, 1.0 / 2.0, 5}, // only the unshifted tap
        {3.5f, 1.0f, 5.0f, 1.0f, 3, 1, 1.0 / 8.0, 5}, // 7 taps of 1/8
        {3.0f, 0.9f, 5.0f, 1.0f, 3, 0, 1.0 / 7.0, 5}, // no multiply
        {3.0f, 1.0f, 1.0f, 1.0f, 3, 1, 1.0 / 7.0, 1},  {3.0f, 1.0f, 1.5f, 1.0f, 3, 1, 1.0 / 7.0, 2},
        {6.0f, 1.0f, 5.0f, 1.0f, 6, 1, 1.0 / 13.0, 5}, // a wider reach
    };
    // The letterbox's strip, and bands against either edge, where reads clamp.
    const row_band visible_bands[] = {letterbox_lit_rows(), {0, 37}, {571, 600}};
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        draw_layers_at(60000, {draw_background, draw_bars, draw_fg_overlay, draw_scroll_overlay});
        const plane frame[3] = {read_plane(0), read_plane(1), read_plane(2)};
        apply_glow(c.radius, c.multiply_passes, c.strength, c.gain);
        double worst = 0, off_by_more_than_one = 0;
        plane glowed[3];
        for (int ch = 0; ch < 3; ++ch) {
            const plane expected = reference_glow(frame[ch], c);
            glowed[ch] = read_plane(ch);
            for (size_t i = 0; i < glowed[ch].v.size(); ++i) {
                worst = std::max(worst, std::fabs(glowed[ch].v[i] - expected.v[i]));
                off_by_more_than_one += std::fabs(glowed[ch].v[i] - expected.v[i]) > 1;
            }
        }
        EXPECT_LE(worst, glow_levels_per_layer * c.layers);
        EXPECT_LT(off_by_more_than_one, glow_pixels_off_by_more);

        // Drawn only on the rows its reach names, over stale rows everywhere else, the
        // glow gives the visible rows the very same bytes; and it reaches no further
        // than its taps, the 2:1 steps and a texel of filter each way can.
        for (const row_band visible : visible_bands) {
            const glow_rows reach = glow_reach(c.steps, visible);
            EXPECT_GE(reach.frame.first, visible.first - 2 * (c.steps + 6));
            EXPECT_LE(reach.frame.end, visible.end + 2 * (c.steps + 6));
            scramble_rows_outside(reach.frame);
            draw_layers_at(60000,
                           {draw_background, draw_bars, draw_fg_overlay, draw_scroll_overlay});
            apply_glow(c.radius, c.multiply_passes, c.strength, c.gain, visible);
            int differing = 0;
            for (int ch = 0; ch < 3; ++ch) {
                const plane banded = read_plane(ch);
                for (int i = visible.first * 800; i < visible.end * 800; ++i)
                    differing += banded.v[i] != glowed[ch].v[i];
            }
            EXPECT_EQ(differing, 0) << "rows " << visible.first << " to " << visible.end;
        }
    }
}

// Where the centre of pixel (px, py), rows from the bottom, lands on the plane depth
// units in front of the eye under the demo's 45 degree, 4:3 perspective.
std::pair<double, double> unproject(int px, int py, double depth) {
    const double half_height = depth * std::tan(22.5 * M_PI / 180.0);
    return {((px + 0.5) / 400.0 - 1.0) * half_height * 4.0 / 3.0,
            ((py + 0.5) / 300.0 - 1.0) * half_height};
}

TEST_F(SceneTest, BarsAreBlackStripsAtTheirTurningAngles) {
    bg_texture = fg_texture = scroll_texture = make_texture(1, 1, {255, 255, 255});
    // Bar i is a 0.6 x 20 strip through (3 sin i, 0) at depth 10, turned by
    // 801 i + T / (600 + 200 i) degrees.
    const double margin = bar_edge_pixels * 2.0 * 10.0 * std::tan(22.5 * M_PI / 180.0) / 600.0;
    for (int ms : {0, 60000, 97531, 142000}) {
        SCOPED_TRACE(ms);
        draw_layers_at(ms, {draw_background, draw_bars});
        const plane grey = read_plane(1); // black or white, so one channel tells
        int compared = 0, bar_pixels = 0, wrong = 0;
        for (int y = 0; y < 600; y += 2)
            for (int x = 0; x < 800; x += 2) {
                const auto [wx, wy] = unproject(x, y, 10.0);
                bool in_bar = false, ambiguous = false;
                for (int i = 0; i < 8; ++i) {
                    const double angle = (801.0 * i + ms / (600.0 + 200.0 * i)) * M_PI / 180.0;
                    const double across =
                        (wx - 3.0 * std::sin(i)) * std::cos(angle) + wy * std::sin(angle);
                    in_bar |= std::fabs(across) < 0.3;
                    ambiguous |= std::fabs(std::fabs(across) - 0.3) < margin;
                }
                if (ambiguous)
                    continue;
                ++compared;
                bar_pixels += in_bar;
                wrong += grey.get(x, y) != (in_bar ? 0 : 255);
            }
        EXPECT_GT(compared, 100000);
        EXPECT_GT(bar_pixels, 10000);
        EXPECT_EQ(wrong, 0);
    }
}

TEST_F(SceneTest, LetterboxLeavesRows225To374AndTheShowEndsAt142Seconds) {
    bg_texture = fg_texture = scroll_texture = make_texture(1, 1, {255, 255, 255});
    for (int ms : {0, 1234, 60000, 141999, 142000}) { // the last one drawn, never shown
        SCOPED_TRACE(ms);
        hold_demo_clock(ms);
        EXPECT_EQ(draw_frame(), ms < show_length_ms);
        // Rows counted from the bottom: the bands are as tall at either end.
        const plane green = read_plane(1); // lit wherever the white pictures show
        int wrong_rows = 0;                // the bars never fill a row
        for (int y = 0; y < 600; ++y)
            wrong_rows += (std::accumulate(&green.v[y * 800], &green.v[y * 800] + 800, 0.0) > 0) !=
                          (y >= 225 && y < 375);
        EXPECT_EQ(wrong_rows, 0);
    }
}

// Presenting onto a drawable of another size filters only the rows the letterbox
// leaves lit, aligned so that every pixel is what a blit of the whole picture gives.
TEST_F(SceneTest, PresentingFiltersTheLitRowsAsAWholeBlitWould) {
    const struct {
        int y, height_px;
        present_rows rows;
    } cases[] = {
        {0, 600, {223, 377, 223, 377}},   // the render size: every row its own
        {0, 1080, {220, 380, 396, 684}},  // 1.8 x: whole rows every 5 picture rows
        {0, 2160, {220, 380, 792, 1368}}, // 3.6 x
        {0, 768, {200, 400, 256, 512}},   // 1.28 x: every 25
        {7, 601, {0, 600, 7, 608}},       // no whole rows but at the ends: all of it
        {10, 1080, {220, 380, 406, 694}}, // a bar below moves it up
    };
    for (const auto& c : cases) {
        const present_rows rows = lit_present_rows(c.y, c.height_px);
        EXPECT_EQ(std::vector<int>({rows.picture_first, rows.picture_end, rows.drawable_first,
                                    rows.drawable_end}),
                  std::vector<int>({c.rows.picture_first, c.rows.picture_end, c.rows.drawable_first,
                                    c.rows.drawable_end}))
            << c.height_px;
    }

    // Onto 1440 x 1080 against the whole picture blitted by hand.
    SDL_Window* scene_window = SDL_GL_GetCurrentWindow();
    SDL_GLContext context = SDL_GL_GetCurrentContext();
    SDL_Window* large =
        SDL_CreateWindow("", 0, 0, 1440, 1080, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    ASSERT_EQ(SDL_GL_MakeCurrent(large, context), 0) << SDL_GetError();
    auto read_drawable = [] {
        std::vector<uint8_t> rgba(1440 * 1080 * 4);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
        glReadPixels(0, 0, 1440, 1080, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        return rgba;
    };
    hold_demo_clock(100000);
    aim_frame(1440, 1080);
    draw_frame();
    GLint picture = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &picture);
    ASSERT_NE(picture, 0);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glBlitFramebuffer(0, 0, 800, 600, 0, 0, 1440, 1080, GL_COLOR_BUFFER_BIT, GL_LINEAR);
    std::vector<uint8_t> whole = read_drawable();
    glBindFramebuffer(GL_FRAMEBUFFER, picture);
    present_frame(1440, 1080);
    std::vector<uint8_t> presented = read_drawable();
    size_t differing = 0, transparent = 0;
    for (size_t i = 0; i < whole.size(); i += 4) {
        differing += !std::equal(&whole[i], &whole[i + 3], &presented[i]);
        transparent += presented[i + 3] != 255;
    }
    EXPECT_EQ(differing, 0u);
    EXPECT_EQ(transparent, 0u);
    glBindFramebuffer(GL_FRAMEBUFFER, picture);
    SDL_GL_MakeCurrent(scene_window, context);
    SDL_DestroyWindow(large);
}

// The show's frames, drawn only where they can be seen, against the whole frame drawn
// as the prescribed steps draw it: at the edges of the show, through a seek back, onto
// a drawable of another size and back (its render target fresh, then stale), and on a
// context made anew, as F1 makes one.
TEST_F(SceneTest, FramesDrawnOnlyWhereSeenAreTheWholeFramesBytes) {
    SDL_Window* scene_window = SDL_GL_GetCurrentWindow();
    SDL_GLContext scene_context = SDL_GL_GetCurrentContext();
    SDL_Window* larger =
        SDL_CreateWindow("", 0, 0, 1024, 768, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    SDL_GLContext remade = SDL_GL_CreateContext(scene_window);
    ASSERT_TRUE(larger && remade) << SDL_GetError();
    // At 200 ms the streaks wrap; 1000 after 141999 is a seek back.
    const struct {
        int ms;
        bool larger, remade;
    } frames[] = {{0, 0, 0},     {200, 0, 0},   {141999, 1, 0}, {1000, 1, 0},
                  {55000, 0, 0}, {77777, 0, 1}, {123456, 1, 1}};
    auto present_at = [&](const auto& f, row_band visible) {
        SDL_Window* onto = f.larger ? larger : scene_window;
        SDL_GL_MakeCurrent(onto, f.remade ? remade : scene_context);
        if (f.remade && visible.first != 0 && !f.larger)
            setup_scene(); // the first frame on the new context
        int w = 0, h = 0;
        SDL_GL_GetDrawableSize(onto, &w, &h);
        hold_demo_clock(f.ms);
        aim_frame(w, h);
        draw_frame_rows(visible);
        present_frame(w, h);
        std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
        read_presented_frame(w, h, rgb.data());
        return rgb;
    };
    std::vector<std::vector<uint8_t>> seen;
    for (const auto& f : frames)
        seen.push_back(present_at(f, letterbox_lit_rows()));
    for (size_t i = 0; i < std::size(frames); ++i)
        EXPECT_TRUE(present_at(frames[i], whole_frame_rows) == seen[i]) << frames[i].ms << " ms";

    SDL_GL_MakeCurrent(scene_window, scene_context);
    SDL_GL_DeleteContext(remade);
    SDL_DestroyWindow(larger);
}

} // namespace
