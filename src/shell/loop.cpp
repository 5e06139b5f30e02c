// The program's entry and its one loop: handle the window's events, and whenever none
// is pending draw a frame, present it and act on the held keys.
#include "shell/shell.h"

#include "datafiles/data_files.h"
#include "host/clock.h"
#include "platform/platform.h"
#include "scene/scene.h"
#include "sound/soundtrack.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

namespace {

struct loop_state {
    key_state keys;   // written by take_window_event, and by step_keys each pass
    bool active;      // false while minimised: no frame is drawn; written by take_window_event
    bool close_asked; // written by take_window_event; the loop ends before its next pass
    bool kiosk;       // started fullscreen in advance: nobody is asked; written by run_demo
    bool window_open; // written by open_demo_window and run_show
    FILE* frame_log;  // VORNHAL_FRAME_LOG, or null; opened and closed by run_demo
    bool shown;       // a frame has been presented; written by run_show
    int64_t pass_ns;  // when the last pass drew its frame; written by run_show
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

bool open_demo_window(bool want_fullscreen) {
    const window_opened opened = open_gl_window(window_title, screen_width, screen_height,
                                                window_bits, want_fullscreen, !loop.kiosk);
    loop.window_open = opened != window_opened::failed;
    return loop.window_open;
}

// Truncates toward zero, so N early in the show asks for a negative position.
int seek_target_ms(float clock_ms, float offset_ms) {
    return static_cast<int>(static_cast<double>(clock_ms) + offset_ms);
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

// For measuring smoothness from outside: with VORNHAL_FRAME_LOG=FILE set, one line is
// appended per presented frame, the monotonic time in milliseconds and the clock the
// frame drew. Nothing is written without it.
FILE* open_frame_log() {
    const char* path = std::getenv("VORNHAL_FRAME_LOG");
    if (!path || !*path)
        return nullptr;
    FILE* log = std::fopen(path, "a");
    if (!log)
        std::fprintf(stderr, "%s: cannot write the frame log %s: %s\n", program_name(), path,
                     std::strerror(errno));
    return log;
}

void close_frame_log() {
    if (loop.frame_log)
        std::fclose(loop.frame_log);
    loop.frame_log = nullptr;
}

void log_frame(float clock_ms) {
    if (!loop.frame_log)
        return;
    // Flushed at once, so a log of a stopped or killed show ends with its last frame.
    std::fprintf(loop.frame_log, "%.3f %.0f\n", monotonic_ns() / 1e6, clock_ms);
    std::fflush(loop.frame_log);
}

// Whether the frame just drawn is presented. Until the music's first note is heard the
// picture is kept back: the frames are drawn unseen, at the pace they take, the window
// kept black, and the one that finishes nearest the note's moment is the first shown.
// From then on every frame is.
bool frame_due(int64_t now_ns) {
    const int64_t frame_ns = now_ns - loop.pass_ns;
    loop.pass_ns = now_ns;
    int64_t note_ns = -1;
    if (!loop.shown && awaiting_first_note(note_ns) &&
        (note_ns < 0 || now_ns + frame_ns / 2 < note_ns))
        return false;
    loop.shown = true;
    return true;
}

// One event of the window: keys, activation, the close request.
void take_window_event(const platform_event& event) {
    switch (event.kind) {
    case event_kind::activated:
        loop.active = true;
        break;
    case event_kind::minimised:
        loop.active = false;
        break;
    case event_kind::close_asked:
        loop.close_asked = true;
        break;
    case event_kind::key_down:
    case event_kind::key_up:
        take_key_event(loop.keys, event);
        break;
    }
}

} // namespace

void take_key_event(key_state& keys, const platform_event& event) {
    if (event.key < 0 || event.key >= key_count)
        return;
    if (event.kind == event_kind::key_down)
        keys.held[event.key] = keys.tapped[event.key] = true;
    else if (event.kind == event_kind::key_up)
        keys.held[event.key] = false;
}

pass_actions step_keys(key_state& keys, bool show_over, float clock_ms) {
    auto acted_on = [&keys](int key) { return keys.held[key] || keys.tapped[key]; };
    pass_actions actions = {};
    actions.end = show_over || acted_on(key_escape);
    if (acted_on(key_seek_forward))
        actions.seek_ms[actions.seek_count++] = seek_target_ms(clock_ms, seek_step_ms);
    if (acted_on(key_seek_back))
        actions.seek_ms[actions.seek_count++] = seek_target_ms(clock_ms, -seek_step_ms);
    // Once per key-down event: only a new press or an auto-repeat sets it again. A pass
    // that ends the show drops it: the show is over, there is nothing to reopen.
    actions.toggle = acted_on(key_f1) && !actions.end;
    keys.held[key_f1] = false;
    for (bool& tapped : keys.tapped)
        tapped = false;
    return actions;
}

namespace {

// The start question, the window and the loop, until the show ends or cannot go on;
// returns the exit status. run_demo tears down whatever it leaves open.
int run_show(start_choice start) {
    // Kept exactly: the start question as the program has always asked it.
    const bool want_fullscreen =
        start == start_choice::fullscreen ||
        (start == start_choice::ask &&
         platform_ask_yes_no("Start FullScreen?", "Would You Like To Run In Fullscreen Mode?",
                             dialog_icon::question) == dialog_answer::yes);
    if (!open_demo_window(want_fullscreen))
        return exit_failed;

    platform_event event;
    bool done = false;
    loop.pass_ns = monotonic_ns();
    while (!done && !loop.close_asked && !interrupt_signal()) {
        if (platform_next_event(event, loop.active ? 0 : inactive_wait_ms)) {
            take_window_event(event);
            continue;
        }

        const drawable_size size = aim_window_frame();
        const bool show_over = loop.active && !draw_frame();
        // The seek keys act on the clock of the last drawn frame.
        const pass_actions actions = step_keys(loop.keys, show_over, demo_time_ms);
        done = actions.end;
        if (!done && frame_due(monotonic_ns())) {
            present_window(size);
            log_frame(demo_time_ms);
        } else if (!done) {
            // Black until the first note, redrawn each pass: the window may have been
            // mapped, resized or exposed since.
            present_black();
            platform_swap_buffers();
        }
        for (int i = 0; i < actions.seek_count; ++i)
            seek_soundtrack(actions.seek_ms[i]);
        if (actions.toggle) {
            const bool was_fullscreen = gl_window_fullscreen();
            close_gl_window();
            loop.window_open = false;
            if (!open_demo_window(!was_fullscreen))
                return exit_failed;
        }
    }
    return interrupt_signal() ? exit_interrupted + interrupt_signal() : exit_ok;
}

} // namespace

int run_demo(start_choice start) {
    loop = {};
    loop.active = true;
    loop.kiosk = start == start_choice::fullscreen;

    if (!platform_open_display())
        return exit_failed;
    loop.frame_log = open_frame_log();
    const int status = run_show(start);
    // One way out, however the show ended.
    const bool sound_stopped = stop_soundtrack();
    if (loop.window_open)
        close_gl_window();
    platform_close_display(!sound_stopped);
    close_frame_log();
    if (!sound_stopped) {
        // A driver still holds the sound thread: nothing it may use is torn down.
        std::fflush(nullptr);
        _exit(status);
    }
    return status;
}
