// Glow post-process: the finished frame is reduced to half size, multiplied by itself
// (dark areas fall away), box-blurred along x then y, and laid back over the whole
// picture several times with the untouched frame added on top. Every image stays on
// the GL side: copies from the frame being drawn into two rectangle textures, never a
// read.
#include "scene/scene_internal.h"

#include <GL/glext.h>
#include <cstdlib>

GLuint blur_full_texture; // the finished frame, screen_width x screen_height
GLuint blur_half_texture; // the intermediate images, half size in each direction

// Defines level 0 of a new linear-filtered rectangle texture and leaves it bound.
static GLuint create_rectangle_target(int width, int height, const void* pixels) {
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, name);
    glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_RECTANGLE_ARB, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_RECTANGLE_ARB, 0, GL_RGB8, width, height, 0, GL_RGB, GL_UNSIGNED_BYTE,
                 pixels);
    return name;
}

void create_blur_targets() {
    // Both targets start black. Every call of apply_glow redefines each one before it
    // reads it, so should the zeros not fit in memory, undefined contents are just as
    // good and the targets are still created.
    const size_t size = static_cast<size_t>(screen_width) * screen_height * 3;
    void* zeros = std::calloc(size, 1);
    blur_full_texture = create_rectangle_target(screen_width, screen_height, zeros);
    blur_half_texture = create_rectangle_target(screen_width / 2, screen_height / 2, zeros);
    std::free(zeros);
}

void draw_screen_quad(int width, int height, int offset_s, int offset_t) {
    // Under the glow's projection the unit square fills the viewport, y = 1 at the
    // bottom. The offsets move the sampled window by whole texels: +i in s shows texel
    // column x + i in pixel column x.
    const float s0 = static_cast<float>(offset_s);
    const float t0 = static_cast<float>(offset_t);
    const float s1 = static_cast<float>(width + offset_s);
    const float t1 = static_cast<float>(height + offset_t);
    glTexCoord2f(s0, t0);
    glVertex3f(0.0f, 1.0f, -1.0f);
    glTexCoord2f(s0, t1);
    glVertex3f(0.0f, 0.0f, -1.0f);
    glTexCoord2f(s1, t1);
    glVertex3f(1.0f, 0.0f, -1.0f);
    glTexCoord2f(s1, t0);
    glVertex3f(1.0f, 1.0f, -1.0f);
}

// Replaces level 0 of the bound rectangle texture with the lower-left width x height
// pixels of the frame being drawn (the render target, or the window drawn straight
// into).
static void copy_frame_to_texture(int width, int height) {
    glCopyTexImage2D(GL_TEXTURE_RECTANGLE_ARB, 0, GL_RGB, 0, 0, width, height, 0);
}

// One (2n + 1)-tap box pass over the scratch area, along x (step_s 1) or y (step_t 1):
// the unshifted tap replaces, the shifted ones add, each weighted by the current
// colour's alpha. Expects: the image to blur in the half texture, bound; blending on.
// Leaves: the blurred image in the half texture and the scratch area.
static void blur_pass(int half_w, int half_h, int blur_steps, int step_s, int step_t) {
    glBlendFunc(GL_SRC_ALPHA, GL_ZERO);
    glBegin(GL_QUADS);
    draw_screen_quad(half_w, half_h, 0, 0);
    glEnd();
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glBegin(GL_QUADS);
    for (int i = 1; i <= blur_steps; ++i) {
        draw_screen_quad(half_w, half_h, -i * step_s, -i * step_t);
        draw_screen_quad(half_w, half_h, i * step_s, i * step_t);
    }
    glEnd();
    copy_frame_to_texture(half_w, half_h);
}

void apply_glow(float radius, float multiply_passes, float strength, float gain) {
    const int full_w = screen_width;
    const int full_h = screen_height;
    const int half_w = screen_width / 2;
    const int half_h = screen_height / 2;
    // Truncated toward zero; the tap weight keeps the untruncated radius.
    const int blur_steps = static_cast<int>(radius);
    const int multiply_count = static_cast<int>(multiply_passes);
    const float tap_weight = gain / (2.0f * radius + 1.0f);

    // Expects: the finished layers in the frame being drawn, any viewport and matrices.
    // Leaves: rectangle texturing on with the frame saved, depth test off, the unit
    // square filling the half-size scratch area in the lower-left corner.
    glEnable(GL_TEXTURE_RECTANGLE_ARB);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    glDisable(GL_DEPTH_TEST);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, blur_full_texture);
    copy_frame_to_texture(full_w, full_h);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0.0, 1.0, 1.0, 0.0, 0.1, 100.0);
    glViewport(0, 0, half_w, half_h);

    // Bright pass. Expects: the saved frame bound, colour white.
    // Leaves: the reduced frame to the power k + 1 in the scratch area and in the half
    // texture, which stays bound; blending on with (DST_COLOR, ZERO).
    glBlendFunc(GL_DST_COLOR, GL_ZERO);
    glDisable(GL_BLEND);
    glBegin(GL_QUADS);
    draw_screen_quad(full_w, full_h, 0, 0); // 2 x 2 mean: linear taps between four pixels
    glEnd();
    glEnable(GL_BLEND);
    glBegin(GL_QUADS);
    for (int i = 0; i < multiply_count; ++i)
        draw_screen_quad(full_w, full_h, 0, 0);
    glEnd();
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, blur_half_texture);
    copy_frame_to_texture(half_w, half_h);

    // Blur, along x then y. Leaves: the blurred image in the half texture; colour alpha
    // tap_weight, which stays the current colour after the glow.
    glColor4f(1.0f, 1.0f, 1.0f, tap_weight);
    blur_pass(half_w, half_h, blur_steps, 1, 0);
    blur_pass(half_w, half_h, blur_steps, 0, 1);

    // Composite. Expects: the blurred image in the half texture.
    // Leaves: blurred image x layers + the saved frame over the full viewport; blending
    // on with (ONE, ONE), the full texture bound.
    glViewport(0, 0, full_w, full_h);
    glDisable(GL_BLEND);
    glBegin(GL_QUADS);
    draw_screen_quad(half_w, half_h, 0, 0);
    glEnd();
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
    glBegin(GL_QUADS);
    for (int i = 1; static_cast<float>(i) < strength; ++i)
        draw_screen_quad(half_w, half_h, 0, 0);
    glEnd();
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, blur_full_texture);
    glBegin(GL_QUADS);
    draw_screen_quad(full_w, full_h, 0, 0);
    glEnd();

    // Restore. Leaves: both matrices as on entry with modelview selected, the full-size
    // viewport, rectangle texturing and blending off, depth test on.
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glDisable(GL_TEXTURE_RECTANGLE_ARB);
    glEnable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
}
