// The scene's own declarations, shared by its files and its tests; callers outside the
// scene use scene.h. Everything here needs a current GL context unless it says not.
#pragma once

#include "scene/scene.h"

// The letterbox, on the 640 x 480 canvas that push_ortho_640x480 sets: black from the
// top edge down to top_band_bottom and from bottom_band_top to the bottom edge.
constexpr float letterbox_canvas_height = 480.0f;
constexpr float letterbox_top_band_bottom = 180.0f;
constexpr float letterbox_bottom_band_top = 300.0f;

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
