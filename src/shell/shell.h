// Shell: the program's entry, its one window with a GL context, and the main loop.
// Main thread only. Runs over the platform seam (platform/platform.h).
#pragma once

#include "platform/platform.h"

// Creates the window, switching the display mode first when want_fullscreen is set,
// makes a GL context current on it and runs scene setup. Where the mode is not offered
// the user is asked whether to use a window instead, or with ask_without_mode unset
// the window is fullscreen at the desktop's own mode. Says which it opened; on failure
// the user has been told (a dialog) and whatever was created is gone again.
enum class window_opened { failed, fullscreen, windowed };
window_opened open_gl_window(const char* title, int width, int height, int bits,
                             bool want_fullscreen, bool ask_without_mode = true);

// Whether the window open now, or the last one, is fullscreen.
bool gl_window_fullscreen();

// Releases context and window and restores the display mode and cursor. Safe without a
// window; a context that would not let go is reported and the rest still released.
void close_gl_window();

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

// The keyboard as the loop sees it between passes.
struct key_state {
    bool held[key_count]; // down now
    // A key-down came since the last pass. A tap whose key-up arrives before the next
    // frame still counts once: on a slow frame both events are often pending together.
    bool tapped[key_count];
};
// Takes a key event into keys; any other event changes nothing. Pure.
void take_key_event(key_state& keys, const platform_event& event);

// What a pass does once its frame is drawn.
struct pass_actions {
    bool end;       // Escape, or the show is over: the frame is not presented
    int seek_count; // M and N: where the clock moves, forward first
    int seek_ms[2];
    bool toggle; // F1: reopen the window in the other mode
};
// The keys' part of a pass whose frame showed the show over or not, the clock reading
// clock_ms on it: Escape or the end ends the show, M and N held or tapped seek 400 ms
// from clock_ms (truncated), F1 toggles once per key-down, and never on a pass that
// ends. Leaves keys as the next pass finds them: F1's hold used up, no key tapped.
// Pure.
pass_actions step_keys(key_state& keys, bool show_over, float clock_ms);
