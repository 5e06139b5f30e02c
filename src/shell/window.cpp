// The window, its drawing surface and GL context, and the projection that follows the
// client area. Everything the platform creates is torn down again in reverse order,
// so the window can be closed and opened any number of times (F1 does that).
#include "shell/shell.h"

#include "platform/platform.h"
#include "scene/scene.h"


unsigned char fullscreen = 1;

namespace {

struct window_state {
    platform_handle instance; // taken by open; cleared by close when unregistering fails
    bool has_window;          // written by open and close
    bool has_device_context;  // written by open and close
    bool has_context;         // written by open and close
    // Filled by the first open that gets this far and reused unchanged by every
    // later open, whatever bits those opens ask for.
    bool pixel_format_filled;
    pixel_format_request pixel_format;
};
window_state window;

constexpr const char* window_class_name = "OpenGL";
constexpr const char* error_caption = "ERROR";
constexpr const char* shutdown_caption = "SHUTDOWN ERROR";

void report_shutdown_error(const char* text) {
    platform_message_box(text, shutdown_caption, mb_ok | mb_iconinformation);
}

// Tears down what the open created so far, then tells the user why it stopped.
bool fail_open(const char* text) {
    close_gl_window();
    platform_message_box(text, error_caption, mb_ok | mb_iconexclamation);
    return false;
}

// Asks for exactly width x height at bits per pixel, for as long as the program runs
// fullscreen; every other setting stays as the user has it.
bool change_to_fullscreen_mode(int width, int height, int bits) {
    display_mode_request mode{};
    mode.size = sizeof mode;
    mode.pels_width = static_cast<uint32_t>(width);
    mode.pels_height = static_cast<uint32_t>(height);
    mode.bits_per_pel = static_cast<uint32_t>(bits);
    mode.fields = dm_bitsperpel | dm_pelswidth | dm_pelsheight;
    return platform_change_display_settings(&mode, cds_fullscreen);
}

} // namespace

bool open_gl_window(const char* title, int width, int height, int bits, bool fullscreen_flag) {
    fullscreen = fullscreen_flag ? 1 : 0;

    // Every window gets its own drawing surface and is redrawn whole on a resize; its
    // messages go to window_proc. No extra storage, no background, no menu.
    window.instance = platform_get_instance_handle();
    window_class record{};
    record.style = cs_hredraw | cs_vredraw | cs_owndc;
    record.procedure = window_proc;
    record.class_extra_bytes = 0;
    record.window_extra_bytes = 0;
    record.instance = window.instance;
    record.icon = idi_winlogo;
    record.cursor = idc_arrow;
    record.background = 0;
    record.menu_name = nullptr;
    record.class_name = window_class_name;
    if (!platform_register_class(record)) {
        platform_message_box("Failed To Register The Window Class.", error_caption,
                             mb_ok | mb_iconexclamation);
        return false;
    }

    if (fullscreen && !change_to_fullscreen_mode(width, height, bits)) {
        int answer = platform_message_box("The Requested Fullscreen Mode Is Not Supported By\n"
                                          "Your Video Card. Use Windowed Mode Instead?",
                                          "Oxlu", mb_yesno | mb_iconexclamation);
        if (answer != id_yes) {
            platform_message_box("Program Will Now Close.", error_caption, mb_ok | mb_iconstop);
            return false;
        }
        fullscreen = 0;
    }

    // A fullscreen window is a bare popup over the new mode, without a cursor.
    if (fullscreen)
        platform_show_cursor(false);

    if (!platform_create_window(title, width, height, fullscreen != 0))
        return fail_open("Window Creation Error.");
    window.has_window = true;

    if (!window.pixel_format_filled) {
        constexpr uint8_t depth_bits = 16;
        pixel_format_request& request = window.pixel_format;
        request = {}; // no alpha, accumulation, stencil or auxiliary buffers asked for
        request.size = sizeof request;
        request.version = pfd_record_version;
        request.flags = pfd_draw_to_window | pfd_support_opengl | pfd_doublebuffer;
        request.pixel_type = pfd_type_rgba;
        request.color_bits = static_cast<uint8_t>(bits);
        request.depth_bits = depth_bits;
        request.layer_type = pfd_main_plane;
        window.pixel_format_filled = true;
    }

    if (!platform_get_device_context())
        return fail_open("Can't Create A GL Device Context.");
    window.has_device_context = true;

    int format = platform_choose_pixel_format(window.pixel_format);
    if (format == 0)
        return fail_open("Can't Find A Suitable PixelFormat.");
    if (!platform_set_pixel_format(format))
        return fail_open("Can't Set The PixelFormat.");

    if (!platform_create_context())
        return fail_open("Can't Create A GL Rendering Context.");
    window.has_context = true;
    if (!platform_make_context_current())
        return fail_open("Can't Activate The GL Rendering Context.");

    platform_show_window();
    resize_view(width, height);

    if (!setup_scene())
        return fail_open("Initialization Failed.");
    return true;
}

void close_gl_window() {
    if (fullscreen) {
        platform_change_display_settings(nullptr, 0);
        platform_show_cursor(true);
    }
    if (window.has_context) {
        if (!platform_make_no_context_current())
            report_shutdown_error("Release Of DC And RC Failed.");
        if (!platform_delete_context())
            report_shutdown_error("Release Rendering Context Failed.");
        window.has_context = false;
    }
    if (window.has_device_context) {
        if (!platform_release_device_context())
            report_shutdown_error("Release Device Context Failed.");
        window.has_device_context = false;
    }
    if (window.has_window) {
        if (!platform_destroy_window())
            report_shutdown_error("Could Not Release hWnd.");
        window.has_window = false;
    }
    // Unregistering runs on every close, as registering runs on every open; a close
    // without a registered class reports the failure the system would.
    if (!platform_unregister_class(window_class_name, window.instance)) {
        report_shutdown_error("Could Not Unregister Class.");
        window.instance = 0;
    }
}

void resize_view(int width, int height) {
    // The scene owns the projection, so offline renderers set exactly the same one.
    set_perspective_view(width, height);
}
