// The operating-system seam: window, GL surface and context, message queue, display
// mode, cursor and message boxes. The window and loop logic above it sees only plain
// data: messages carry Windows message codes and virtual-key codes, so the logic reads
// the same whatever windowing system is underneath.
//
// Two implementations exist: platform_sdl.cpp (the real one, over SDL2, linked into
// the program) and a scripted one in the tests that replays a journal of messages and
// records every call. Main thread only.
#pragma once

#include <cstdint>

// Message codes.
constexpr unsigned wm_size = 0x0005;       // lparam: client width (low word), height (high)
constexpr unsigned wm_activate = 0x0006;   // wparam high word: nonzero while minimised
constexpr unsigned wm_close = 0x0010;      // the user asked to close the window
constexpr unsigned wm_quit = 0x0012;       // posted by platform_post_quit_message
constexpr unsigned wm_keydown = 0x0100;    // wparam: virtual-key code (also on auto-repeat)
constexpr unsigned wm_keyup = 0x0101;      // wparam: virtual-key code
constexpr unsigned wm_syscommand = 0x0112; // wparam: system command

// System commands.
constexpr uintptr_t sc_screensave = 0xF140;
constexpr uintptr_t sc_monitorpower = 0xF170;

// Virtual-key codes the program acts on. Letters and digits are their upper-case ASCII.
constexpr uintptr_t vk_return = 13;
constexpr uintptr_t vk_escape = 27;
constexpr uintptr_t vk_space = 32;
constexpr uintptr_t vk_left = 37; // up 38, right 39, down 40
constexpr uintptr_t vk_f1 = 112;  // F2..F12 follow

// Message box buttons, icons and answers.
constexpr unsigned mb_ok = 0x00;
constexpr unsigned mb_yesno = 0x04;
constexpr unsigned mb_iconstop = 0x10;
constexpr unsigned mb_iconquestion = 0x20;
constexpr unsigned mb_iconexclamation = 0x30;
constexpr unsigned mb_iconinformation = 0x40;
constexpr int id_ok = 1;
constexpr int id_yes = 6;
constexpr int id_no = 7;

// One window message: code plus two parameters.
struct platform_message {
    unsigned code;
    uintptr_t wparam;
    intptr_t lparam;
};

// What the drawing surface must offer. Filled once by the shell and handed to
// platform_choose_pixel_format.
constexpr unsigned pfd_draw_to_window = 0x04;
constexpr unsigned pfd_support_opengl = 0x20;
constexpr unsigned pfd_doublebuffer = 0x01;
struct pixel_format_request {
    unsigned flags;   // pfd_* bits
    int color_bits;   // red + green + blue + alpha
    int depth_bits;   // at least this many
    int stencil_bits; // at least this many
};

// Brings the display connection up for the whole run. False when there is no
// display at all; platform_failure_reason says why.
bool platform_open_display();
void platform_close_display();
const char* platform_failure_reason();

// Window class: registering makes windows possible, unregistering ends that. False
// on failure.
bool platform_register_class();
bool platform_unregister_class();

// Switches the display to exactly width x height at bits per pixel, for the next
// popup window. False when the display offers no such mode.
bool platform_change_display_mode(int width, int height, int bits);
// Returns the display to the user's own mode.
void platform_restore_display_mode();
void platform_show_cursor(bool visible);

// Creates the (hidden) window with the given client size: a popup covers the
// display mode chosen above, otherwise an ordinary resizable window with a frame.
bool platform_create_window(const char* title, int width, int height, bool popup);
bool platform_destroy_window();
// Shows the window, raises it and gives it the keyboard focus.
void platform_show_window();

// The window's drawing surface and its GL context.
bool platform_get_device_context();
bool platform_release_device_context();
int platform_choose_pixel_format(const pixel_format_request& request); // 0: none fits
bool platform_set_pixel_format(int format);
bool platform_create_context();
bool platform_make_context_current();
bool platform_make_no_context_current();
bool platform_delete_context();
void platform_swap_buffers();

// Message queue. Peek takes the next message without waiting; wait blocks for at
// most timeout_ms. Both return false when none came.
bool platform_peek_message(platform_message& message);
bool platform_wait_message(platform_message& message, int timeout_ms);
void platform_post_quit_message(int exit_code);
// What the system does with a message the program does not handle.
intptr_t platform_default_window_proc(const platform_message& message);

// Modal message box; buttons and icon are mb_* values. Returns id_ok, id_yes or
// id_no. When no box can be shown, the caption and text go to standard error and
// the answer is the one Escape would give (No, or OK).
int platform_message_box(const char* text, const char* caption, unsigned style);
