// Glow post-process: the finished frame is reduced to half size, multiplied by itself
// (dark areas fall away), box-blurred along x then y, and laid back over the whole
// picture several times with the untouched frame added on top. Every image stays on
// the GL side: copies from the frame being drawn into two rectangle textures, never a
// read.
#include "scene/scene_internal.h"

#include <GL/glext.h>
#include <algorithm>
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

// The texture rows a pass reads when it draws rows written of a viewport viewport_rows
// tall from a texture texture_rows tall, its sampled window moved up to steps whole
// texels either way. Each pixel samples at (y + 0.5) * texture_rows / viewport_rows; a
// linear filter reaches the texel there and one on either side (its second tap, and a
// sample a hair off a texel's centre), and reads beyond an edge clamp to the edge.
static row_band rows_read(row_band written, int viewport_rows, int texture_rows, int steps) {
    if (written.first >= written.end)
        return {0, 0};
    auto texel_under = [&](int y) { return (2 * y + 1) * texture_rows / (2 * viewport_rows); };
    return {std::max(0, texel_under(written.first) - 1 - steps),
            std::min(texture_rows, texel_under(written.end - 1) + 2 + steps)};
}

glow_rows glow_reach(int blur_steps, row_band visible) {
    // Worked back from what must come out right: the composite enlarges the blurred
    // image and adds the saved frame 1:1; each blur reads its own rows moved by up to
    // blur_steps texels (the blur along x moves none); the bright pass reduces the
    // saved frame.
    const int half_h = screen_height / 2;
    glow_rows rows;
    rows.visible = {std::max(visible.first, 0), std::min(visible.end, screen_height)};
    rows.blurred = rows_read(rows.visible, screen_height, half_h, 0);
    rows.across = rows_read(rows.blurred, half_h, half_h, blur_steps);
    rows.bright = rows_read(rows.across, half_h, half_h, 0);
    const row_band reduced = rows_read(rows.bright, half_h, screen_height, 0);
    const row_band added = rows_read(rows.visible, screen_height, screen_height, 0);
    rows.frame = {std::min(reduced.first, added.first), std::max(reduced.end, added.end)};
    return rows;
}

// Keeps the next passes to those rows of the lower-left width columns.
static void scissor_rows(int width, row_band rows) {
    glScissor(0, rows.first, width, rows.end - rows.first);
}

// Replaces those rows of level 0 of the bound rectangle texture, width texels wide,
// with the same rows of the frame being drawn (the render target, or the window drawn
// straight into). The texture keeps its size and its other rows.
static void copy_rows_to_texture(int width, row_band rows) {
    glCopyTexSubImage2D(GL_TEXTURE_RECTANGLE_ARB, 0, 0, rows.first, 0, rows.first, width,
                        rows.end - rows.first);
}

// One (2n + 1)-tap box pass over rows of the scratch area, along x (step_s 1) or y
// (step_t 1): the unshifted tap replaces, the shifted ones add, each weighted by the
// current colour's alpha. Expects: the image to blur in the half texture, bound;
// blending and the scissor test on. Leaves: the blurred rows in the half texture and
// the scratch area.
static void blur_pass(int half_w, int half_h, int blur_steps, int step_s, int step_t,
                      row_band rows) {
    scissor_rows(half_w, rows);
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
    copy_rows_to_texture(half_w, rows);
}

void apply_glow(float radius, float multiply_passes, float strength, float gain, row_band visible) {
    const int full_w = screen_width;
    const int full_h = screen_height;
    const int half_w = screen_width / 2;
    const int half_h = screen_height / 2;
    // Truncated toward zero; the tap weight keeps the untruncated radius.
    const int blur_steps = static_cast<int>(radius);
    const int multiply_count = static_cast<int>(multiply_passes);
    const float tap_weight = gain / (2.0f * radius + 1.0f);
    // Every pass below writes only the rows it must for visible to come out right; the
    // textures keep stale rows outside them, which nothing reads.
    const glow_rows rows = glow_reach(blur_steps, visible);

    // Expects: the finished layers in rows.frame of the frame being drawn, any viewport
    // and matrices. Leaves: rectangle texturing and the scissor test on, the frame
    // saved, depth test off, the unit square filling the half-size scratch area in the
    // lower-left corner.
    glEnable(GL_TEXTURE_RECTANGLE_ARB);
    glEnable(GL_SCISSOR_TEST);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    glDisable(GL_DEPTH_TEST);
    glBindTexture(GL_TEXTURE_RECTANGLE_ARB, blur_full_texture);
    copy_rows_to_texture(full_w, rows.frame);
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
    scissor_rows(half_w, rows.bright);
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
    copy_rows_to_texture(half_w, rows.bright);

    // Blur, along x then y. Leaves: the blurred image in the half texture; colour alpha
    // tap_weight, which stays the current colour after the glow.
    glColor4f(1.0f, 1.0f, 1.0f, tap_weight);
    blur_pass(half_w, half_h, blur_steps, 1, 0, rows.across);
    blur_pass(half_w, half_h, blur_steps, 0, 1, rows.blurred);

    // Composite. Expects: the blurred image in the half texture.
    // Leaves: blurred image x layers + the saved frame over the full viewport; blending
    // on with (ONE, ONE), the full texture bound.
    glViewport(0, 0, full_w, full_h);
    scissor_rows(full_w, rows.visible);
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
    // viewport, rectangle texturing, blending and the scissor test off, depth test on.
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glDisable(GL_TEXTURE_RECTANGLE_ARB);
    glDisable(GL_SCISSOR_TEST);
    glEnable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
}
