// Opening and closing the window over the scripted platform: the order of the platform
// calls, the records handed to the system, each failure's message and what it tears
// down, and the view a resize leaves on a real GL context.
#include "scripted_platform.h"
#include "shell/shell.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

using calls_t = std::vector<std::string>;

// The class and the display mode go to the system as records; the scripted platform
// spells out the fields the program sets, and only those.
const calls_t fullscreen_open = {
    "register_class OpenGL style=0x23 icon=winlogo cursor=arrow",
    "change_display_mode 800x600x32 size=156 fields=0x1c0000 flags=4",
    "show_cursor 0",
    "create_window Vornhal 800x600 popup",
    "get_device_context",
    "choose_pixel_format",
    "set_pixel_format 1",
    "create_context",
    "make_context_current",
    "show_window",
};

// What an 800 x 600 x 32 open asks for, built from the documented values. Compared
// byte for byte: a field the program never sets must still be zero.
bool is_first_open_pixel_format(const pixel_format_request& request) {
    pixel_format_request expected{};
    expected.size = 40;
    expected.version = 1;
    expected.flags = 0x25;
    expected.color_bits = 32;
    expected.depth_bits = 16;
    return std::memcmp(&request, &expected, sizeof expected) == 0;
}

class window_test : public testing::Test {
  protected:
    void SetUp() override { reset_scripted_platform(); }
    void TearDown() override { reset_scripted_platform(); }
};

TEST_F(window_test, fullscreen_open_and_close_run_every_step_in_order) {
    ASSERT_TRUE(open_gl_window("Vornhal", 800, 600, 32, true));
    EXPECT_EQ(scripted.calls, fullscreen_open);
    EXPECT_EQ(fullscreen, 1);

    scripted.calls.clear();
    close_gl_window();
    EXPECT_EQ(scripted.calls,
              (calls_t{"restore_display_mode", "show_cursor 1", "make_no_context_current",
                       "delete_context", "release_device_context", "destroy_window",
                       "unregister_class OpenGL"}));
    ASSERT_EQ(scripted.pixel_requests.size(), 1u);
    EXPECT_TRUE(is_first_open_pixel_format(scripted.pixel_requests[0]));
}

TEST_F(window_test, each_creation_failure_reports_its_text_and_tears_down_what_exists) {
    const calls_t restored = {"restore_display_mode", "show_cursor 1"};
    const calls_t window_gone = {"release_device_context", "destroy_window",
                                 "unregister_class OpenGL"};
    struct failure_case {
        const char* failing_call;
        const char* text;
        calls_t teardown; // after the failing call, before the message box
    };
    const std::vector<failure_case> cases = {
        {"register_class", "Failed To Register The Window Class.", {}},
        {"create_window", "Window Creation Error.", {"unregister_class OpenGL"}},
        {"get_device_context",
         "Can't Create A GL Device Context.",
         {"destroy_window", "unregister_class OpenGL"}},
        {"choose_pixel_format", "Can't Find A Suitable PixelFormat.", window_gone},
        {"set_pixel_format", "Can't Set The PixelFormat.", window_gone},
        {"create_context", "Can't Create A GL Rendering Context.", window_gone},
        {"make_context_current",
         "Can't Activate The GL Rendering Context.",
         {"make_no_context_current", "delete_context", "release_device_context", "destroy_window",
          "unregister_class OpenGL"}},
    };
    for (const failure_case& c : cases) {
        SCOPED_TRACE(c.failing_call);
        reset_scripted_platform();
        scripted.failing.insert(c.failing_call);
        EXPECT_FALSE(open_gl_window("Vornhal", 800, 600, 32, true));

        calls_t expected;
        for (const std::string& call : fullscreen_open) {
            bool fails = call.rfind(c.failing_call, 0) == 0;
            expected.push_back(fails ? call + " (fails)" : call);
            if (fails)
                break;
        }
        // The display mode and cursor come back once they were changed.
        if (expected.size() > 1)
            expected.insert(expected.end(), restored.begin(), restored.end());
        expected.insert(expected.end(), c.teardown.begin(), c.teardown.end());
        expected.push_back(std::string("message_box ERROR: ") + c.text);
        EXPECT_EQ(scripted.calls, expected);
        ASSERT_EQ(scripted.dialogs.size(), 1u);
        EXPECT_EQ(scripted.dialogs[0].style, mb_ok | mb_iconexclamation);
    }
}

TEST_F(window_test, fallback_question_declined_ends_before_any_window_accepted_gives_one) {
    const std::string question = "message_box Oxlu: The Requested Fullscreen Mode Is Not "
                                 "Supported By\nYour Video Card. Use Windowed Mode Instead?";
    const calls_t opened = {"create_window Vornhal 800x600 overlapped",
                            "get_device_context",
                            "choose_pixel_format",
                            "set_pixel_format 1",
                            "create_context",
                            "make_context_current",
                            "show_window"};
    for (int answer : {id_no, id_yes}) {
        SCOPED_TRACE(answer == id_no ? "declined" : "accepted");
        reset_scripted_platform();
        scripted.failing.insert("change_display_mode");
        scripted.answers = {answer};
        EXPECT_EQ(open_gl_window("Vornhal", 800, 600, 32, true), answer == id_yes);

        calls_t expected = {fullscreen_open[0], fullscreen_open[1] + " (fails)", question};
        if (answer == id_no)
            expected.push_back("message_box ERROR: Program Will Now Close.");
        else
            expected.insert(expected.end(), opened.begin(), opened.end());
        EXPECT_EQ(scripted.calls, expected);
        EXPECT_EQ(scripted.dialogs.at(0).style, mb_yesno | mb_iconexclamation);
        if (answer == id_no) {
            EXPECT_EQ(scripted.dialogs.at(1).style, mb_ok | mb_iconstop);
            continue;
        }
        EXPECT_EQ(fullscreen, 0);
        close_gl_window();
        // The display was never switched, so closing has nothing to restore.
        EXPECT_EQ(count_calls("restore_display_mode") + count_calls("show_cursor"), 0);
    }
}

// The pixel format request is filled once, by the first open that gets that far even
// if it then fails, and every later open reuses it whatever bits it asks for.
TEST_F(window_test, later_opens_register_again_and_keep_the_first_pixel_format_request) {
    scripted.failing.insert("choose_pixel_format");
    EXPECT_FALSE(open_gl_window("Vornhal", 800, 600, 32, false));
    scripted.failing.clear();
    ASSERT_TRUE(open_gl_window("Vornhal", 800, 600, 24, false));
    close_gl_window();
    ASSERT_TRUE(open_gl_window("Again", 640, 480, 16, false));
    close_gl_window();

    EXPECT_EQ(count_calls("register_class OpenGL style"), 3);
    EXPECT_EQ(count_calls("unregister_class OpenGL"), 3);
    EXPECT_EQ(count_calls("create_window Again 640x480 overlapped"), 1);
    ASSERT_EQ(scripted.pixel_requests.size(), 3u);
    for (const pixel_format_request& request : scripted.pixel_requests)
        EXPECT_TRUE(is_first_open_pixel_format(request));
}

TEST_F(window_test, close_reports_every_failed_release_and_runs_to_the_end) {
    ASSERT_TRUE(open_gl_window("Vornhal", 800, 600, 32, true));
    scripted.calls.clear();
    scripted.failing = {"make_no_context_current", "delete_context", "release_device_context",
                        "destroy_window", "unregister_class"};
    close_gl_window();
    const std::string shutdown_error = "message_box SHUTDOWN ERROR: ";
    EXPECT_EQ(
        scripted.calls,
        (calls_t{"restore_display_mode", "show_cursor 1", "make_no_context_current (fails)",
                 shutdown_error + "Release Of DC And RC Failed.", "delete_context (fails)",
                 shutdown_error + "Release Rendering Context Failed.",
                 "release_device_context (fails)",
                 shutdown_error + "Release Device Context Failed.", "destroy_window (fails)",
                 shutdown_error + "Could Not Release hWnd.", "unregister_class OpenGL (fails)",
                 shutdown_error + "Could Not Unregister Class."}));
    for (const scripted_dialog& dialog : scripted.dialogs)
        EXPECT_EQ(dialog.style, mb_ok | mb_iconinformation);

    // Failed releases are forgotten all the same: a second close releases nothing twice,
    // and the instance handle is gone with the class that would not go.
    scripted.calls.clear();
    scripted.failing.clear();
    close_gl_window();
    EXPECT_EQ(scripted.calls, (calls_t{"restore_display_mode", "show_cursor 1",
                                       "unregister_class OpenGL another instance"}));
}

// Size messages reach the view through window_proc; what it leaves is read back.
TEST_F(window_test, size_message_sets_viewport_and_perspective_with_zero_height_as_one) {
    ASSERT_TRUE(open_gl_window("Vornhal", 800, 600, 32, false));
    struct size_case {
        int width, height, viewport_height;
    };
    const double focal = 1.0 / std::tan(22.5 * M_PI / 180.0);
    for (size_case c : {size_case{800, 600, 600}, {640, 0, 1}, {1, 1, 1}, {300, 700, 700}}) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        glMatrixMode(GL_TEXTURE); // the resize must select the matrices itself
        EXPECT_EQ(window_proc(wm_size, 0, (c.height << 16) | c.width), 0);

        GLint viewport[4];
        glGetIntegerv(GL_VIEWPORT, viewport);
        EXPECT_EQ(std::vector<GLint>(viewport, viewport + 4),
                  (std::vector<GLint>{0, 0, c.width, c.viewport_height}));
        GLfloat projection[16];
        glGetFloatv(GL_PROJECTION_MATRIX, projection);
        double aspect = static_cast<double>(c.width) / c.viewport_height;
        EXPECT_NEAR(projection[0], focal / aspect, 1e-5 * focal / aspect);
        EXPECT_NEAR(projection[5], focal, 1e-5);
        EXPECT_NEAR(projection[14], -20.0 / 99.9, 1e-5); // near 0.1, far 100
        GLint mode = 0;
        glGetIntegerv(GL_MATRIX_MODE, &mode);
        EXPECT_EQ(mode, GL_MODELVIEW);
        GLfloat modelview[16];
        glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
        for (int i = 0; i < 16; ++i)
            EXPECT_FLOAT_EQ(modelview[i], i % 5 == 0 ? 1.0f : 0.0f);
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    close_gl_window();
}

} // namespace
