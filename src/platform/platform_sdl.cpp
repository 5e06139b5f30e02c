// The platform seam over SDL2. "Registering the window class" brings SDL's video
// subsystem up and unregistering takes it down again; the class's procedure receives
// the dispatched messages. The device context stands for the window's GL surface;
// display modes are the ones the display lists.
#include "platform/platform.h"

#include <SDL.h>

#include <cstdio>
#include <deque>
#include <string>

namespace {

struct platform_state {
    bool display_open; // written by platform_open_display / platform_close_display
    // The one registered class: its name (empty when none), the instance it was
    // registered for and its procedure. Written by register / unregister.
    std::string class_name;
    platform_handle class_instance;
    window_procedure class_procedure;
    bool mode_pending;     // a fullscreen mode was chosen for the next popup window
    SDL_DisplayMode mode;  // that mode; written by platform_change_display_settings
    SDL_Window* window;    // written by create / destroy
    bool has_surface;      // written by get / release device context
    int surface_format;    // format set on the window's surface, 0 before
    SDL_GLContext context; // written by create / delete context
    // Messages translated from SDL events and posted quit messages, oldest first.
    // Written by the peek/wait/post functions.
    std::deque<platform_message> queue;
    char reason[256]; // why platform_open_display failed
};
platform_state platform;

// The one surface format windows get: RGBA with 8 bits a channel, a 16-bit depth
// buffer, double-buffered. X fixes a window's visual when it is created, so the
// format is set before creating the window and a request is checked against it.
constexpr int channel_bits = 8;
constexpr int surface_depth_bits = 16;
constexpr int surface_format_index = 1;

void set_surface_attributes() {
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, channel_bits);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, channel_bits);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, channel_bits);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, channel_bits);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, surface_depth_bits);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
}

uintptr_t virtual_key(SDL_Keycode key) {
    if (key >= SDLK_a && key <= SDLK_z)
        return 'A' + static_cast<uintptr_t>(key - SDLK_a);
    if (key >= SDLK_0 && key <= SDLK_9)
        return '0' + static_cast<uintptr_t>(key - SDLK_0);
    if (key >= SDLK_F1 && key <= SDLK_F12)
        return vk_f1 + static_cast<uintptr_t>(key - SDLK_F1);
    switch (key) {
    case SDLK_BACKSPACE:
        return 8;
    case SDLK_TAB:
        return 9;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
        return vk_return;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
        return 16;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
        return 17;
    case SDLK_LALT:
    case SDLK_RALT:
        return 18;
    case SDLK_PAUSE:
        return 19;
    case SDLK_ESCAPE:
        return vk_escape;
    case SDLK_SPACE:
        return vk_space;
    case SDLK_PAGEUP:
        return 33;
    case SDLK_PAGEDOWN:
        return 34;
    case SDLK_END:
        return 35;
    case SDLK_HOME:
        return 36;
    case SDLK_LEFT:
        return vk_left;
    case SDLK_UP:
        return vk_left + 1;
    case SDLK_RIGHT:
        return vk_left + 2;
    case SDLK_DOWN:
        return vk_left + 3;
    case SDLK_INSERT:
        return 45;
    case SDLK_DELETE:
        return 46;
    }
    return 0; // no virtual key: the program never sees it
}

uintptr_t activation(bool active, bool minimised) {
    constexpr uintptr_t minimised_flag = uintptr_t{1} << 16;
    return (active ? 1 : 0) | (minimised ? minimised_flag : 0);
}

// Adds the messages one SDL event stands for to the queue (none for most).
void translate_event(const SDL_Event& event) {
    switch (event.type) {
    case SDL_QUIT:
        platform.queue.push_back({wm_close, 0, 0});
        break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        if (uintptr_t code = virtual_key(event.key.keysym.sym))
            platform.queue.push_back({event.type == SDL_KEYDOWN ? wm_keydown : wm_keyup, code, 0});
        break;
    case SDL_WINDOWEVENT:
        if (!platform.window || event.window.windowID != SDL_GetWindowID(platform.window))
            break;
        switch (event.window.event) {
        case SDL_WINDOWEVENT_CLOSE:
            platform.queue.push_back({wm_close, 0, 0});
            break;
        case SDL_WINDOWEVENT_SIZE_CHANGED: {
            auto w = static_cast<uintptr_t>(event.window.data1) & 0xFFFF;
            auto h = static_cast<uintptr_t>(event.window.data2) & 0xFFFF;
            platform.queue.push_back({wm_size, 0, static_cast<intptr_t>(w | (h << 16))});
            break;
        }
        case SDL_WINDOWEVENT_MINIMIZED:
            platform.queue.push_back({wm_activate, activation(false, true), 0});
            break;
        case SDL_WINDOWEVENT_RESTORED:
        case SDL_WINDOWEVENT_FOCUS_GAINED:
            platform.queue.push_back({wm_activate, activation(true, false), 0});
            break;
        case SDL_WINDOWEVENT_FOCUS_LOST: {
            bool minimised = (SDL_GetWindowFlags(platform.window) & SDL_WINDOW_MINIMIZED) != 0;
            platform.queue.push_back({wm_activate, activation(false, minimised), 0});
            break;
        }
        }
        break;
    }
}

// Finds the listed mode of exactly that size and depth.
bool find_display_mode(uint32_t width, uint32_t height, uint32_t bits, SDL_DisplayMode& found) {
    constexpr int display_index = 0;
    int count = SDL_GetNumDisplayModes(display_index);
    for (int i = 0; i < count; ++i) {
        SDL_DisplayMode mode;
        if (SDL_GetDisplayMode(display_index, i, &mode) != 0)
            continue;
        // A pixel of 4 bytes counts as 32 bits: X reports depth 24 for those.
        uint32_t mode_bits =
            SDL_BYTESPERPIXEL(mode.format) == 4 ? 32 : SDL_BITSPERPIXEL(mode.format);
        if (static_cast<uint32_t>(mode.w) == width && static_cast<uint32_t>(mode.h) == height &&
            mode_bits == bits) {
            found = mode;
            return true;
        }
    }
    return false;
}

bool take_queued(platform_message& message) {
    if (platform.queue.empty())
        return false;
    message = platform.queue.front();
    platform.queue.pop_front();
    return true;
}

} // namespace

bool platform_open_display() {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        std::snprintf(platform.reason, sizeof platform.reason, "%s", SDL_GetError());
        return false;
    }
    // SDL falls back to drivers that draw into memory when it finds no display. Those
    // only count when asked for by name (headless capture and tests do that).
    const char* driver = SDL_GetCurrentVideoDriver();
    const char* requested = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    bool memory_only =
        driver && (SDL_strcmp(driver, "offscreen") == 0 || SDL_strcmp(driver, "dummy") == 0 ||
                   SDL_strcmp(driver, "evdev") == 0);
    if (memory_only && !(requested && *requested)) {
        std::snprintf(platform.reason, sizeof platform.reason,
                      "no X11 or Wayland display could be opened; is DISPLAY set?");
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    platform.display_open = true;
    return true;
}

void platform_close_display() {
    if (platform.display_open)
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    platform.display_open = false;
    platform.queue.clear();
    SDL_Quit();
}

const char* platform_failure_reason() {
    return platform.reason;
}

platform_handle platform_get_instance_handle() {
    // Any stable non-zero value names the program; the address of its state is one.
    return reinterpret_cast<platform_handle>(&platform);
}

// SDL windows carry the window manager's own icon and the arrow cursor; there is no
// other to give, nor a menu bar. Style bits need nothing: every window has its own GL
// surface and the program redraws it whole each frame, and the GL surface covers the
// client area, so no background is ever seen.
bool platform_register_class(const window_class& record) {
    auto default_or_none = [](const char* asked, const char* available) {
        return !asked || SDL_strcmp(asked, available) == 0;
    };
    if (!record.class_name || !*record.class_name || !record.procedure || record.instance == 0)
        return false;
    if (record.class_extra_bytes < 0 || record.window_extra_bytes < 0 || record.menu_name)
        return false;
    if (!default_or_none(record.icon, idi_winlogo) || !default_or_none(record.cursor, idc_arrow))
        return false;
    if (!platform.class_name.empty())
        return false; // the program has one class, and a name is registered only once
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
        return false;
    // The show runs without a screen saver.
    SDL_DisableScreenSaver();
    platform.class_name = record.class_name;
    platform.class_instance = record.instance;
    platform.class_procedure = record.procedure;
    return true;
}

bool platform_unregister_class(const char* class_name, platform_handle instance) {
    if (platform.class_name.empty() || !class_name || platform.class_name != class_name ||
        platform.class_instance != instance)
        return false; // no such class
    if (platform.window)
        return false; // a window still uses it
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    platform.class_name.clear();
    platform.class_instance = 0;
    platform.class_procedure = nullptr;
    return true;
}

bool platform_change_display_settings(const display_mode_request* mode, uint32_t flags) {
    if (!mode) {
        // Back to the user's own mode.
        if (platform.window)
            SDL_SetWindowFullscreen(platform.window, 0);
        platform.mode_pending = false;
        return true;
    }
    // Only a passing mode for the program's own windows, never a lasting change to
    // the user's settings; and only one that names its size and depth.
    constexpr uint32_t needed_fields = dm_bitsperpel | dm_pelswidth | dm_pelsheight;
    if (flags != cds_fullscreen || mode->size != sizeof *mode ||
        (mode->fields & needed_fields) != needed_fields)
        return false;
    SDL_DisplayMode found;
    if (!find_display_mode(mode->pels_width, mode->pels_height, mode->bits_per_pel, found))
        return false;
    platform.mode = found;
    platform.mode_pending = true;
    return true;
}

void platform_show_cursor(bool visible) {
    SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE);
}

bool platform_create_window(const char* title, int width, int height, bool popup) {
    if (platform.window || platform.class_name.empty())
        return false;
    set_surface_attributes();
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
    if (popup)
        flags |= platform.mode_pending ? SDL_WINDOW_FULLSCREEN : SDL_WINDOW_BORDERLESS;
    else
        flags |= SDL_WINDOW_RESIZABLE;
    platform.window = SDL_CreateWindow(title, 0, 0, width, height, flags);
    if (!platform.window)
        return false;
    if (popup && platform.mode_pending &&
        SDL_SetWindowDisplayMode(platform.window, &platform.mode) != 0) {
        SDL_DestroyWindow(platform.window);
        platform.window = nullptr;
        return false;
    }
    platform.surface_format = 0;
    return true;
}

bool platform_destroy_window() {
    if (!platform.window)
        return false;
    SDL_DestroyWindow(platform.window);
    platform.window = nullptr;
    // Events of the old window must not reach the next one.
    platform.queue.clear();
    return true;
}

void platform_show_window() {
    SDL_ShowWindow(platform.window);
    SDL_RaiseWindow(platform.window);
    SDL_SetWindowInputFocus(platform.window);
}

bool platform_get_device_context() {
    if (!platform.window || platform.has_surface)
        return false;
    platform.has_surface = true;
    return true;
}

bool platform_release_device_context() {
    if (!platform.has_surface)
        return false;
    platform.has_surface = false;
    return true;
}

// The one surface format meets a request for a double-buffered RGBA window surface
// of no more than its colour, alpha and depth bits, without stencil, accumulation or
// auxiliary buffers and without overlays.
int platform_choose_pixel_format(const pixel_format_request& request) {
    constexpr uint32_t needed = pfd_draw_to_window | pfd_support_opengl | pfd_doublebuffer;
    constexpr unsigned max_color_bits = 4 * channel_bits;
    if (!platform.has_surface || request.size != sizeof request ||
        request.version != pfd_record_version)
        return 0;
    if ((request.flags & needed) != needed || request.pixel_type != pfd_type_rgba ||
        request.layer_type != pfd_main_plane)
        return 0;
    if (request.color_bits > max_color_bits || request.alpha_bits > channel_bits ||
        request.depth_bits > surface_depth_bits)
        return 0;
    bool wants_accumulation = request.accum_bits | request.accum_red_bits |
                              request.accum_green_bits | request.accum_blue_bits |
                              request.accum_alpha_bits;
    if (request.stencil_bits != 0 || wants_accumulation || request.aux_buffers != 0)
        return 0;
    return surface_format_index;
}

bool platform_set_pixel_format(int format) {
    // A surface takes one format, once.
    if (!platform.has_surface || format != surface_format_index || platform.surface_format != 0)
        return false;
    platform.surface_format = format;
    return true;
}

bool platform_create_context() {
    if (!platform.window || platform.surface_format == 0 || platform.context)
        return false;
    platform.context = SDL_GL_CreateContext(platform.window);
    return platform.context != nullptr;
}

bool platform_make_context_current() {
    return platform.context && SDL_GL_MakeCurrent(platform.window, platform.context) == 0;
}

bool platform_make_no_context_current() {
    return SDL_GL_MakeCurrent(platform.window, nullptr) == 0;
}

bool platform_delete_context() {
    if (!platform.context)
        return false;
    SDL_GL_DeleteContext(platform.context);
    platform.context = nullptr;
    return true;
}

void platform_swap_buffers() {
    if (platform.window)
        SDL_GL_SwapWindow(platform.window);
}

bool platform_peek_message(platform_message& message) {
    SDL_Event event;
    while (platform.queue.empty() && SDL_PollEvent(&event))
        translate_event(event);
    return take_queued(message);
}

bool platform_wait_message(platform_message& message, int timeout_ms) {
    if (platform_peek_message(message))
        return true;
    SDL_Event event;
    if (SDL_WaitEventTimeout(&event, timeout_ms))
        translate_event(event);
    return platform_peek_message(message);
}

void platform_post_quit_message(int exit_code) {
    platform.queue.push_back({wm_quit, static_cast<uintptr_t>(exit_code), 0});
}

intptr_t platform_dispatch_message(const platform_message& message) {
    if (!platform.class_procedure)
        return platform_default_window_proc(message);
    return platform.class_procedure(message.code, message.wparam, message.lparam);
}

intptr_t platform_default_window_proc(const platform_message&) {
    return 0;
}

int platform_message_box(const char* text, const char* caption, unsigned style) {
    constexpr unsigned icon_mask = 0xF0;
    Uint32 flags = SDL_MESSAGEBOX_INFORMATION;
    switch (style & icon_mask) {
    case mb_iconexclamation:
        flags = SDL_MESSAGEBOX_WARNING;
        break;
    case mb_iconstop:
        flags = SDL_MESSAGEBOX_ERROR;
        break;
    }
    bool yes_no = (style & 0x0F) == mb_yesno;
    const SDL_MessageBoxButtonData yes_no_buttons[] = {
        {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, id_yes, "Yes"},
        {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, id_no, "No"},
    };
    const SDL_MessageBoxButtonData ok_button[] = {
        {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, id_ok,
         "OK"},
    };
    SDL_MessageBoxData box{};
    box.flags = flags;
    box.title = caption;
    box.message = text;
    box.numbuttons = yes_no ? 2 : 1;
    box.buttons = yes_no ? yes_no_buttons : ok_button;
    int answer = 0;
    if (SDL_ShowMessageBox(&box, &answer) != 0) {
        std::fprintf(stderr, "%s: %s\n", caption, text);
        return yes_no ? id_no : id_ok;
    }
    // Closing the box without a button counts as Escape.
    if (answer != id_yes && answer != id_no && answer != id_ok)
        return yes_no ? id_no : id_ok;
    return answer;
}
