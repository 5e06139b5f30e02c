// The scripted platform seam. See scripted_platform.h.
#include "scripted_platform.h"

#include <SDL.h>

#include <algorithm>
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
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
        return false;
    for (SDL_GLattr attr :
         {SDL_GL_RED_SIZE, SDL_GL_GREEN_SIZE, SDL_GL_BLUE_SIZE, SDL_GL_ALPHA_SIZE})
        SDL_GL_SetAttribute(attr, 8);
    gl.window = SDL_CreateWindow("scripted", 0, 0, 800, 600, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!gl.window)
        std::fprintf(stderr, "scripted platform: %s\n", SDL_GetError());
    return gl.window != nullptr;
}

void drop_context() {
    if (gl.context) {
        SDL_GL_MakeCurrent(gl.window, nullptr);
        SDL_GL_DeleteContext(gl.context);
        gl.context = nullptr;
    }
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
    drop_context();
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
    return std::count_if(scripted.calls.begin(), scripted.calls.end(),
                         [&](const std::string& call) { return call.rfind(prefix, 0) == 0; });
}

// The instance handle the scripted platform hands out; calls naming another say so.
constexpr platform_handle scripted_instance = 0x5EED0000;

bool platform_open_display() {
    return record("open_display");
}
void platform_close_display() {
    scripted.calls.push_back("close_display");
}
const char* platform_failure_reason() {
    return "scripted: no display";
}
platform_handle platform_get_instance_handle() {
    return scripted_instance;
}

// Recorded with the fields of the record that the shell sets.
bool platform_register_class(const window_class& r) {
    char call[160];
    std::snprintf(
        call, sizeof call, "register_class %s style=0x%x icon=%s cursor=%s%s%s", r.class_name,
        r.style, r.icon, r.cursor, r.instance == scripted_instance ? "" : " another instance",
        r.menu_name || r.background || r.class_extra_bytes || r.window_extra_bytes ? " extras"
                                                                                   : "");
    bool ok = record(call);
    if (ok)
        scripted.class_procedure = r.procedure;
    return ok;
}

bool platform_unregister_class(const char* class_name, platform_handle instance) {
    bool ok = record(std::string("unregister_class ") + class_name +
                     (instance == scripted_instance ? "" : " another instance"));
    if (ok)
        scripted.class_procedure = nullptr;
    return ok;
}

// Recorded as "change_display_mode WxHxB" with the record's size, fields and the flags,
// and "restore_display_mode" for the return to the user's mode, which always works.
bool platform_change_display_settings(const display_mode_request* mode, uint32_t flags) {
    if (!mode) {
        scripted.calls.push_back("restore_display_mode" +
                                 (flags ? " flags=" + std::to_string(flags) : std::string()));
        scripted.mode_changed = false;
        return true;
    }
    char call[128];
    std::snprintf(call, sizeof call, "change_display_mode %ux%ux%u size=%u fields=0x%x flags=%u",
                  mode->pels_width, mode->pels_height, mode->bits_per_pel, mode->size, mode->fields,
                  flags);
    scripted.mode_changed = record(call);
    return scripted.mode_changed;
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
    return record("choose_pixel_format") ? 1 : 0;
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
    // Current only once the shell makes it so.
    SDL_GL_MakeCurrent(gl.window, nullptr);
    return gl.context != nullptr;
}

bool platform_make_context_current() {
    return record("make_context_current") && gl.context &&
           SDL_GL_MakeCurrent(gl.window, gl.context) == 0;
}

bool platform_make_no_context_current() {
    bool ok = record("make_no_context_current");
    if (ok)
        SDL_GL_MakeCurrent(gl.window, nullptr);
    return ok;
}

bool platform_delete_context() {
    bool ok = record("delete_context");
    drop_context(); // either way, so a failure path leaks nothing into the next test
    return ok;
}

void platform_swap_buffers() {
    scripted.calls.push_back("swap_buffers");
}

bool platform_peek_message(platform_message& message) {
    return next_message(message);
}

bool platform_wait_message(platform_message& message, int timeout_ms) {
    scripted.wait_timeouts_ms.push_back(timeout_ms);
    return next_message(message);
}

void platform_post_quit_message(int exit_code) {
    scripted.calls.push_back("post_quit_message " + std::to_string(exit_code));
    // The quit message is next: the rest of the script has not happened yet.
    scripted.script.push_front(
        {scripted_step::message, {wm_quit, static_cast<uintptr_t>(exit_code), 0}, nullptr});
}

intptr_t platform_dispatch_message(const platform_message& message) {
    if (!scripted.class_procedure)
        return platform_default_window_proc(message);
    return scripted.class_procedure(message.code, message.wparam, message.lparam);
}

intptr_t platform_default_window_proc(const platform_message& message) {
    scripted.calls.push_back("default_window_proc " + std::to_string(message.code));
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
