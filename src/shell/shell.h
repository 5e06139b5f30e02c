// Shell: the program's entry, its one window with a GL context, and the main loop.
// Main thread only. Runs over the platform seam (platform/platform.h).
#pragma once

#include <cstdint>

// 1 while the key with that virtual-key code is held. Written by window_proc.
extern unsigned char key_down[256];
// 0 while the window is minimised; no frame is drawn then. Written by window_proc.
extern unsigned char window_active;
// Whether the display runs in the program's own fullscreen mode.
extern unsigned char fullscreen;

// Creates the window, switching the display mode first when fullscreen_flag is set,
// makes a GL context current on it and runs scene setup. On failure the user has
// been told (a message box) and whatever was created is gone again.
bool open_gl_window(const char* title, int width, int height, int bits, bool fullscreen_flag);

// Releases context, surface, window and class, restores the display mode. Safe with
// any subset of them present; each failed release is reported and the rest still run.
void close_gl_window();

// Viewport and a 45-degree perspective for a client area; a height of 0 counts as 1.
// Needs a current GL context.
void resize_view(int width, int height);

// The whole program: asks for fullscreen, opens the window, runs the loop. Returns
// the process exit status: 0 when the show ended normally, 1 when it could not run.
int run_demo();

// Handles one window message: keys, activation, resizes, the close request.
intptr_t window_proc(unsigned message, uintptr_t wparam, intptr_t lparam);
