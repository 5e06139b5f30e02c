// The entry and main loop over the scripted platform: the start question, the ways the
// show ends and their exit statuses, the keys, and the window procedure. Frames are
// drawn by the real scene on a real GL context and the clock is the real soundtrack's,
// so clock checks allow for time passing while the test runs.
#include "scripted_platform.h"
#include "shell/shell.h"
#include "sound/soundtrack.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using calls_t = std::vector<std::string>;

constexpr uintptr_t minimised = uintptr_t{1} << 16;
const std::string popup = "Vornhal 800x600 popup";
const std::string overlapped = "Vornhal 800x600 overlapped";

class loop_test : public testing::Test {
  protected:
    void SetUp() override { reset_scripted_platform(); }
    void TearDown() override { reset_scripted_platform(); }

    // A fresh run that answers the start question with answers.
    static void start(std::deque<int> answers = {id_no}) {
        reset_scripted_platform();
        scripted.answers = std::move(answers);
    }

    // Runs the demo over the script built so far; the script must end the show.
    static int run() {
        int status = run_demo();
        EXPECT_FALSE(scripted.script_ran_out) << "the script ran out before the show ended";
        return status;
    }

    // The windows created, in order.
    static calls_t windows() {
        calls_t windows;
        for (const std::string& call : scripted.calls)
            if (call.rfind("create_window ", 0) == 0)
                windows.push_back(call.substr(14));
        return windows;
    }
};

void press(uintptr_t key) {
    send(wm_keydown, key);
    send(wm_keyup, key);
}

void escape_at_next_frame() {
    send(wm_keydown, vk_escape);
    pass_without_message();
}

// The start question picks the first window; every normal end then exits 0.
TEST_F(loop_test, every_normal_end_exits_zero_after_stopping_and_closing) {
    struct end_case {
        const char* name;
        int answer;
        std::function<void()> script;
    };
    const std::vector<end_case> cases = {
        {"escape held, fullscreen", id_yes, escape_at_next_frame},
        {"escape tapped between two frames", id_no,
         [] {
             press(vk_escape);
             pass_without_message();
         }},
        {"escape held while minimised", id_no,
         [] {
             send(wm_activate, minimised);
             escape_at_next_frame();
         }},
        {"window closed", id_no, [] { send(wm_close); }},
        {"show over", id_no,
         [] {
             then_run([] { seek_soundtrack(142500); });
             pass_without_message(3);
         }},
    };
    for (const end_case& c : cases) {
        SCOPED_TRACE(c.name);
        start({c.answer});
        pass_without_message();
        c.script();
        EXPECT_EQ(run(), 0);
        ASSERT_EQ(scripted.dialogs.size(), 1u) << "only the start question";
        EXPECT_EQ(scripted.dialogs[0].caption, "Start FullScreen?");
        EXPECT_EQ(scripted.dialogs[0].text, "Would You Like To Run In Fullscreen Mode?");
        EXPECT_EQ(scripted.dialogs[0].style, mb_yesno | mb_iconquestion);
        EXPECT_EQ(windows(), calls_t{c.answer == id_yes ? popup : overlapped});
        EXPECT_EQ(count_calls("destroy_window") + count_calls("unregister_class"), 2);
        EXPECT_EQ(scripted.calls.back(), "close_display");
    }
}

TEST_F(loop_test, failed_open_exits_one_with_the_display_mode_restored) {
    struct open_case {
        const char* failing_call;
        std::deque<int> answers;
        bool after_f1; // fails on the reopen, not the first open
    };
    const std::vector<open_case> cases = {
        {"open_display", {}, false}, // no display at all: said on standard error
        {"register_class", {id_no}, false},
        {"change_display_mode", {id_yes, id_no}, false}, // the fallback declined
        {"create_window", {id_no}, true},                // the reopen goes fullscreen
    };
    for (const open_case& c : cases) {
        SCOPED_TRACE(c.failing_call);
        start(c.answers);
        auto fail = [&] { scripted.failing.insert(c.failing_call); };
        if (c.after_f1) {
            pass_without_message();
            then_run(fail);
            send(wm_keydown, vk_f1);
            pass_without_message();
        } else {
            fail();
        }
        testing::internal::CaptureStderr();
        EXPECT_EQ(run(), 1);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(count_calls("swap_buffers"), c.after_f1 ? 2 : 0);
        EXPECT_FALSE(scripted.mode_changed) << "the display mode was left changed";
        if (c.answers.empty()) {
            EXPECT_EQ(scripted.calls, calls_t{"open_display (fails)"}) << "a dialog was tried";
            EXPECT_NE(err.find("no display"), std::string::npos) << err;
        } else {
            EXPECT_EQ(scripted.calls.back(), "close_display");
        }
    }
}

TEST_F(loop_test, frames_are_presented_while_active_and_the_back_buffer_still_while_minimised) {
    start();
    pass_without_message(2);
    send(wm_activate, 0 | minimised);
    then_run([] { demo_time_ms = -1.0f; }); // a frame would overwrite it
    pass_without_message(3);
    then_run([] {
        EXPECT_EQ(demo_time_ms, -1.0f) << "a frame was drawn while minimised";
        EXPECT_EQ(count_calls("swap_buffers"), 5);
        // A minimised loop waits a little for each message instead of spinning.
        EXPECT_EQ(scripted.wait_timeouts_ms.size(), 4u);
        for (int timeout_ms : scripted.wait_timeouts_ms)
            EXPECT_TRUE(timeout_ms > 0 && timeout_ms <= 10) << timeout_ms;
    });
    send(wm_activate, 1);
    pass_without_message();
    then_run([] { EXPECT_GE(demo_time_ms, 0.0f) << "no frame after restoring"; });
    escape_at_next_frame();
    EXPECT_EQ(run(), 0);
}

TEST_F(loop_test, f1_toggles_once_per_key_down_message) {
    start();
    send(wm_keydown, vk_f1);
    pass_without_message(3); // held for three passes: one toggle
    then_run([] { EXPECT_EQ(fullscreen, 1); });
    send(wm_keydown, vk_f1); // auto-repeat: another toggle
    pass_without_message(2);
    send(wm_keyup, vk_f1);
    pass_without_message();
    press(vk_f1); // a tap between two frames still counts
    pass_without_message();
    escape_at_next_frame();
    EXPECT_EQ(run(), 0);

    EXPECT_EQ(windows(), (calls_t{overlapped, popup, overlapped, popup}));
    EXPECT_EQ(count_calls("change_display_mode 800x600x32"), 2);
    EXPECT_EQ(count_calls("restore_display_mode"), 2);
    // Every reopen starts on a fresh context after the old one is gone.
    EXPECT_EQ(count_calls("create_context"), 4);
    EXPECT_EQ(count_calls("delete_context"), 4);
    EXPECT_TRUE(scripted.cursor_visible);
}

// The seek keys add to the clock of the last drawn frame, truncated. While minimised no
// frame is drawn, so holding M there seeks to the same place on every pass; while
// active each frame moves on by a step.
TEST_F(loop_test, seek_keys_act_on_the_last_drawn_frame_time) {
    constexpr float clock_slack_ms = 1500.0f; // how far the clock may run on meanwhile
    struct seek_case {
        const char* name;
        uintptr_t key;
        float last_frame_ms; // set while minimised; negative: stays active from 0
        int passes;
        float expected_ms;
    };
    const std::vector<seek_case> cases = {
        {"M forward", 'M', 5000.7f, 1, 5400.0f},
        {"M held while minimised", 'M', 5000.0f, 4, 5400.0f},
        {"M held while active", 'M', -1.0f, 5, 2000.0f},
        {"N back", 'N', 9000.0f, 1, 8600.0f},
        {"N in the first 400 ms", 'N', 150.0f, 1, 0.0f},
    };
    for (const seek_case& c : cases) {
        SCOPED_TRACE(c.name);
        start();
        pass_without_message(); // the soundtrack runs once the first frame is drawn
        if (c.last_frame_ms >= 0.0f) {
            send(wm_activate, minimised);
            then_run([&] { demo_time_ms = c.last_frame_ms; });
        }
        send(wm_keydown, c.key);
        pass_without_message(c.passes);
        send(wm_keyup, c.key);
        then_run([&] {
            sample_demo_clock();
            EXPECT_GE(demo_time_ms, c.expected_ms - 100.0f);
            EXPECT_LE(demo_time_ms, c.expected_ms + clock_slack_ms);
        });
        escape_at_next_frame();
        EXPECT_EQ(run(), 0);
    }
}

TEST_F(loop_test, window_proc_handles_its_messages_and_passes_the_rest_on) {
    constexpr intptr_t passed_on = 0x5EED; // what the scripted default procedure returns
    struct proc_case {
        unsigned message;
        uintptr_t wparam;
        intptr_t result;
        int window_active_after; // -1: unchanged
    };
    const std::vector<proc_case> cases = {
        {wm_activate, 0, 0, 1},                 // deactivated, not minimised: still drawn
        {wm_activate, 1 | minimised, 0, 0},     // minimised
        {wm_syscommand, 0xF140, 0, -1},         // screen saver: swallowed
        {wm_syscommand, 0xF170, 0, -1},         // monitor power-down: swallowed
        {wm_syscommand, 0xF141, passed_on, -1}, // compared whole
        {0x0200, 0, passed_on, -1},             // anything else
        {wm_close, 0, 0, -1},
    };
    for (const proc_case& c : cases) {
        SCOPED_TRACE(std::to_string(c.message) + " " + std::to_string(c.wparam));
        window_active = c.window_active_after == 1 ? 0 : 1;
        EXPECT_EQ(window_proc(c.message, c.wparam, 0), c.result);
        EXPECT_EQ(window_active, c.window_active_after < 0 ? 1 : c.window_active_after);
    }
    EXPECT_EQ(count_calls("post_quit_message 0"), 1);

    // Key codes past the table are ignored, never written past it.
    for (unsigned char& key : key_down)
        key = 0;
    for (uintptr_t code : {uintptr_t{256}, uintptr_t{0xFFFF}, ~uintptr_t{0}})
        EXPECT_EQ(window_proc(wm_keydown, code, 0), 0);
    window_proc(wm_keydown, 'M', 0);
    window_proc(wm_keydown, 255, 0);
    window_proc(wm_keyup, 'M', 0);
    for (int key = 0; key < 256; ++key)
        EXPECT_EQ(key_down[key], key == 255 ? 1 : 0) << key;
    key_down[255] = 0;
}

} // namespace
