// The program's entry and its one loop: drain window messages, and whenever none is
// pending draw a frame, present it and act on the held keys.
#include "shell/shell.h"

#include "platform/platform.h"
#include "scene/scene.h"
#include "sound/soundtrack.h"

#include <cstdio>

unsigned char key_down[256];
unsigned char window_active = 1;

namespace {

struct loop_state {
    // 1 when a key-down message for the key came since the last pass without a
    // message. A tap whose key-up arrives before the next frame still counts once:
    // on a slow frame both messages are often queued together. Written by
    // window_proc (set) and run_demo (cleared after each such pass).
    unsigned char key_pressed[256];
};
loop_state loop;

constexpr const char* window_title = "Vornhal";
constexpr int window_width_px = 800;
constexpr int window_height_px = 600;
constexpr int window_bits = 32;

constexpr uintptr_t key_seek_forward = 'M';
constexpr uintptr_t key_seek_back = 'N';
constexpr float seek_step_ms = 400.0f;

// While minimised nothing is drawn; waiting this long for a message instead of
// polling keeps the loop from spinning a core.
constexpr int inactive_wait_ms = 10;

constexpr int exit_ok = 0;
constexpr int exit_failed = 1;

uint16_t low_word(uintptr_t value) {
    return static_cast<uint16_t>(value & 0xFFFF);
}
uint16_t high_word(uintptr_t value) {
    return static_cast<uint16_t>((value >> 16) & 0xFFFF);
}

bool open_demo_window() {
    return open_gl_window(window_title, window_width_px, window_height_px, window_bits,
                          fullscreen != 0);
}

// Whether the loop acts on a key this pass: held now, or tapped since the last pass.
bool acted_on(uintptr_t key) {
    return key_down[key] || loop.key_pressed[key];
}

// Truncates toward zero, so N early in the show asks for a negative position.
int seek_target_ms(float offset_ms) {
    return static_cast<int>(static_cast<double>(demo_time_ms) + offset_ms);
}

} // namespace

intptr_t window_proc(unsigned message, uintptr_t wparam, intptr_t lparam) {
    switch (message) {
    case wm_activate:
        window_active = high_word(wparam) == 0 ? 1 : 0;
        return 0;
    case wm_syscommand:
        // No screen saver and no monitor power-down while the show runs. Commands are
        // compared whole.
        if (wparam == sc_screensave || wparam == sc_monitorpower)
            return 0;
        break;
    case wm_close:
        platform_post_quit_message(0);
        return 0;
    case wm_keydown:
        if (wparam < sizeof key_down) {
            key_down[wparam] = 1;
            loop.key_pressed[wparam] = 1;
        }
        return 0;
    case wm_keyup:
        if (wparam < sizeof key_down)
            key_down[wparam] = 0;
        return 0;
    case wm_size:
        resize_view(low_word(static_cast<uintptr_t>(lparam)),
                    high_word(static_cast<uintptr_t>(lparam)));
        return 0;
    }
    return platform_default_window_proc({message, wparam, lparam});
}

int run_demo() {
    fullscreen = 1;
    window_active = 1;
    loop = {};
    for (unsigned char& key : key_down)
        key = 0;

    if (!platform_open_display()) {
        std::fprintf(stderr, "vornhal: no display to show the demo on (%s)\n",
                     platform_failure_reason());
        return exit_failed;
    }

    if (platform_message_box("Would You Like To Run In Fullscreen Mode?", "Start FullScreen?",
                             mb_yesno | mb_iconquestion) == id_no)
        fullscreen = 0;

    if (!open_demo_window()) {
        platform_close_display();
        return exit_failed;
    }

    platform_message message{};
    bool done = false;
    while (!done) {
        bool got = window_active ? platform_peek_message(message)
                                 : platform_wait_message(message, inactive_wait_ms);
        if (got) {
            if (message.code == wm_quit)
                break;
            platform_dispatch_message(message); // to window_proc, the class's procedure
            continue;
        }

        if ((window_active && !draw_frame()) || acted_on(vk_escape))
            done = true;
        else
            platform_swap_buffers();

        // The seek keys act on the clock of the last drawn frame.
        if (acted_on(key_seek_forward))
            seek_soundtrack(seek_target_ms(seek_step_ms));
        if (acted_on(key_seek_back))
            seek_soundtrack(seek_target_ms(-seek_step_ms));

        // Once per key-down message: only a new press or an auto-repeat sets it again.
        bool toggle = acted_on(vk_f1);
        key_down[vk_f1] = 0;
        for (unsigned char& pressed : loop.key_pressed)
            pressed = 0;
        if (toggle) {
            close_gl_window();
            fullscreen = fullscreen ? 0 : 1;
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
    return exit_ok;
}
