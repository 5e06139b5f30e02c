// The scene layers: scrolling background, turning bars, two pulsing overlays and the
// letterbox. Every motion is a closed-form function of demo_time_ms, so a seek moves
// every layer at once. Time-dependent values are worked out in double precision from
// the single-precision clock and constants, then handed to GL in single precision.
#include "scene/scene_internal.h"
#include "sound/soundtrack.h"

#include <cmath>

// The overlays' alpha pulses: a tangent-warped sine (the foreground, which flickers
// near the tangent's poles) and a tangent-of-cosine wave (the scrolling overlay).
constexpr float overlay_tangent_rate = 0.00010001f;
constexpr float overlay_drift_rate = 1.0f / 7000.0f;
constexpr float overlay_alpha_scale = 0.2f;

void draw_background() {
    // Expects: modelview selected, colour opaque white (the letterbox's), blending off.
    // Leaves: GL_TEXTURE_2D on with bg_texture bound, texcoord (u, 1), modelview at -18.
    constexpr float background_depth = -18.0f;
    constexpr float background_scroll_per_ms = 1.0f / 55000.0f;
    constexpr float half_size = 10.0f;

    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, background_depth);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, bg_texture);

    const double u = static_cast<double>(demo_time_ms) * background_scroll_per_ms;
    const float s_left = static_cast<float>(u);
    const float s_right = static_cast<float>(u + 1.0);
    glBegin(GL_QUADS);
    glTexCoord2f(s_left, 0.0f);
    glVertex2f(-half_size, -half_size);
    glTexCoord2f(s_right, 0.0f);
    glVertex2f(half_size, -half_size);
    glTexCoord2f(s_right, 1.0f);
    glVertex2f(half_size, half_size);
    glTexCoord2f(s_left, 1.0f);
    glVertex2f(-half_size, half_size);
    glEnd();
}

void draw_bars() {
    // Expects: modelview selected; texturing may still be on (black modulates to black).
    // Leaves: colour (0, 0, 0, 1), GL_TEXTURE_2D still on, modelview at -10.
    constexpr float bars_depth = -10.0f;
    constexpr float bar_offset_amplitude = 3.0f;
    constexpr float bar_turn_divisor_ms = 600.0f;   // ms per degree of bar 0
    constexpr float bar_turn_divisor_step = 200.0f; // added for each further bar
    constexpr float bar_base_angle_step_deg = 800.0f;
    constexpr float bar_half_width = 0.3f;
    constexpr float bar_half_length = 10.0f;
    constexpr int bar_count = 8;

    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, bars_depth);
    glColor4f(0.0f, 0.0f, 0.0f, 1.0f);
    for (int i = 0; i < bar_count; ++i) {
        const double bar = i;
        // Summed in this order (quotient, then i, then 800 i) so the single-precision
        // angle comes out as the show has always drawn it.
        const double angle_deg =
            static_cast<double>(demo_time_ms) /
                (static_cast<double>(bar_turn_divisor_ms) + bar_turn_divisor_step * bar) +
            bar + bar_base_angle_step_deg * bar;
        const double offset_x = bar_offset_amplitude * std::sin(bar);

        glPushMatrix();
        glTranslatef(static_cast<float>(offset_x), 0.0f, 0.0f);
        glRotatef(static_cast<float>(angle_deg), 0.0f, 0.0f, 1.0f);
        glBegin(GL_QUADS);
        glVertex2f(-bar_half_width, bar_half_length);
        glVertex2f(bar_half_width, bar_half_length);
        glVertex2f(bar_half_width, -bar_half_length);
        glVertex2f(-bar_half_width, -bar_half_length);
        glEnd();
        glPopMatrix();
    }
}

// One additive overlay quad, 4 x 2 units, image top row at the top. A negative alpha
// is clamped to 0 by GL, so the overlay then adds nothing.
static void draw_overlay_quad(float depth, GLuint texture, double alpha, float s_left,
                              float s_right) {
    constexpr float half_width = 2.0f;
    constexpr float half_height = 1.0f;

    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, depth);
    glEnable(GL_TEXTURE_2D);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glEnable(GL_BLEND);
    glColor4f(1.0f, 1.0f, 1.0f, static_cast<float>(alpha));
    glBindTexture(GL_TEXTURE_2D, texture);
    glBegin(GL_QUADS);
    glTexCoord2f(s_left, 0.0f);
    glVertex2f(-half_width, half_height);
    glTexCoord2f(s_right, 0.0f);
    glVertex2f(half_width, half_height);
    glTexCoord2f(s_right, 1.0f);
    glVertex2f(half_width, -half_height);
    glTexCoord2f(s_left, 1.0f);
    glVertex2f(-half_width, -half_height);
    glEnd();
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
}

void draw_fg_overlay() {
    // Expects: modelview selected.
    // Leaves: texturing and blending off, blend (SRC_ALPHA, ONE), colour white, fg_texture
    // bound, modelview at -2.8.
    constexpr float fg_depth = -2.8f;
    const double t = demo_time_ms;
    // The tangent runs unguarded through its poles: the overlay flickers there.
    const double alpha =
        overlay_alpha_scale * std::sin(std::tan(t * overlay_tangent_rate) + t * overlay_drift_rate);
    draw_overlay_quad(fg_depth, fg_texture, alpha, 0.0f, 1.0f);
}

void draw_scroll_overlay() {
    // Expects: modelview selected.
    // Leaves: as the foreground overlay, with scroll_texture bound, modelview at -2.7.
    constexpr float scroll_depth = -2.7f;
    constexpr float scroll_per_ms = 0.005f; // one image width every 200 ms, towards +x
    const double t = demo_time_ms;
    const double alpha =
        overlay_alpha_scale *
        std::cos(std::tan(std::cos(t * overlay_tangent_rate)) + t * overlay_drift_rate);
    const double s_left = t * -scroll_per_ms;
    const double s_right = 1.0 - t * scroll_per_ms;
    draw_overlay_quad(scroll_depth, scroll_texture, alpha, static_cast<float>(s_left),
                      static_cast<float>(s_right));
}

void push_ortho_640x480() {
    constexpr double canvas_width = 640.0;
    constexpr double canvas_height = 480.0;
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0.0, canvas_width, canvas_height, 0.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
}

row_band letterbox_lit_rows() {
    constexpr double row_scale = screen_height / static_cast<double>(letterbox_canvas_height);
    return {static_cast<int>(std::floor(letterbox_top_band_bottom * row_scale)),
            static_cast<int>(std::ceil(letterbox_bottom_band_top * row_scale))};
}

void draw_letterbox() {
    // Expects: no texturing, blending off, depth test on, modelview selected, full viewport.
    // Leaves: colour opaque white (the next frame's background), both matrices as found.
    constexpr float canvas_width = 640.0f;
    constexpr float top_band_bottom = letterbox_top_band_bottom;
    constexpr float bottom_band_top = letterbox_bottom_band_top;
    constexpr float canvas_height = letterbox_canvas_height;

    push_ortho_640x480();
    glColor4f(0.0f, 0.0f, 0.0f, 1.0f);
    glBegin(GL_QUADS);
    glVertex2f(0.0f, 0.0f);
    glVertex2f(0.0f, top_band_bottom);
    glVertex2f(canvas_width, top_band_bottom);
    glVertex2f(canvas_width, 0.0f);
    glEnd();
    glBegin(GL_QUADS);
    glVertex2f(0.0f, bottom_band_top);
    glVertex2f(0.0f, canvas_height);
    glVertex2f(canvas_width, canvas_height);
    glVertex2f(canvas_width, bottom_band_top);
    glEnd();
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}
