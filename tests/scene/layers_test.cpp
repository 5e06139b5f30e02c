// Pixel checks of the layers, the letterbox and the frame on llvmpipe, against
// pictures worked out on the CPU from the geometry of the view.
#include "gl_test_context.h"

#include <cmath>

namespace {

class LayersTest : public GlSceneTest {};

TEST_F(LayersTest, LetterboxBandsStayBlackAndTheStripShowsThePicture) {
    bg_texture = make_solid_texture(255, 255, 255);
    fg_texture = make_solid_texture(255, 255, 255);
    scroll_texture = make_solid_texture(255, 255, 255);
    for (int ms : {0, 1234, 15706, 60000, 99999, 141999, 142000}) {
        SCOPED_TRACE(ms);
        hold_demo_clock(ms);
        draw_frame();
        const test_image frame = read_back();
        int band_lit = 0, strip_lit = 0;
        for (int y = 0; y < 600; ++y)
            for (int x = 0; x < 800; ++x) {
                const uint8_t* p = frame.at(x, y);
                const bool lit = p[0] || p[1] || p[2];
                if (y < 225 || y >= 375)
                    band_lit += lit;
                else
                    strip_lit += lit;
            }
        EXPECT_EQ(band_lit, 0);              // exactly black, every pixel
        EXPECT_GT(strip_lit, 800 * 150 / 2); // a white background, partly crossed by bars

        // The strip begins exactly at row 225 and ends at 374.
        int lit_225 = 0, lit_374 = 0;
        for (int x = 0; x < 800; ++x) {
            lit_225 += frame.at(x, 225)[0] > 0;
            lit_374 += frame.at(x, 374)[0] > 0;
        }
        EXPECT_GT(lit_225, 0);
        EXPECT_GT(lit_374, 0);

        GLfloat colour[4];
        glGetFloatv(GL_CURRENT_COLOR, colour);
        EXPECT_EQ(colour[0], 1.0f);
        EXPECT_EQ(colour[1], 1.0f);
        EXPECT_EQ(colour[2], 1.0f);
        EXPECT_EQ(colour[3], 1.0f);
    }
}

TEST_F(LayersTest, LetterboxHandsOverWhiteAndRestoresTheMatrices) {
    bg_texture = make_solid_texture(200, 150, 100);
    glMatrixMode(GL_MODELVIEW);
    glTranslatef(1.0f, 2.0f, 3.0f);
    GLfloat modelview_before[16], projection_before[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview_before);
    glGetFloatv(GL_PROJECTION_MATRIX, projection_before);

    glColor4f(0.3f, 0.6f, 0.9f, 0.5f);
    draw_letterbox();

    GLfloat modelview_after[16], projection_after[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview_after);
    glGetFloatv(GL_PROJECTION_MATRIX, projection_after);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(modelview_after[i], modelview_before[i]);
        EXPECT_EQ(projection_after[i], projection_before[i]);
    }
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);

    // The next frame's background is drawn in the colour the letterbox left.
    hold_demo_clock(0);
    sample_demo_clock();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    draw_background();
    const test_image frame = read_back();
    for (int y : {0, 300, 599}) {
        const uint8_t* p = frame.at(400, y);
        EXPECT_EQ(p[0], 200);
        EXPECT_EQ(p[1], 150);
        EXPECT_EQ(p[2], 100);
    }
}

TEST_F(LayersTest, ShowEndsAtTheFirstFrameAt142Seconds) {
    const struct {
        int ms;
        bool goes_on;
    } cases[] = {{0, true},       {1000, true},    {141998, true},  {141999, true},
                 {142000, false}, {142001, false}, {150000, false}, {1000000, false}};
    for (const auto& c : cases) {
        hold_demo_clock(c.ms);
        EXPECT_EQ(draw_frame(), c.goes_on) << c.ms << " ms";
    }
}

TEST_F(LayersTest, EveryFrameIsAFunctionOfItsTimeAlone) {
    bg_texture = make_texture(2, 2, {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0});
    fg_texture = make_solid_texture(255, 255, 255);
    scroll_texture = make_texture(2, 1, {255, 255, 255, 0, 0, 0});
    hold_demo_clock(60000);
    draw_frame();
    const test_image first = read_back();
    hold_demo_clock(40100); // a seek backwards, then forwards again
    draw_frame();
    const test_image other = read_back();
    hold_demo_clock(60000);
    draw_frame();
    const test_image again = read_back();
    EXPECT_TRUE(first.rgb == again.rgb);
    EXPECT_FALSE(first.rgb == other.rgb);
}

TEST_F(LayersTest, ANewContextGetsItsOwnTexturesAndTheSamePicture) {
    // The images from data/, as the demo loads them (the tests run in the source tree).
    setup_scene();
    ASSERT_NE(bg_texture, 0u);
    ASSERT_NE(fg_texture, 0u);
    ASSERT_NE(scroll_texture, 0u);
    hold_demo_clock(60000);
    draw_frame();
    const test_image before = read_back();

    // What a fullscreen toggle does: a new window and context, the view, setup.
    SDL_Window* other_window =
        SDL_CreateWindow("new context", 0, 0, 800, 600, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    ASSERT_NE(other_window, nullptr) << SDL_GetError();
    SDL_GLContext other_context = SDL_GL_CreateContext(other_window);
    ASSERT_NE(other_context, nullptr) << SDL_GetError();
    set_perspective_view(800, 600);
    setup_scene();
    for (GLuint name :
         {bg_texture, fg_texture, scroll_texture, blur_full_texture, blur_half_texture})
        EXPECT_TRUE(glIsTexture(name)) << name;
    draw_frame();
    const test_image after = read_back();
    EXPECT_TRUE(before.rgb == after.rgb);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    SDL_GL_DeleteContext(other_context);
    SDL_DestroyWindow(other_window);
    SDL_GL_MakeCurrent(window, context);
    set_perspective_view(800, 600);
    setup_scene();
}

// Bar i is a 0.6 x 20 strip through (3 sin i, 0) at depth 10, turned by
// 801 i + T / (600 + 200 i) degrees.
static bool inside_bar(const world_point& p, int i, double ms, double margin, bool& near_edge) {
    const double angle = (801.0 * i + ms / (600.0 + 200.0 * i)) * M_PI / 180.0;
    const double qx = p.x - 3.0 * std::sin(i);
    const double across = qx * std::cos(angle) + p.y * std::sin(angle);
    near_edge = std::fabs(std::fabs(across) - 0.3) < margin;
    return std::fabs(across) < 0.3;
}

TEST_F(LayersTest, BarsAreBlackStripsAtTheirTurningAngles) {
    bg_texture = make_solid_texture(255, 255, 255);
    const double margin = 1.5 * pixel_size_at(10.0);
    for (int ms : {0, 60000, 97531, 142000}) {
        SCOPED_TRACE(ms);
        draw_layers_at(ms, false);
        GLboolean texturing = GL_FALSE;
        glGetBooleanv(GL_TEXTURE_2D, &texturing);
        EXPECT_TRUE(texturing); // the bars are drawn with texturing still on

        const test_image frame = read_back();
        int compared = 0, bar_pixels = 0, wrong = 0;
        for (int y = 0; y < 600; y += 2)
            for (int x = 0; x < 800; x += 2) {
                const world_point p = unproject(x, y, 10.0);
                bool in_bar = false, ambiguous = false;
                for (int i = 0; i < 8; ++i) {
                    bool near_edge = false;
                    in_bar |= inside_bar(p, i, ms, margin, near_edge);
                    ambiguous |= near_edge;
                }
                if (ambiguous)
                    continue;
                ++compared;
                bar_pixels += in_bar;
                const uint8_t expected = in_bar ? 0 : 255;
                const uint8_t* px = frame.at(x, y);
                if (px[0] != expected || px[1] != expected || px[2] != expected)
                    ++wrong;
            }
        EXPECT_GT(compared, 100000);
        EXPECT_GT(bar_pixels, 10000);
        EXPECT_EQ(wrong, 0);
    }

    // At T = 0 bar 0 stands upright through the centre: the centre column is black
    // from top to bottom, and its edges lie 0.3 units either side in every row that
    // no other bar crosses.
    draw_layers_at(0, false);
    const test_image frame = read_back();
    const double half_width_px = 0.3 / pixel_size_at(10.0);
    for (int y = 0; y < 600; ++y)
        EXPECT_EQ(frame.at(400, y)[0], 0) << "row " << y;
    std::vector<int> clear_rows; // rows where no other bar comes near the centre
    for (int y = 0; y < 600; ++y) {
        bool crossed = false;
        for (int x = 340; x <= 460; ++x)
            for (int i = 1; i < 8; ++i) {
                bool near_edge = false;
                crossed |= inside_bar(unproject(x, y, 10.0), i, 0, margin, near_edge) || near_edge;
            }
        if (!crossed)
            clear_rows.push_back(y);
    }
    ASSERT_GT(clear_rows.size(), 40u);
    for (int y : clear_rows) {
        int left = 400, right = 400;
        while (left > 0 && frame.at(left - 1, y)[0] == 0)
            --left;
        while (right < 799 && frame.at(right + 1, y)[0] == 0)
            ++right;
        EXPECT_NEAR(400.0 - left, half_width_px, 1.0) << "row " << y;
        EXPECT_NEAR(right + 1 - 400.0, half_width_px, 1.0) << "row " << y;
    }
}

TEST_F(LayersTest, BackgroundScrollsOneImageWidthEvery55Seconds) {
    // 64 columns told apart by red; the first row (t = 0) has no green, the second
    // full green, so the picture's first row must show along the bottom.
    constexpr int columns = 64;
    std::vector<uint8_t> texels;
    for (int row = 0; row < 2; ++row)
        for (int c = 0; c < columns; ++c) {
            texels.push_back(static_cast<uint8_t>(c * 4));
            texels.push_back(row ? 255 : 0);
            texels.push_back(0);
        }
    bg_texture = make_texture(columns, 2, texels);
    for (int ms : {0, 13751, 60000, 142000}) {
        SCOPED_TRACE(ms);
        hold_demo_clock(ms);
        sample_demo_clock();
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        draw_background();
        const test_image frame = read_back();
        const double u = ms / 55000.0;
        int compared = 0, wrong = 0;
        for (int y = 0; y < 600; y += 7)
            for (int x = 0; x < 800; ++x) {
                const world_point p = unproject(x, y, 18.0);
                const double s = u + (p.x + 10.0) / 20.0;
                const double column = (s - std::floor(s)) * columns;
                const double t = (p.y + 10.0) / 20.0;
                if (std::fabs(column - std::round(column)) < 0.15 || std::fabs(t - 0.5) < 0.01)
                    continue;
                ++compared;
                const int expected_red = static_cast<int>(column) % columns * 4;
                const int expected_green = t > 0.5 ? 255 : 0;
                const uint8_t* px = frame.at(x, y);
                if (px[0] != expected_red || px[1] != expected_green || px[2] != 0)
                    ++wrong;
            }
        EXPECT_GT(compared, 40000);
        EXPECT_EQ(wrong, 0);
    }
}

TEST_F(LayersTest, OverlaysAddTheirPulsingAlphaAndNeverSubtract) {
    // A grey background under black bars; one overlay white, the other black, so the
    // difference the overlays make is the white one's alpha times 255.
    bg_texture = make_solid_texture(100, 100, 100);
    const GLuint white = make_solid_texture(255, 255, 255);
    const GLuint black = make_solid_texture(0, 0, 0);
    const struct {
        int ms;
        bool foreground;
        double alpha; // worked out by hand from the pulse formulas
    } cases[] = {
        {0, true, 0.0},         {60000, true, 0.1820},   {142000, true, -0.1999},
        {0, false, 0.00268},    {60000, false, -0.1677}, {142000, false, 0.0395},
        {15706, true, -0.19995} // next to a pole of the tangent
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.ms << " ms, " << (c.foreground ? "fg" : "scroll"));
        fg_texture = c.foreground ? white : black;
        scroll_texture = c.foreground ? black : white;
        draw_layers_at(c.ms, false);
        const test_image base = read_back();
        draw_layers_at(c.ms, true);
        const test_image lit = read_back();

        int wrong = 0, outside_changed = 0;
        const double added = c.alpha > 0 ? 255.0 * c.alpha : 0.0;
        for (int y = 0; y < 600; y += 3)
            for (int x = 0; x < 800; x += 3) {
                const int before = base.at(x, y)[0];
                const int after = lit.at(x, y)[0];
                if (y < 30 || y > 570) { // the overlays stop short of the top and bottom
                    outside_changed += after != before;
                    continue;
                }
                if (y < 50 || y > 550)
                    continue;
                if (c.alpha <= 0 ? after != before
                                 : std::fabs(after - std::min(255.0, before + added)) > 1.0)
                    ++wrong;
            }
        EXPECT_EQ(wrong, 0) << "tolerance: exact when the alpha is negative, else 1 level";
        EXPECT_EQ(outside_changed, 0);
    }
}

TEST_F(LayersTest, ScrollingOverlayTravelsOneImageWidthEvery200Ms) {
    bg_texture = make_solid_texture(0, 0, 0);
    fg_texture = make_solid_texture(0, 0, 0);
    scroll_texture = make_texture(2, 1, {255, 255, 255, 0, 0, 0}); // left half white
    for (int ms : {40000, 40050, 40100, 40150}) {
        SCOPED_TRACE(ms);
        draw_layers_at(ms, true);
        const test_image frame = read_back();
        const double s_left = ms * -0.005;
        int lit_wrong = 0, dark_wrong = 0;
        for (int x = 0; x < 800; ++x) {
            const world_point p = unproject(x, 300, 2.7);
            const double s = s_left + (p.x + 2.0) / 4.0;
            const double half = (s - std::floor(s)) * 2.0;
            if (std::fabs(half - std::round(half)) < 0.02)
                continue;
            const int value = frame.at(x, 300)[0];
            if (half < 1.0)
                lit_wrong += value < 5; // about 0.047 of white
            else
                dark_wrong += value != 0;
        }
        EXPECT_EQ(lit_wrong, 0);
        EXPECT_EQ(dark_wrong, 0);
    }
}

} // namespace
