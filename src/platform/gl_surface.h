// The one GL surface format every window and offscreen context of the program asks
// for, and an offscreen context on it for what draws the show with no display (the
// capture, the bench, the tests). Main thread only.
#pragma once

// Asks SDL for the demo's surface: RGBA, 8 bits a channel, 16-bit depth, no stencil,
// double buffered. Call before creating the window whose context should get it.
constexpr int gl_channel_bits = 8;
constexpr int gl_depth_bits = 16;
void set_gl_surface_attributes();
// Opens a hidden width x height window on SDL's offscreen driver (a driver named in the
// environment wins) with that surface, and makes a GL context current on it. False,
// after one line on standard error naming program, when it cannot.
bool open_offscreen_gl(const char* program, int width_px, int height_px);
