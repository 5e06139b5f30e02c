// The program's entry and its one loop: handle the window's events, and whenever none
// is pending draw a frame, present it and act on the held keys.
#include "shell/shell.h"

#include "platform/host.h"
#include "scene/scene.h"
#include "sound/soundtrack.h"

bool key_down[key_count];
bool window_active = true;

namespace {

struct loop_state {
    // Set by a key-down event since the last pass without an event. A tap whose key-up
    // arrives before the next frame still counts once: on a slow frame both events are
    // often pending together. Written by window_proc (set) and run_demo (cleared after
    // each such pass).
    bool key_pressed[key_count];
    bool close_asked; // written by window_proc; run_demo ends the loop before its next pass
    bool kiosk;       // started fullscreen in advance: nobody is asked; written by run_demo
};
loop_state loop;

constexpr const char* window_title = "Vornhal";
constexpr int window_bits = 32;

constexpr int key_seek_forward = 'm';
constexpr int key_seek_back = 'n';
constexpr float seek_step_ms = 400.0f;

// While minimised nothing is drawn; waiting this long for an event instead of polling
// keeps the loop from spinning a core.
constexpr int inactive_wait_ms = 10;

constexpr int exit_ok = 0;
constexpr int exit_failed = 1;
constexpr int exit_interrupted = 128; // plus the signal, as a shell reports a death by one

bool open_demo_window() {
    return open_gl_window(window_title, screen_width, screen_height, window_bits, fullscreen,
                          !loop.kiosk);
}

// Whether the loop acts on a key this pass: held now, or tapped since the last pass.
bool acted_on(int key) {
    return key_down[key] || loop.key_pressed[key];
}

// Truncates toward zero, so N early in the show asks for a negative position.
int seek_target_ms(float offset_ms) {
    return static_cast<int>(static_cast<double>(demo_time_ms) + offset_ms);
}

// The window's drawable as it is now, the size the next frame is aimed at.
struct drawable_size {
    int width_px, height_px;
};
drawable_size aim_window_frame() {
    drawable_size size = {0, 0};
    platform_drawable_size(size.width_px, size.height_px);
    aim_frame(size.width_px, size.height_px);
    return size;
}

// The frame fills the window's drawable, whatever its size, and is swapped in. While
// minimised the last frame drawn is presented again.
void present_window(drawable_size size) {
    present_frame(size.width_px, size.height_px);
    platform_swap_buffers();
}

bool is_key(int key) {
    return key >= 0 && key < key_count;
}

} // namespace

void window_proc(const platform_event& event) {
    switch (event.kind) {
    case event_kind::activated:
        window_active = true;
        break;
    case event_kind::minimised:
        window_active = false;
        break;
    case event_kind::close_asked:
        loop.close_asked = true;
        break;
    case event_kind::key_down:
        if (is_key(event.key))
            key_down[event.key] = loop.key_pressed[event.key] = true;
        break;
    case event_kind::key_up:
        if (is_key(event.key))
            key_down[event.key] = false;
        break;
    }
}

int run_demo(start_choice start) {
    fullscreen = true;
    window_active = true;
    loop = {};
    loop.kiosk = start == start_choice::fullscreen;
    for (bool& key : key_down)
        key = false;

    if (!platform_open_display())
        return exit_failed;

    // Kept exactly: the start question as the program has always asked it.
    if (start == start_choice::window ||
        (start == start_choice::ask &&
         platform_ask_yes_no("Start FullScreen?", "Would You Like To Run In Fullscreen Mode?",
                             dialog_icon::question) != dialog_answer::yes))
        fullscreen = false;

    if (!open_demo_window()) {
        platform_close_display();
        return exit_failed;
    }

    platform_event event;
    bool done = false;
    while (!done && !loop.close_asked && !interrupt_signal()) {
        if (platform_next_event(event, window_active ? 0 : inactive_wait_ms)) {
            window_proc(event);
            continue;
        }

        const drawable_size size = aim_window_frame();
        if ((window_active && !draw_frame()) || acted_on(key_escape))
            done = true;
        else
            present_window(size);

        // The seek keys act on the clock of the last drawn frame.
        if (acted_on(key_seek_forward))
            seek_soundtrack(seek_target_ms(seek_step_ms));
        if (acted_on(key_seek_back))
            seek_soundtrack(seek_target_ms(-seek_step_ms));

        // Once per key-down event: only a new press or an auto-repeat sets it again. A
        // pass that ended the show drops it: the show is over, there is nothing to reopen.
        bool toggle = acted_on(key_f1) && !done;
        key_down[key_f1] = false;
        for (bool& pressed : loop.key_pressed)
            pressed = false;
        if (toggle) {
            close_gl_window();
            fullscreen = !fullscreen;
            if (!open_demo_window()) {
                stop_soundtrack();
                platform_close_display();
                return exit_failed;
            }
        }
    }

    stop_soundtrack();
    close_gl_window();
    platform_close_display();
    return interrupt_signal() ? exit_interrupted + interrupt_signal() : exit_ok;
}
