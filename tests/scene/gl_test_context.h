// A real GL context for pixel tests: an 800 x 600 window on whatever SDL video driver
// the test environment names (offscreen on llvmpipe under ctest), with the demo's view
// and scene setup, plus helpers to make textures and read pictures back.
#pragma once

#include "scene/scene.h"
#include "sound/soundtrack.h"

#include <SDL.h>
#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

// An RGB picture, rows top first (as a screenshot shows it).
struct test_image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t* at(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

// Reads the back buffer, top row first.
inline test_image read_back() {
    test_image image{800, 600, std::vector<uint8_t>(800 * 600 * 3)};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    for (int y = 0; y < 600; ++y) // GL counts rows from the bottom
        glReadPixels(0, 599 - y, 800, 1, GL_RGB, GL_UNSIGNED_BYTE, &image.rgb[y * 800 * 3]);
    return image;
}

// The modelview matrix, then the projection matrix.
inline std::vector<GLfloat> current_matrices() {
    std::vector<GLfloat> matrices(32);
    glGetFloatv(GL_MODELVIEW_MATRIX, matrices.data());
    glGetFloatv(GL_PROJECTION_MATRIX, matrices.data() + 16);
    return matrices;
}

inline GLint get_integer(GLenum name) {
    GLint value = 0;
    glGetIntegerv(name, &value);
    return value;
}

// A repeating, nearest-filtered 2D texture, first row at t = 0, as the loader makes them.
inline GLuint make_texture(int width, int height, const std::vector<uint8_t>& rgb) {
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, width, height, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    return name;
}

inline GLuint make_solid_texture(uint8_t r, uint8_t g, uint8_t b) {
    return make_texture(1, 1, {r, g, b});
}

// One context for the whole test program; each test starts from a fresh scene setup's
// state with the demo's view.
class GlSceneTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        window =
            SDL_CreateWindow("scene test", 0, 0, 800, 600, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        ASSERT_NE(window, nullptr) << SDL_GetError();
        context = SDL_GL_CreateContext(window);
        ASSERT_NE(context, nullptr) << SDL_GetError();
        hold_demo_clock(0);
        set_perspective_view(800, 600);
        setup_scene();
    }
    static void TearDownTestSuite() {
        SDL_GL_DeleteContext(context);
        SDL_DestroyWindow(window);
        SDL_Quit();
    }
    void SetUp() override {
        ASSERT_NE(context, nullptr);
        set_perspective_view(800, 600);
        glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
        glDisable(GL_BLEND);
        glDisable(GL_TEXTURE_2D);
        glEnable(GL_DEPTH_TEST);
        glClearColor(0.0f, 0.0f, 0.0f, 0.5f);
    }
    void TearDown() override { EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)); }

    // Clears and draws the layers alone, without glow or letterbox, at ms.
    static void draw_layers_at(int ms, bool with_overlays) {
        hold_demo_clock(ms);
        sample_demo_clock();
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glColor4f(1.0f, 1.0f, 1.0f, 1.0f); // what the letterbox hands over
        draw_background();
        draw_bars();
        if (with_overlays) {
            draw_fg_overlay();
            draw_scroll_overlay();
        }
    }

    static inline SDL_Window* window = nullptr;
    static inline SDL_GLContext context = nullptr;
};

// Where a pixel centre lands on the plane depth units in front of the eye, under the
// demo's 45 degree, 4:3 perspective. Rows are counted from the top.
struct world_point {
    double x, y;
};
inline world_point unproject(int px, int py, double depth) {
    const double half_height = depth * 0.41421356237309503; // tan(22.5 deg)
    const double half_width = half_height * 800.0 / 600.0;
    return {((px + 0.5) / 400.0 - 1.0) * half_width, (1.0 - (py + 0.5) / 300.0) * half_height};
}
// The size of one pixel in world units at that depth.
inline double pixel_size_at(double depth) {
    return 2.0 * depth * 0.41421356237309503 / 600.0;
}
