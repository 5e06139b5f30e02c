// Pixel checks of the layers, the letterbox and the frame on llvmpipe, against
// pictures worked out on the CPU from the geometry of the view.
#include "gl_test_context.h"

#include <cmath>

namespace {

class LayersTest : public GlSceneTest {};

TEST_F(LayersTest, LetterboxBandsStayBlackAndTheStripShowsThePicture) {
    bg_texture = fg_texture = scroll_texture = make_solid_texture(255, 255, 255);
    for (int ms : {0, 1234, 15706, 60000, 99999, 141999, 142000}) {
        SCOPED_TRACE(ms);
        hold_demo_clock(ms);
        draw_frame();
        const test_image frame = read_back();
        int band_lit = 0, strip_lit = 0, edge_rows_lit[2] = {};
        for (int y = 0; y < 600; ++y)
            for (int x = 0; x < 800; ++x) {
                const uint8_t* p = frame.at(x, y);
                const bool lit = p[0] || p[1] || p[2];
                (y < 225 || y >= 375 ? band_lit : strip_lit) += lit;
                if (y == 225 || y == 374)
                    edge_rows_lit[y == 374] += lit;
            }
        EXPECT_EQ(band_lit, 0);              // exactly black, every pixel
        EXPECT_GT(strip_lit, 800 * 150 / 2); // a white background, partly crossed by bars
        EXPECT_GT(edge_rows_lit[0], 0);      // the strip is rows 225 to 374, no fewer
        EXPECT_GT(edge_rows_lit[1], 0);
    }
}

TEST_F(LayersTest, LetterboxHandsOverWhiteAndRestoresTheMatrices) {
    bg_texture = make_solid_texture(200, 150, 100);
    glTranslatef(1.0f, 2.0f, 3.0f);
    const std::vector<GLfloat> matrices = current_matrices();
    glColor4f(0.3f, 0.6f, 0.9f, 0.5f);
    draw_letterbox();
    EXPECT_EQ(current_matrices(), matrices);
    EXPECT_EQ(get_integer(GL_MATRIX_MODE), GL_MODELVIEW);

    // The next frame's background is drawn in the colour the letterbox left.
    hold_demo_clock(0);
    sample_demo_clock();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    draw_background();
    const test_image frame = read_back();
    for (int y : {0, 300, 599})
        EXPECT_EQ(std::vector<uint8_t>(frame.at(400, y), frame.at(400, y) + 3),
                  (std::vector<uint8_t>{200, 150, 100}));
}

TEST_F(LayersTest, ShowEndsAtTheFirstFrameAt142SecondsAndFramesDependOnTheirTimeAlone) {
    for (int ms : {0, 141999, 142000, 1000000}) {
        hold_demo_clock(ms);
        EXPECT_EQ(draw_frame(), ms < 142000) << ms << " ms";
    }
    bg_texture = make_texture(2, 2, {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0});
    fg_texture = make_solid_texture(255, 255, 255);
    scroll_texture = make_texture(2, 1, {255, 255, 255, 0, 0, 0});
    test_image frames[3];
    for (int i = 0; i < 3; ++i) { // a seek backwards, then forwards again
        hold_demo_clock(i == 1 ? 40100 : 60000);
        draw_frame();
        frames[i] = read_back();
    }
    EXPECT_TRUE(frames[0].rgb == frames[2].rgb);
    EXPECT_FALSE(frames[0].rgb == frames[1].rgb);
}

TEST_F(LayersTest, ANewContextGetsItsOwnTexturesAndTheSamePicture) {
    // The images from data/, as the demo loads them (the tests run in the source tree).
    setup_scene();
    ASSERT_TRUE(bg_texture && fg_texture && scroll_texture);
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
    EXPECT_TRUE(before.rgb == read_back().rgb);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    SDL_GL_DeleteContext(other_context);
    SDL_DestroyWindow(other_window);
    SDL_GL_MakeCurrent(window, context);
    set_perspective_view(800, 600);
    setup_scene();
}

// Bar i is a 0.6 x 20 strip through (3 sin i, 0) at depth 10, turned by
// 801 i + T / (600 + 200 i) degrees. Returns how far p lies outside its edge
// (negative inside).
double outside_bar(const world_point& p, int i, double ms) {
    const double angle = (801.0 * i + ms / (600.0 + 200.0 * i)) * M_PI / 180.0;
    return std::fabs((p.x - 3.0 * std::sin(i)) * std::cos(angle) + p.y * std::sin(angle)) - 0.3;
}

TEST_F(LayersTest, BarsAreBlackStripsAtTheirTurningAngles) {
    bg_texture = make_solid_texture(255, 255, 255);
    const double margin = 1.5 * pixel_size_at(10.0); // pixels this near an edge may go either way
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
                bool in_bar = false, ambiguous = false;
                for (int i = 0; i < 8; ++i) {
                    const double outside = outside_bar(unproject(x, y, 10.0), i, ms);
                    in_bar |= outside < 0;
                    ambiguous |= std::fabs(outside) < margin;
                }
                if (ambiguous)
                    continue;
                ++compared;
                bar_pixels += in_bar;
                const uint8_t* px = frame.at(x, y);
                wrong += px[0] != (in_bar ? 0 : 255) || px[1] != px[0] || px[2] != px[0];
            }
        EXPECT_GT(compared, 100000);
        EXPECT_GT(bar_pixels, 10000);
        EXPECT_EQ(wrong, 0);
        // At T = 0 bar 0 stands upright through the centre, black from top to bottom.
        for (int y = 0; y < 600 && ms == 0; ++y)
            EXPECT_EQ(frame.at(400, y)[0], 0) << "row " << y;
    }
}

TEST_F(LayersTest, BackgroundScrollsOneImageWidthEvery55Seconds) {
    // 64 columns told apart by red; the first row (t = 0) has no green, the second
    // full green, so the picture's first row must show along the bottom.
    constexpr int columns = 64;
    std::vector<uint8_t> texels;
    for (int row = 0; row < 2; ++row)
        for (int c = 0; c < columns; ++c)
            texels.insert(texels.end(), {static_cast<uint8_t>(c * 4), uint8_t(row ? 255 : 0), 0});
    bg_texture = make_texture(columns, 2, texels);
    for (int ms : {0, 13751, 60000, 142000}) {
        SCOPED_TRACE(ms);
        hold_demo_clock(ms);
        sample_demo_clock();
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        draw_background();
        const test_image frame = read_back();
        int compared = 0, wrong = 0;
        for (int y = 0; y < 600; y += 7)
            for (int x = 0; x < 800; ++x) {
                const world_point p = unproject(x, y, 18.0);
                const double s = ms / 55000.0 + (p.x + 10.0) / 20.0;
                const double column = (s - std::floor(s)) * columns;
                const double t = (p.y + 10.0) / 20.0;
                if (std::fabs(column - std::round(column)) < 0.15 || std::fabs(t - 0.5) < 0.01)
                    continue;
                ++compared;
                const uint8_t* px = frame.at(x, y);
                wrong += px[0] != static_cast<int>(column) % columns * 4 ||
                         px[1] != (t > 0.5 ? 255 : 0) || px[2] != 0;
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
                const int before = base.at(x, y)[0], after = lit.at(x, y)[0];
                if (y < 30 || y > 570) // the overlays stop short of the top and bottom
                    outside_changed += after != before;
                else if (y >= 50 && y <= 550)
                    wrong += c.alpha <= 0 ? after != before
                                          : std::fabs(after - std::min(255.0, before + added)) > 1;
            }
        EXPECT_EQ(wrong, 0) << "tolerance: exact when the alpha is negative, else 1 level";
        EXPECT_EQ(outside_changed, 0);
    }
}

TEST_F(LayersTest, ScrollingOverlayTravelsOneImageWidthEvery200Ms) {
    bg_texture = fg_texture = make_solid_texture(0, 0, 0);
    scroll_texture = make_texture(2, 1, {255, 255, 255, 0, 0, 0}); // left half white
    for (int ms : {40000, 40050, 40100, 40150}) {
        SCOPED_TRACE(ms);
        draw_layers_at(ms, true);
        const test_image frame = read_back();
        int wrong = 0;
        for (int x = 0; x < 800; ++x) {
            const double s = ms * -0.005 + (unproject(x, 300, 2.7).x + 2.0) / 4.0;
            const double half = (s - std::floor(s)) * 2.0;
            if (std::fabs(half - std::round(half)) < 0.02)
                continue;
            const int value = frame.at(x, 300)[0];
            wrong += half < 1.0 ? value < 5 : value != 0; // lit: about 0.047 of white
        }
        EXPECT_EQ(wrong, 0);
    }
}

} // namespace
