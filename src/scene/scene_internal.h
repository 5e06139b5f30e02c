// The scene's own declarations, shared by its files, its tests and its bench; callers
// outside the scene use scene.h. Everything here needs a current GL context unless it
// says not.
#pragma once

#include "scene/scene.h"

// Image textures, loaded anew by every setup_scene (0 when an image failed to load).
extern GLuint bg_texture;
extern GLuint fg_texture;
extern GLuint scroll_texture;

// The fixed view setup_scene sets: viewport width x height, a 45 degree perspective of
// that aspect (near 0.1, far 100), modelview selected and identity. A height of 0
// counts as 1.
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

// Rows [first, end) of a picture, bottom row first as GL counts them.
struct row_band {
    int first, end;
};
constexpr row_band whole_frame_rows = {0, screen_height};

// Glow post-process and its two copy textures. The glow works only on the rows that can
// reach visible (glow_reach); the frame outside them is left as the glow found it.
extern GLuint blur_full_texture;
extern GLuint blur_half_texture;
void create_blur_targets();
void draw_screen_quad(int width, int height, int offset_s, int offset_t);
void apply_glow(float radius, float multiply_passes, float strength, float gain,
                row_band visible = whole_frame_rows);

// The rows each step of a glow of blur_steps one-texel steps works on, so that the rows
// of visible come out exactly as a glow over the whole frame gives them. Pure.
struct glow_rows {
    row_band frame;   // full size: what the layers draw and the glow saves and reduces
    row_band bright;  // half size: the bright pass and its copy, which the blur along x reads
    row_band across;  // half size: the blur along x and its copy, which the blur along y reads
    row_band blurred; // half size: the blur along y and its copy, which the composite enlarges
    row_band visible; // full size: the composite
};
glow_rows glow_reach(int blur_steps, row_band visible);

// Draws the frame as draw_frame does, working only on the rows that can reach visible:
// the letterbox's lit rows for the show, every row for a reference of the whole work.
bool draw_frame_rows(row_band visible);

// The letterbox, on the 640 x 480 canvas that push_ortho_640x480 sets: black from the
// top edge down to top_band_bottom and from bottom_band_top to the bottom edge.
constexpr float letterbox_canvas_height = 480.0f;
constexpr float letterbox_top_band_bottom = 180.0f;
constexpr float letterbox_bottom_band_top = 300.0f;
// The rows of the render size that the letterbox leaves lit; it is symmetric, so which
// way the canvas runs does not matter.
row_band letterbox_lit_rows();

// Rows of the picture, and the drawable rows they land on, bottom row first: picture
// rows [picture_first, picture_end) fill drawable rows [drawable_first, drawable_end).
struct present_rows {
    int picture_first, picture_end;
    int drawable_first, drawable_end;
};
// Which rows of a picture scaled to height_px and placed at drawable row y need to be
// filtered onto the drawable: the rows the letterbox leaves lit, with a margin for the
// filter, widened to where picture rows land on whole drawable rows, so every pixel
// comes out as a blit of the whole picture would give it. The rest is black. Pure.
present_rows lit_present_rows(int y, int height_px);
