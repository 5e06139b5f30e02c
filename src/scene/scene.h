// Scene: lasting GL state, the image textures, and the drawing and presenting of each
// frame, as the window, the capture and the bench use them (the scene's own parts are
// in scene_internal.h). Everything here needs a current GL context and runs on the
// main thread only.
#pragma once

#include <GL/gl.h>

// The render size the glow's textures and viewports use. Fixed for the whole run;
// window resizes do not change it.
constexpr int screen_width = 800;
constexpr int screen_height = 600;

// Prepares a freshly created context: the render target, the fixed view of the render
// size, fixed state, textures, blur targets, a first frame drawn unseen, soundtrack.
// Never fails: a missing image leaves its layer untextured, missing music a silent
// clock.
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

// Aims the next frame at the window's drawable of that size (the real size in pixels,
// not the size asked for): at the render size it is drawn straight into it, else into
// the render target. Call before draw_frame.
void aim_frame(int drawable_width_px, int drawable_height_px);
// Puts the finished frame onto the drawable aim_frame was given, over black, every
// pixel opaque. Does not swap buffers.
void present_frame(int drawable_width_px, int drawable_height_px);
// Fills the window's drawable with opaque black. Does not swap buffers.
void present_black();
// Reads back width x height RGB pixels of the presented picture, bottom row first.
void read_presented_frame(int width_px, int height_px, unsigned char* rgb);
