// The entry and main loop over the scripted platform: the start question, the ways the
// show ends and their exit statuses, the keys, and the window procedure. Frames are
// drawn by the real scene on a real GL context and the clock is the real soundtrack's,
// so clock checks allow for time passing while the test runs.
#include "scripted_platform.h"
#include "shell/shell.h"
#include "sound/soundtrack.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr uintptr_t minimised = uintptr_t{1} << 16;
constexpr uintptr_t key_m = 'M';
constexpr uintptr_t key_n = 'N';
// How far the clock may run on while a step of the test executes.
constexpr float clock_slack_ms = 1500.0f;

class loop_test : public testing::Test {
  protected:
    void SetUp() override { reset_scripted_platform(); }
    void TearDown() override { reset_scripted_platform(); }

    // Runs the demo over the script built so far; the script must end the show.
    int run() {
        int status = run_demo();
        EXPECT_FALSE(scripted.script_ran_out) << "the script ran out before the show ended";
        return status;
    }

    std::vector<std::string> window_kinds() {
        std::vector<std::string> kinds;
        for (const std::string& call : scripted.calls)
            if (call.rfind("create_window", 0) == 0)
                kinds.push_back(call.substr(call.rfind(' ') + 1));
        return kinds;
    }
};

void press(uintptr_t key) {
    send(wm_keydown, key);
    send(wm_keyup, key);
}

TEST_F(loop_test, start_question_chooses_the_first_window) {
    struct start_case {
        int answer;
        const char* window_kind;
    };
    for (start_case c : {start_case{id_yes, "popup"}, start_case{id_no, "overlapped"}}) {
        SCOPED_TRACE(c.window_kind);
        reset_scripted_platform();
        scripted.answers = {c.answer};
        pass_without_message();
        press(vk_escape);
        pass_without_message();
        EXPECT_EQ(run(), 0);

        ASSERT_FALSE(scripted.dialogs.empty());
        EXPECT_EQ(scripted.dialogs[0].caption, "Start FullScreen?");
        EXPECT_EQ(scripted.dialogs[0].text, "Would You Like To Run In Fullscreen Mode?");
        EXPECT_EQ(scripted.dialogs[0].style, mb_yesno | mb_iconquestion);
        EXPECT_EQ(window_kinds(), std::vector<std::string>{c.window_kind});
        EXPECT_EQ(count_calls("create_window Vornhal 800x600"), 1);
    }
}

TEST_F(loop_test, every_normal_end_exits_zero_after_stopping_and_closing) {
    struct end_case {
        const char* name;
        std::function<void()> script;
    };
    const std::vector<end_case> cases = {
        {"escape held",
         [] {
             send(wm_keydown, vk_escape);
             pass_without_message();
         }},
        {"escape tapped between two frames",
         [] {
             press(vk_escape);
             pass_without_message();
         }},
        {"window closed", [] { send(wm_close); }},
        {"show over",
         [] {
             then_run([] { seek_soundtrack(142500); });
             pass_without_message(3);
         }},
    };
    for (const end_case& c : cases) {
        SCOPED_TRACE(c.name);
        reset_scripted_platform();
        scripted.answers = {id_no};
        pass_without_message();
        c.script();
        EXPECT_EQ(run(), 0);
        EXPECT_EQ(scripted.calls.back(), "close_display");
        EXPECT_EQ(count_calls("destroy_window"), 1);
        EXPECT_EQ(count_calls("unregister_class"), 1);
        EXPECT_TRUE(scripted.dialogs.size() == 1) << "only the start question";
    }
}

TEST_F(loop_test, frames_are_presented_while_active_and_the_back_buffer_still_while_minimised) {
    scripted.answers = {id_no};
    pass_without_message(2);
    send(wm_activate, 0 | minimised);
    then_run([] {
        demo_time_ms = -1.0f; // a frame would overwrite it
    });
    pass_without_message(3);
    then_run([] {
        EXPECT_EQ(demo_time_ms, -1.0f) << "a frame was drawn while minimised";
        EXPECT_EQ(count_calls("swap_buffers"), 5);
        EXPECT_EQ(scripted.waits, 4) << "a minimised loop waits for messages";
    });
    send(wm_activate, 1);
    pass_without_message();
    then_run([] { EXPECT_GE(demo_time_ms, 0.0f) << "no frame after restoring"; });
    send(wm_keydown, vk_escape);
    pass_without_message();
    EXPECT_EQ(run(), 0);
}

TEST_F(loop_test, escape_while_minimised_still_ends) {
    scripted.answers = {id_no};
    send(wm_activate, minimised);
    send(wm_keydown, vk_escape);
    pass_without_message();
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(count_calls("swap_buffers"), 0);
    EXPECT_EQ(count_calls("destroy_window"), 1);
}

TEST_F(loop_test, f1_toggles_once_per_key_down_message) {
    scripted.answers = {id_no};
    send(wm_keydown, vk_f1);
    pass_without_message(3); // held for three passes: one toggle
    then_run([] { EXPECT_EQ(fullscreen, 1); });
    send(wm_keydown, vk_f1); // auto-repeat: another toggle
    pass_without_message(2);
    send(wm_keyup, vk_f1);
    pass_without_message();
    press(vk_f1); // a tap between two frames still counts
    pass_without_message();
    send(wm_keydown, vk_escape);
    pass_without_message();
    EXPECT_EQ(run(), 0);

    EXPECT_EQ(window_kinds(),
              (std::vector<std::string>{"overlapped", "popup", "overlapped", "popup"}));
    EXPECT_EQ(count_calls("change_display_mode 800x600x32"), 2);
    EXPECT_EQ(count_calls("restore_display_mode"), 2);
    // Every reopen starts on a fresh context after the old one is gone.
    EXPECT_EQ(count_calls("create_context"), 4);
    EXPECT_EQ(count_calls("delete_context"), 4);
    EXPECT_TRUE(scripted.cursor_visible);
    EXPECT_FALSE(scripted.mode_changed);
}

TEST_F(loop_test, failed_reopen_after_f1_exits_one) {
    scripted.answers = {id_no};
    pass_without_message();
    then_run([] { scripted.failing.insert("create_window"); });
    send(wm_keydown, vk_f1);
    pass_without_message();
    EXPECT_EQ(run(), 1);
    ASSERT_EQ(scripted.dialogs.size(), 2u);
    EXPECT_EQ(scripted.dialogs[1].text, "Window Creation Error.");
    EXPECT_FALSE(scripted.mode_changed) << "the failed fullscreen open restored the mode";
    EXPECT_EQ(scripted.calls.back(), "close_display");
}

TEST_F(loop_test, failed_first_open_exits_one) {
    struct open_case {
        const char* failing_call;
        std::deque<int> answers;
    };
    for (const open_case& c :
         {open_case{"register_class", {id_no}}, open_case{"change_display_mode", {id_yes, id_no}},
          open_case{"make_context_current", {id_yes}}}) {
        SCOPED_TRACE(c.failing_call);
        reset_scripted_platform();
        scripted.failing.insert(c.failing_call);
        scripted.answers = c.answers;
        EXPECT_EQ(run(), 1);
        EXPECT_EQ(count_calls("swap_buffers"), 0);
    }
}

TEST_F(loop_test, without_a_display_says_so_and_exits_one) {
    scripted.display_missing = true;
    testing::internal::CaptureStderr();
    EXPECT_EQ(run(), 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("no display"), std::string::npos) << err;
    EXPECT_TRUE(scripted.dialogs.empty());
    EXPECT_EQ(count_calls("create_window"), 0);
}

// The seek keys add to the clock of the last drawn frame. While minimised no frame is
// drawn, so holding M there seeks to the same place on every pass.
TEST_F(loop_test, seek_keys_act_on_the_last_drawn_frame_time) {
    struct seek_case {
        const char* name;
        uintptr_t key;
        float last_frame_ms;
        int passes;
        float expected_ms;
    };
    const std::vector<seek_case> cases = {
        {"M forward", key_m, 5000.7f, 1, 5400.0f},
        {"M held while minimised", key_m, 5000.0f, 4, 5400.0f},
        {"N back", key_n, 9000.0f, 1, 8600.0f},
        {"N in the first 400 ms", key_n, 150.0f, 1, 0.0f},
    };
    for (const seek_case& c : cases) {
        SCOPED_TRACE(c.name);
        reset_scripted_platform();
        scripted.answers = {id_no};
        pass_without_message(); // the soundtrack runs once the first frame is drawn
        send(wm_activate, minimised);
        then_run([&] { demo_time_ms = c.last_frame_ms; });
        send(wm_keydown, c.key);
        pass_without_message(c.passes);
        send(wm_keyup, c.key);
        then_run([&] {
            sample_demo_clock();
            EXPECT_GE(demo_time_ms, c.expected_ms - 100.0f);
            EXPECT_LE(demo_time_ms, c.expected_ms + clock_slack_ms);
        });
        send(wm_keydown, vk_escape);
        pass_without_message();
        EXPECT_EQ(run(), 0);
    }
}

TEST_F(loop_test, holding_m_while_active_moves_on_by_a_step_each_frame) {
    scripted.answers = {id_no};
    float start_ms = 0.0f;
    pass_without_message();
    then_run([&] { start_ms = demo_time_ms; });
    send(wm_keydown, key_m);
    pass_without_message(5);
    send(wm_keyup, key_m);
    then_run([&] {
        sample_demo_clock();
        EXPECT_GE(demo_time_ms, start_ms + 5 * 400.0f - 100.0f);
        EXPECT_LE(demo_time_ms, start_ms + 5 * 400.0f + clock_slack_ms);
    });
    send(wm_keydown, vk_escape);
    pass_without_message();
    EXPECT_EQ(run(), 0);
}

TEST_F(loop_test, size_messages_resize_the_view_and_zero_height_counts_as_one) {
    scripted.answers = {id_no};
    send(wm_size, 0, (0 << 16) | 640);
    then_run([] {
        GLint viewport[4];
        glGetIntegerv(GL_VIEWPORT, viewport);
        EXPECT_EQ(viewport[2], 640);
        EXPECT_EQ(viewport[3], 1);
    });
    send(wm_size, 0, (480 << 16) | 320);
    then_run([] {
        GLint viewport[4];
        glGetIntegerv(GL_VIEWPORT, viewport);
        EXPECT_EQ(viewport[2], 320);
        EXPECT_EQ(viewport[3], 480);
    });
    send(wm_keydown, vk_escape);
    pass_without_message();
    EXPECT_EQ(run(), 0);
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
        {wm_activate, 0, 0, 1},             // deactivated, not minimised: still drawn
        {wm_activate, 1 | minimised, 0, 0}, // minimised
        {wm_activate, 2, 0, 1},             // activated by a click
        {wm_activate, uintptr_t{0x8000} << 16, 0, 0},
        {wm_syscommand, 0xF140, 0, -1},         // screen saver: swallowed
        {wm_syscommand, 0xF170, 0, -1},         // monitor power-down: swallowed
        {wm_syscommand, 0xF141, passed_on, -1}, // compared whole
        {wm_syscommand, 0xF171, passed_on, -1},
        {wm_syscommand, 0xF060, passed_on, -1},
        {0x0200, 0, passed_on, -1}, // anything else
    };
    for (const proc_case& c : cases) {
        SCOPED_TRACE(std::to_string(c.message) + " " + std::to_string(c.wparam));
        window_active = 1;
        if (c.window_active_after == 1)
            window_active = 0;
        EXPECT_EQ(window_proc(c.message, c.wparam, 0), c.result);
        if (c.window_active_after >= 0) {
            EXPECT_EQ(window_active, c.window_active_after);
        }
    }
}

TEST_F(loop_test, window_proc_tracks_keys_and_ignores_codes_past_the_table) {
    for (unsigned char& key : key_down)
        key = 0;
    const std::vector<uintptr_t> out_of_range = {256, 300, 0xFFFF, ~uintptr_t{0}};
    for (uintptr_t code : out_of_range) {
        EXPECT_EQ(window_proc(wm_keydown, code, 0), 0);
        EXPECT_EQ(window_proc(wm_keyup, code, 0), 0);
    }
    for (unsigned char key : key_down)
        EXPECT_EQ(key, 0);

    window_proc(wm_keydown, key_m, 0);
    window_proc(wm_keydown, 255, 0);
    EXPECT_EQ(key_down[key_m], 1);
    EXPECT_EQ(key_down[255], 1);
    window_proc(wm_keyup, key_m, 0);
    EXPECT_EQ(key_down[key_m], 0);
    EXPECT_EQ(key_down[255], 1);
    key_down[255] = 0;

    EXPECT_EQ(window_proc(wm_close, 0, 0), 0);
    EXPECT_EQ(scripted.calls, std::vector<std::string>{"post_quit_message 0"});
}

} // namespace
