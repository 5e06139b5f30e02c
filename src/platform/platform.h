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

// Opaque handle the system hands out; 0 means none.
using platform_handle = uintptr_t;

// The drawing surface the program asks for, laid out as the system's own record.
// Filled once by the shell and handed to platform_choose_pixel_format.
constexpr uint16_t pfd_record_version = 1;
constexpr uint32_t pfd_doublebuffer = 0x01;
constexpr uint32_t pfd_draw_to_window = 0x04;
constexpr uint32_t pfd_support_opengl = 0x20;
constexpr uint8_t pfd_type_rgba = 0;
constexpr uint8_t pfd_main_plane = 0;
struct pixel_format_request {
    uint16_t size;      // of this record, 40
    uint16_t version;   // pfd_record_version
    uint32_t flags;     // pfd_* bits
    uint8_t pixel_type; // pfd_type_rgba
    uint8_t color_bits; // bits of a colour-buffer pixel; 0: any
    uint8_t red_bits, red_shift, green_bits, green_shift, blue_bits, blue_shift;
    uint8_t alpha_bits, alpha_shift;
    uint8_t accum_bits, accum_red_bits, accum_green_bits, accum_blue_bits, accum_alpha_bits;
    uint8_t depth_bits;   // at least this many
    uint8_t stencil_bits; // at least this many
    uint8_t aux_buffers;
    uint8_t layer_type; // pfd_main_plane
    uint8_t reserved;
    uint32_t layer_mask, visible_mask, damage_mask;
};
static_assert(sizeof(pixel_format_request) == 40, "the record keeps the system's layout");

// The window class every window of the program belongs to. The procedure receives
// every message platform_dispatch_message hands on for the class's windows.
using window_procedure = intptr_t (*)(unsigned message, uintptr_t wparam, intptr_t lparam);
constexpr uint32_t cs_vredraw = 0x0001;
constexpr uint32_t cs_hredraw = 0x0002;
constexpr uint32_t cs_owndc = 0x0020;
// System icons and cursors, by name.
constexpr const char* idi_winlogo = "winlogo";
constexpr const char* idc_arrow = "arrow";
struct window_class {
    uint32_t style;             // cs_* bits
    window_procedure procedure; // never null
    int32_t class_extra_bytes;  // storage kept with the class
    int32_t window_extra_bytes; // storage kept with each window
    platform_handle instance;   // platform_get_instance_handle()
    const char* icon;           // a system icon name, or null for none
    const char* cursor;         // a system cursor name, or null for none
    platform_handle background; // brush that erases the client area; 0: none
    const char* menu_name;      // null: no menu
    const char* class_name;     // what windows and unregistering name it by
};

// A display mode request, laid out as the system's own record: zero everything, set
// size, the wanted fields and their dm_* bits in fields.
constexpr uint32_t dm_bitsperpel = 0x00040000;
constexpr uint32_t dm_pelswidth = 0x00080000;
constexpr uint32_t dm_pelsheight = 0x00100000;
constexpr uint32_t cds_fullscreen = 0x04; // a passing mode, for this program's windows only
struct display_mode_request {
    char device_name[32];
    uint16_t spec_version;
    uint16_t driver_version;
    uint16_t size; // of this record, 156
    uint16_t driver_extra;
    uint32_t fields;                 // dm_* bits: which of the values below are asked for
    uint8_t printer_or_position[16]; // printer settings or desktop position; unused here
    int16_t color, duplex, y_resolution, tt_option, collate; // printer settings
    char form_name[32];
    uint16_t log_pixels;
    uint32_t bits_per_pel;
    uint32_t pels_width;
    uint32_t pels_height;
    uint32_t display_flags;
    uint32_t display_frequency;
    uint32_t icm_method, icm_intent, media_type, dither_type, reserved1, reserved2;
    uint32_t panning_width, panning_height;
};
static_assert(sizeof(display_mode_request) == 156, "the record keeps the system's layout");

// Brings the display connection up for the whole run. False when there is no
// display at all; platform_failure_reason says why.
bool platform_open_display();
void platform_close_display();
const char* platform_failure_reason();

// The program's own module, which classes are registered for. Never 0.
platform_handle platform_get_instance_handle();

// Registering a class makes windows possible; unregistering it (by name and the
// instance it was registered for) ends that and fails while a window still uses it.
// False on failure, including a class already registered under that name.
bool platform_register_class(const window_class& record);
bool platform_unregister_class(const char* class_name, platform_handle instance);

// With a mode and cds_fullscreen: switches the display to exactly that mode for the
// next popup window; false when the display offers no such mode. With no mode and no
// flags: returns the display to the user's own mode.
bool platform_change_display_settings(const display_mode_request* mode, uint32_t flags);
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
// Hands a message to the procedure of the registered class and returns its result.
intptr_t platform_dispatch_message(const platform_message& message);
// What the system does with a message the program does not handle.
intptr_t platform_default_window_proc(const platform_message& message);

// Modal message box; buttons and icon are mb_* values. Returns id_ok, id_yes or
// id_no. When no box can be shown, the caption and text go to standard error and
// the answer is the one Escape would give (No, or OK).
int platform_message_box(const char* text, const char* caption, unsigned style);
