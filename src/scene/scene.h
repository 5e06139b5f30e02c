// Scene: lasting GL state, the image textures, and the drawing of each frame.
// Everything here needs a current GL context and runs on the main thread only.
#pragma once

#include <GL/gl.h>

// The render size the glow's textures and viewports use. Fixed for the whole run;
// window resizes do not change it.
constexpr int screen_width = 800;
constexpr int screen_height = 600;

// Image textures, loaded anew by every setup_scene (0 when an image failed to load).
extern GLuint bg_texture;
extern GLuint fg_texture;
extern GLuint scroll_texture;

// Prepares a freshly created context: the render target, fixed state, textures,
// soundtrack, blur targets. Never fails: a missing image leaves its layer untextured,
// missing music a silent clock.
void setup_scene();

// Samples the demo clock and draws one complete picture into the render target (not
// presented). Returns false once the show is over (show_is_over), else true.
bool draw_frame();

// The end test draw_frame applies to the clock. The product stays in double: in single
// precision 142000 ms would round to exactly 142 s and the show would run one frame
// too long.
constexpr float ms_to_seconds = 0.001f;
constexpr double show_end_seconds = 142.0;
constexpr bool show_is_over(float clock_ms) {
    return static_cast<double>(clock_ms) * static_cast<double>(ms_to_seconds) > show_end_seconds;
}
// The show's length: the first whole millisecond of the clock that ends it. Frames at
// 0 .. show_length_ms - 1 are presented, so a renderer counts its frames by arithmetic.
constexpr int show_length_ms = 142000;
static_assert(show_is_over(show_length_ms) && !show_is_over(show_length_ms - 1),
              "show_length_ms is where the end test first holds");

// The view the window sets on every resize: viewport width x height, a 45 degree
// perspective of that aspect (near 0.1, far 100), modelview selected and identity.
// For renderers and tests that open their own context.
void set_perspective_view(int width, int height);

// The layers, in the order draw_frame calls them. Each needs the modelview matrix
// selected and demo_time_ms sampled for this frame.
void draw_background();
void draw_bars();
void draw_fg_overlay();
void draw_scroll_overlay();
void draw_letterbox();
void push_ortho_640x480();

// The render target: an offscreen framebuffer of the render size that every frame is
// drawn into, left bound for reading and drawing. Without framebuffers on the context
// (said once on standard error) frames go straight to the window, unscaled.
void create_render_target();
// Aims the next frame at the window's drawable of that size (the real size in pixels,
// not the size asked for): at the render size it is drawn straight into it, else into
// the render target. Call before draw_frame.
void aim_frame(int drawable_width_px, int drawable_height_px);
// Puts the finished frame onto the drawable aim_frame was given, over black, every
// pixel opaque. Does not swap buffers.
void present_frame(int drawable_width_px, int drawable_height_px);
// Reads back width x height RGB pixels of the presented picture, bottom row first.
void read_presented_frame(int width_px, int height_px, unsigned char* rgb);

// Glow post-process and its two copy textures.
extern GLuint blur_full_texture;
extern GLuint blur_half_texture;
void create_blur_targets();
void draw_screen_quad(int width, int height, int offset_s, int offset_t);
void apply_glow(float radius, float multiply_passes, float strength, float gain);
