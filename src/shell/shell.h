// Shell: the program's entry, its one window with a GL context, and the main loop.
// Main thread only. Runs over the platform seam (platform/platform.h).
#pragma once

#include "platform/platform.h"

// True while the key with that code is held. Written by window_proc; run_demo clears
// F1's entry when it acts on it.
extern bool key_down[key_count];
// False while the window is minimised; no frame is drawn then. Written by window_proc
// (and set by run_demo at start).
extern bool window_active;
// Whether the display runs in the program's own fullscreen mode. Written by run_demo
// (the start question, F1) and open_gl_window (the windowed fallback).
extern bool fullscreen;

// Creates the window, switching the display mode first when fullscreen_flag is set,
// makes a GL context current on it and runs scene setup. Where the mode is not offered
// the user is asked whether to use a window instead, or with ask_without_mode unset
// the window is fullscreen at the desktop's own mode. On failure the user has been
// told (a dialog) and whatever was created is gone again.
bool open_gl_window(const char* title, int width, int height, int bits, bool fullscreen_flag,
                    bool ask_without_mode = true);

// Releases context and window and restores the display mode and cursor. Safe without a
// window; a context that would not let go is reported and the rest still released.
void close_gl_window();

// Viewport and a 45-degree perspective for the render size the frame is drawn at; a
// height of 0 counts as 1. The window's size never changes it: that only changes how
// the finished frame is presented. Needs a current GL context.
void resize_view(int width, int height);

// How the show starts: asking the user, as it always has, or as answered in advance.
enum class start_choice { ask, fullscreen, window };

// What the command line asks for; problem and argument say what was wrong with it.
struct command_line {
    start_choice start = start_choice::ask;
    const char* data_dir = nullptr; // --data DIR
    const char* problem = nullptr;
    const char* argument = nullptr;
};
enum class command_line_action { run, help, version, usage_error };
command_line_action parse_command_line(int argc, char** argv, command_line& options);
extern const char vornhal_usage[];
extern const char vornhal_version[];

// The whole program: asks for fullscreen (unless answered in advance), opens the
// window, runs the loop. Returns the process exit status: 0 when the show ended
// normally, 1 when it could not run, 128 + the signal when interrupted.
int run_demo(start_choice start = start_choice::ask);

// Handles one event of the window: keys, activation, the close request.
void window_proc(const platform_event& event);
