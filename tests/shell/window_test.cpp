// Opening and closing the window over the scripted platform: the order of the platform
// calls, each failure's message and what it tears down, and the projection a resize
// leaves on a real GL context.
#include "scripted_platform.h"
#include "shell/shell.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using calls_t = std::vector<std::string>;

const calls_t fullscreen_open = {
    "register_class",       "change_display_mode 800x600x32",
    "show_cursor 0",        "create_window Vornhal 800x600 popup",
    "get_device_context",   "choose_pixel_format flags=0x25 color=32 depth=16 stencil=0",
    "set_pixel_format 1",   "create_context",
    "make_context_current", "show_window",
};

const calls_t fullscreen_close = {
    "restore_display_mode",   "show_cursor 1",  "make_no_context_current", "delete_context",
    "release_device_context", "destroy_window", "unregister_class",
};

calls_t joined(calls_t a, const calls_t& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
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
    EXPECT_TRUE(scripted.mode_changed);
    EXPECT_FALSE(scripted.cursor_visible);
    EXPECT_TRUE(scripted.dialogs.empty());

    scripted.calls.clear();
    close_gl_window();
    EXPECT_EQ(scripted.calls, fullscreen_close);
    EXPECT_FALSE(scripted.mode_changed);
    EXPECT_TRUE(scripted.cursor_visible);
}

TEST_F(window_test, each_creation_failure_reports_its_text_and_tears_down_what_exists) {
    struct failure_case {
        const char* failing_call;
        const char* text;
        calls_t teardown; // after the failing call, before the message box
    };
    const std::vector<failure_case> cases = {
        {"create_window",
         "Window Creation Error.",
         {"restore_display_mode", "show_cursor 1", "unregister_class"}},
        {"get_device_context",
         "Can't Create A GL Device Context.",
         {"restore_display_mode", "show_cursor 1", "destroy_window", "unregister_class"}},
        {"choose_pixel_format",
         "Can't Find A Suitable PixelFormat.",
         {"restore_display_mode", "show_cursor 1", "release_device_context", "destroy_window",
          "unregister_class"}},
        {"set_pixel_format",
         "Can't Set The PixelFormat.",
         {"restore_display_mode", "show_cursor 1", "release_device_context", "destroy_window",
          "unregister_class"}},
        {"create_context",
         "Can't Create A GL Rendering Context.",
         {"restore_display_mode", "show_cursor 1", "release_device_context", "destroy_window",
          "unregister_class"}},
        {"make_context_current",
         "Can't Activate The GL Rendering Context.",
         {"restore_display_mode", "show_cursor 1", "make_no_context_current", "delete_context",
          "release_device_context", "destroy_window", "unregister_class"}},
    };
    for (const failure_case& c : cases) {
        SCOPED_TRACE(c.failing_call);
        reset_scripted_platform();
        scripted.failing.insert(c.failing_call);

        EXPECT_FALSE(open_gl_window("Vornhal", 800, 600, 32, true));

        calls_t expected;
        for (const std::string& call : fullscreen_open) {
            if (call.rfind(c.failing_call, 0) == 0) {
                expected.push_back(call + " (fails)");
                break;
            }
            expected.push_back(call);
        }
        expected = joined(expected, c.teardown);
        expected.push_back(std::string("message_box ERROR: ") + c.text);
        EXPECT_EQ(scripted.calls, expected);
        ASSERT_EQ(scripted.dialogs.size(), 1u);
        EXPECT_EQ(scripted.dialogs[0].style, mb_ok | mb_iconexclamation);
        EXPECT_FALSE(scripted.mode_changed);
        EXPECT_TRUE(scripted.cursor_visible);
    }
}

TEST_F(window_test, failed_registration_tears_nothing_down) {
    scripted.failing.insert("register_class");
    EXPECT_FALSE(open_gl_window("Vornhal", 800, 600, 32, true));
    EXPECT_EQ(scripted.calls, (calls_t{"register_class (fails)",
                                       "message_box ERROR: Failed To Register The Window Class."}));
    EXPECT_EQ(scripted.dialogs.at(0).style, mb_ok | mb_iconexclamation);
}

TEST_F(window_test, declined_fallback_ends_before_any_window_exists) {
    scripted.failing.insert("change_display_mode");
    scripted.answers = {id_no};
    EXPECT_FALSE(open_gl_window("Vornhal", 800, 600, 32, true));

    EXPECT_EQ(count_calls("create_window"), 0);
    EXPECT_EQ(count_calls("show_cursor"), 0);
    ASSERT_EQ(scripted.dialogs.size(), 2u);
    EXPECT_EQ(scripted.dialogs[0].caption, "Oxlu");
    EXPECT_EQ(scripted.dialogs[0].text, "The Requested Fullscreen Mode Is Not Supported By\n"
                                        "Your Video Card. Use Windowed Mode Instead?");
    EXPECT_EQ(scripted.dialogs[0].style, mb_yesno | mb_iconexclamation);
    EXPECT_EQ(scripted.dialogs[1].caption, "ERROR");
    EXPECT_EQ(scripted.dialogs[1].text, "Program Will Now Close.");
    EXPECT_EQ(scripted.dialogs[1].style, mb_ok | mb_iconstop);
}

TEST_F(window_test, accepted_fallback_gives_an_ordinary_window_with_the_cursor) {
    scripted.failing.insert("change_display_mode");
    scripted.answers = {id_yes};
    ASSERT_TRUE(open_gl_window("Vornhal", 800, 600, 32, true));

    EXPECT_EQ(fullscreen, 0);
    EXPECT_EQ(count_calls("create_window Vornhal 800x600 overlapped"), 1);
    EXPECT_EQ(count_calls("show_cursor"), 0);
    EXPECT_TRUE(scripted.cursor_visible);
    EXPECT_EQ(scripted.dialogs.size(), 1u);

    close_gl_window();
    // The display was never switched, so closing has nothing to restore.
    EXPECT_EQ(count_calls("restore_display_mode"), 0);
}

TEST_F(window_test, second_open_registers_again_and_keeps_the_first_pixel_format_request) {
    ASSERT_TRUE(open_gl_window("Vornhal", 800, 600, 32, false));
    close_gl_window();
    ASSERT_TRUE(open_gl_window("Again", 640, 480, 16, false));
    close_gl_window();

    EXPECT_EQ(count_calls("register_class"), 2);
    EXPECT_EQ(count_calls("unregister_class"), 2);
    EXPECT_EQ(count_calls("create_window Again 640x480 overlapped"), 1);
    ASSERT_EQ(scripted.pixel_requests.size(), 2u);
    for (const pixel_format_request& request : scripted.pixel_requests) {
        EXPECT_EQ(request.color_bits, 32);
        EXPECT_EQ(request.depth_bits, 16);
        EXPECT_EQ(request.stencil_bits, 0);
        EXPECT_EQ(request.flags, 0x25u);
    }
}

TEST_F(window_test, close_reports_every_failed_release_and_runs_to_the_end) {
    ASSERT_TRUE(open_gl_window("Vornhal", 800, 600, 32, true));
    scripted.calls.clear();
    scripted.failing = {"make_no_context_current", "delete_context", "release_device_context",
                        "destroy_window", "unregister_class"};
    close_gl_window();

    std::vector<std::string> texts;
    for (const scripted_dialog& dialog : scripted.dialogs) {
        EXPECT_EQ(dialog.caption, "SHUTDOWN ERROR");
        EXPECT_EQ(dialog.style, mb_ok | mb_iconinformation);
        texts.push_back(dialog.text);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "Release Of DC And RC Failed.", "Release Rendering Context Failed.",
                         "Release Device Context Failed.", "Could Not Release hWnd.",
                         "Could Not Unregister Class."}));
    EXPECT_FALSE(scripted.mode_changed);
    EXPECT_TRUE(scripted.cursor_visible);

    // Failed releases are forgotten all the same: a second close releases nothing twice.
    scripted.calls.clear();
    scripted.failing.clear();
    close_gl_window();
    EXPECT_EQ(count_calls("delete_context"), 0);
    EXPECT_EQ(count_calls("release_device_context"), 0);
    EXPECT_EQ(count_calls("destroy_window"), 0);
}

// Reads back what resize_view leaves: viewport, projection and the selected matrix.
TEST_F(window_test, resize_sets_viewport_and_perspective_with_zero_height_taken_as_one) {
    ASSERT_TRUE(open_gl_window("Vornhal", 800, 600, 32, false));
    struct size_case {
        int width, height;
        int viewport_height;
    };
    const std::vector<size_case> cases = {
        {800, 600, 600}, {640, 0, 1}, {1, 1, 1}, {1024, 768, 768}, {300, 700, 700}};
    const double focal = 1.0 / std::tan(22.5 * M_PI / 180.0);
    const double near_plane = 0.10000000149011612, far_plane = 100.0;
    for (const size_case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        glMatrixMode(GL_TEXTURE); // resize_view must select the matrices itself
        resize_view(c.width, c.height);

        GLint viewport[4];
        glGetIntegerv(GL_VIEWPORT, viewport);
        EXPECT_EQ(viewport[0], 0);
        EXPECT_EQ(viewport[1], 0);
        EXPECT_EQ(viewport[2], c.width);
        EXPECT_EQ(viewport[3], c.viewport_height);

        GLfloat projection[16];
        glGetFloatv(GL_PROJECTION_MATRIX, projection);
        double aspect = static_cast<double>(c.width) / c.viewport_height;
        EXPECT_NEAR(projection[0], focal / aspect, 1e-5 * focal / aspect);
        EXPECT_NEAR(projection[5], focal, 1e-5);
        EXPECT_NEAR(projection[10], (far_plane + near_plane) / (near_plane - far_plane), 1e-5);
        EXPECT_NEAR(projection[14], 2 * far_plane * near_plane / (near_plane - far_plane), 1e-5);
        EXPECT_FLOAT_EQ(projection[11], -1.0f);

        GLint mode = 0;
        glGetIntegerv(GL_MATRIX_MODE, &mode);
        EXPECT_EQ(mode, GL_MODELVIEW);
        GLfloat modelview[16];
        glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
        for (int i = 0; i < 16; ++i)
            EXPECT_FLOAT_EQ(modelview[i], i % 5 == 0 ? 1.0f : 0.0f);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
    close_gl_window();
}

} // namespace
