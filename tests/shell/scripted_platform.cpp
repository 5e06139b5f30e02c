// The scripted platform seam. See scripted_platform.h.
#include "scripted_platform.h"

#include <SDL.h>

#include <cstdio>

scripted_platform scripted;

namespace {

// The real GL side: one hidden offscreen window for the whole process, and the
// context the shell currently holds on it.
struct gl_side {
    SDL_Window* window;    // created on the first context, kept until exit
    SDL_GLContext context; // written by create/delete context
};
gl_side gl;

// A scripted run never waits for the real clock: a script that runs out ends the
// loop with a quit message whose code marks it.
constexpr uintptr_t ran_out_code = 0xDEAD;

bool record(const std::string& call) {
    bool fails = scripted.failing.count(call.substr(0, call.find(' '))) != 0;
    scripted.calls.push_back(fails ? call + " (fails)" : call);
    return !fails;
}

bool ensure_gl_window() {
    if (gl.window)
        return true;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "scripted platform: no video (%s)\n", SDL_GetError());
        return false;
    }
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    gl.window = SDL_CreateWindow("scripted", 0, 0, 800, 600, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!gl.window)
        std::fprintf(stderr, "scripted platform: no GL window (%s)\n", SDL_GetError());
    return gl.window != nullptr;
}

bool next_message(platform_message& message) {
    while (!scripted.script.empty()) {
        scripted_step step = scripted.script.front();
        scripted.script.pop_front();
        switch (step.kind) {
        case scripted_step::message:
            message = step.sent;
            return true;
        case scripted_step::no_message:
            ++scripted.passes_without_message;
            return false;
        case scripted_step::action:
            step.run();
            break;
        }
    }
    scripted.script_ran_out = true;
    message = {wm_quit, ran_out_code, 0};
    return true;
}

} // namespace

void reset_scripted_platform() {
    if (gl.context) {
        SDL_GL_MakeCurrent(gl.window, nullptr);
        SDL_GL_DeleteContext(gl.context);
        gl.context = nullptr;
    }
    scripted = scripted_platform{};
}

void send(unsigned code, uintptr_t wparam, intptr_t lparam) {
    scripted.script.push_back({scripted_step::message, {code, wparam, lparam}, nullptr});
}

void pass_without_message(int count) {
    for (int i = 0; i < count; ++i)
        scripted.script.push_back({scripted_step::no_message, {}, nullptr});
}

void then_run(std::function<void()> action) {
    scripted.script.push_back({scripted_step::action, {}, std::move(action)});
}

int count_calls(const std::string& prefix) {
    int count = 0;
    for (const std::string& call : scripted.calls)
        if (call.compare(0, prefix.size(), prefix) == 0)
            ++count;
    return count;
}

bool platform_open_display() {
    scripted.calls.push_back("open_display");
    return !scripted.display_missing;
}

void platform_close_display() {
    scripted.calls.push_back("close_display");
}

const char* platform_failure_reason() {
    return "scripted: no display";
}

platform_handle platform_get_instance_handle() {
    ++scripted.instance_handles_taken;
    return scripted_instance;
}

bool platform_register_class(const window_class& record_asked) {
    scripted.registrations.push_back(record_asked);
    bool ok = record(std::string("register_class ") +
                     (record_asked.class_name ? record_asked.class_name : "(null)"));
    if (ok)
        scripted.class_procedure = record_asked.procedure;
    return ok;
}

bool platform_unregister_class(const char* class_name, platform_handle instance) {
    std::string name = class_name ? class_name : "(null)";
    scripted.unregistrations.push_back({name, instance});
    bool ok = record("unregister_class " + name);
    if (ok)
        scripted.class_procedure = nullptr;
    return ok;
}

// Recorded as "change_display_mode WxHxB" for a fullscreen request and
// "restore_display_mode" for the return to the user's mode; other flags are spelled out.
// Only a request can fail; returning to the user's mode always works.
bool platform_change_display_settings(const display_mode_request* mode, uint32_t flags) {
    scripted.mode_changes.push_back(
        {mode != nullptr, mode ? *mode : display_mode_request{}, flags});
    std::string odd_flags = " flags=" + std::to_string(flags);
    if (!mode) {
        scripted.calls.push_back("restore_display_mode" + (flags == 0 ? "" : odd_flags));
        scripted.mode_changed = false;
        return true;
    }
    char call[96];
    std::snprintf(call, sizeof call, "change_display_mode %ux%ux%u",
                  static_cast<unsigned>(mode->pels_width), static_cast<unsigned>(mode->pels_height),
                  static_cast<unsigned>(mode->bits_per_pel));
    bool ok = record(call + (flags == cds_fullscreen ? "" : odd_flags));
    scripted.mode_changed = ok;
    return ok;
}

void platform_show_cursor(bool visible) {
    scripted.calls.push_back(visible ? "show_cursor 1" : "show_cursor 0");
    scripted.cursor_visible = visible;
}

bool platform_create_window(const char* title, int width, int height, bool popup) {
    char call[128];
    std::snprintf(call, sizeof call, "create_window %s %dx%d %s", title, width, height,
                  popup ? "popup" : "overlapped");
    return record(call);
}

bool platform_destroy_window() {
    return record("destroy_window");
}
void platform_show_window() {
    scripted.calls.push_back("show_window");
}
bool platform_get_device_context() {
    return record("get_device_context");
}
bool platform_release_device_context() {
    return record("release_device_context");
}

int platform_choose_pixel_format(const pixel_format_request& request) {
    scripted.pixel_requests.push_back(request);
    char call[128];
    std::snprintf(call, sizeof call, "choose_pixel_format flags=0x%x color=%d depth=%d stencil=%d",
                  static_cast<unsigned>(request.flags), request.color_bits, request.depth_bits,
                  request.stencil_bits);
    return record(call) ? 1 : 0;
}

bool platform_set_pixel_format(int format) {
    return record("set_pixel_format " + std::to_string(format));
}

bool platform_create_context() {
    if (!record("create_context"))
        return false;
    if (!ensure_gl_window())
        return false;
    gl.context = SDL_GL_CreateContext(gl.window);
    if (!gl.context) {
        std::fprintf(stderr, "scripted platform: no GL context (%s)\n", SDL_GetError());
        return false;
    }
    // Current only once the shell makes it so.
    SDL_GL_MakeCurrent(gl.window, nullptr);
    return true;
}

bool platform_make_context_current() {
    return record("make_context_current") && gl.context &&
           SDL_GL_MakeCurrent(gl.window, gl.context) == 0;
}

bool platform_make_no_context_current() {
    bool ok = record("make_no_context_current");
    if (ok && gl.window)
        SDL_GL_MakeCurrent(gl.window, nullptr);
    return ok;
}

bool platform_delete_context() {
    bool ok = record("delete_context");
    // The real context goes either way, so a failure path leaks nothing into the next test.
    if (gl.context) {
        SDL_GL_MakeCurrent(gl.window, nullptr);
        SDL_GL_DeleteContext(gl.context);
        gl.context = nullptr;
    }
    return ok;
}

void platform_swap_buffers() {
    scripted.calls.push_back("swap_buffers");
}

bool platform_peek_message(platform_message& message) {
    return next_message(message);
}

bool platform_wait_message(platform_message& message, int timeout_ms) {
    ++scripted.waits;
    if (timeout_ms <= 0 || timeout_ms > 100)
        scripted.calls.push_back("wait_message with timeout " + std::to_string(timeout_ms));
    return next_message(message);
}

void platform_post_quit_message(int exit_code) {
    scripted.calls.push_back("post_quit_message " + std::to_string(exit_code));
    // The quit message is next: the rest of the script has not happened yet.
    scripted.script.push_front(
        {scripted_step::message, {wm_quit, static_cast<uintptr_t>(exit_code), 0}, nullptr});
}

intptr_t platform_dispatch_message(const platform_message& message) {
    if (!scripted.class_procedure) {
        scripted.calls.push_back("dispatch_message without a registered class");
        return platform_default_window_proc(message);
    }
    return scripted.class_procedure(message.code, message.wparam, message.lparam);
}

intptr_t platform_default_window_proc(const platform_message& message) {
    char call[96];
    std::snprintf(call, sizeof call, "default_window_proc 0x%x 0x%lx", message.code,
                  static_cast<unsigned long>(message.wparam));
    scripted.calls.push_back(call);
    constexpr intptr_t default_result = 0x5EED;
    return default_result;
}

int platform_message_box(const char* text, const char* caption, unsigned style) {
    scripted.dialogs.push_back({caption, text, style});
    scripted.calls.push_back(std::string("message_box ") + caption + ": " + text);
    if ((style & 0x0F) != mb_yesno)
        return id_ok;
    if (scripted.answers.empty())
        return id_no;
    int answer = scripted.answers.front();
    scripted.answers.pop_front();
    return answer;
}
