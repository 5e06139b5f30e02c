// The operating-system seam: the display, dialogs, the display mode, the cursor, the
// one window with its GL context, its events and presenting, and the signals that ask
// the program to end. Everything above it speaks in the program's own events and key
// codes.
//
// Two implementations of the window side exist: platform_sdl.cpp (the real one, over
// SDL2, linked into the program) and a scripted one in the shell tests that replays
// events and records what was asked of it. The signals are interrupt.cpp's, in both.
// Main thread only, but for interrupt_signal.
#pragma once

// Key codes of the program's own, all below key_count: a key that types a character of
// ISO 8859-1 has that character's code (letters in lower case: 'm', 'n'), F1 to F12
// are key_f1 onwards (codes no key types). Every other key is never reported.
constexpr int key_count = 256;
constexpr int key_escape = 27;
constexpr int key_f1 = 0x80; // F2..F12 follow

enum class event_kind {
    key_down,    // key pressed, and again on each auto-repeat
    key_up,      // key released
    activated,   // the window is up and may be drawn (restored, or focus came or went)
    minimised,   // the window is minimised; nothing of it is seen
    close_asked, // the user asked to close the window
};

struct platform_event {
    event_kind kind;
    int key; // key_down, key_up: the key's code
};

enum class dialog_icon { question, warning, stop, information };

// Which step of creating the window failed; each leaves nothing behind.
enum class window_step { none, window, context, make_current };

// Brings the display up for the whole run, with the screen saver kept off. False when
// there is no display at all, after saying why on standard error.
bool platform_open_display();
// Takes the display down, with the window if one is left, and SDL with it; with
// leave_audio, SDL's audio is left as it stands (a thread is still held in its driver),
// and only the display goes. Safe to call again.
void platform_close_display(bool leave_audio = false);

// Modal dialogs. When no dialog can be shown (no fonts, no dialog program), the caption,
// text and the reason go to standard error and ask_yes_no answers not_shown.
enum class dialog_answer { yes, no, not_shown };
dialog_answer platform_ask_yes_no(const char* caption, const char* text, dialog_icon icon);
void platform_tell(const char* caption, const char* text, dialog_icon icon);

// Switches the display to exactly width x height x bits for the next fullscreen window;
// false when the display offers no such mode. Restore returns it to the user's own.
bool platform_switch_display_mode(int width_px, int height_px, int bits);
void platform_restore_display_mode();
void platform_show_cursor(bool visible);

// Creates the window with a client area of that size (fullscreen: bare over the switched
// mode, or over the desktop's own mode when none was switched; else a resizable framed
// one) on the program's surface format (gl_surface.h), makes a GL context current on it,
// paced to the display where the driver allows, shows it and gives it the keyboard
// focus.
window_step platform_create_window(const char* title, int width_px, int height_px, bool fullscreen);
// Releases context and window; their window events still pending are never reported.
// False when the context would not let go of the thread; the rest is released anyway.
bool platform_destroy_window();
// Presents the back buffer; nothing without a window.
void platform_swap_buffers();
// The window's drawable in pixels as it really is now, which may differ from the size
// asked for (a resized window, a compositor's fullscreen, a HiDPI screen); 0 x 0
// without a window.
void platform_drawable_size(int& width_px, int& height_px);

// The next event: waits up to wait_ms for one (0: only takes one already pending).
bool platform_next_event(platform_event& event, int wait_ms);

// Takes Ctrl-C (SIGINT) and SIGTERM from now on: interrupt_signal() then says which came,
// and a program that has not ended a second later is ended by it, with the children of
// its session (dialogs) killed. Call first thing in main, before any thread starts.
void watch_interrupts();
// The signal that asked the program to end, or 0. Any thread.
int interrupt_signal();
