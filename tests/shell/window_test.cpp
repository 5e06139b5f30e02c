// Opening and closing the window over the scripted platform: the order of the platform
// calls, each failure's message and what it tears down, and the projection a resize
// leaves on a real GL context.
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

const calls_t fullscreen_open = {
    "register_class OpenGL", "change_display_mode 800x600x32",
    "show_cursor 0",         "create_window Vornhal 800x600 popup",
    "get_device_context",    "choose_pixel_format flags=0x25 color=32 depth=16 stencil=0",
    "set_pixel_format 1",    "create_context",
    "make_context_current",  "show_window",
};

const calls_t fullscreen_close = {
    "restore_display_mode",   "show_cursor 1",  "make_no_context_current", "delete_context",
    "release_device_context", "destroy_window", "unregister_class OpenGL",
};

calls_t joined(calls_t a, const calls_t& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Whole records, byte for byte: a field the program never sets must still be zero.
template <typename record_type> bool same_bytes(const record_type& a, const record_type& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// What an 800 x 600 x 32 open asks for, built from the documented values.
pixel_format_request first_open_pixel_format() {
    pixel_format_request request{};
    request.size = 40;
    request.version = 1;
    request.flags = 0x25;
    request.pixel_type = 0;
    request.color_bits = 32;
    request.depth_bits = 16;
    request.layer_type = 0;
    return request;
}

display_mode_request fullscreen_mode_800x600x32() {
    display_mode_request mode{};
    mode.size = 156;
    mode.fields = 0x1C0000;
    mode.pels_width = 800;
    mode.pels_height = 600;
    mode.bits_per_pel = 32;
    return mode;
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

TEST_F(window_test, fullscreen_open_and_close_hand_the_system_its_records) {
    ASSERT_TRUE(open_gl_window("Vornhal", 800, 600, 32, true));
    close_gl_window();

    EXPECT_EQ(scripted.instance_handles_taken, 1);
    ASSERT_EQ(scripted.registrations.size(), 1u);
    const window_class& record = scripted.registrations[0];
    EXPECT_STREQ(record.class_name, "OpenGL");
    EXPECT_EQ(record.style, 0x23u);
    EXPECT_EQ(record.procedure, &window_proc);
    EXPECT_EQ(record.class_extra_bytes, 0);
    EXPECT_EQ(record.window_extra_bytes, 0);
    EXPECT_EQ(record.instance, scripted_instance);
    EXPECT_STREQ(record.icon, "winlogo");
    EXPECT_STREQ(record.cursor, "arrow");
    EXPECT_EQ(record.background, 0u);
    EXPECT_EQ(record.menu_name, nullptr);
    ASSERT_EQ(scripted.unregistrations.size(), 1u);
    EXPECT_EQ(scripted.unregistrations[0].class_name, "OpenGL");
    EXPECT_EQ(scripted.unregistrations[0].instance, scripted_instance);

    ASSERT_EQ(scripted.pixel_requests.size(), 1u);
    const pixel_format_request& request = scripted.pixel_requests[0];
    EXPECT_EQ(request.size, 40);
    EXPECT_EQ(request.version, 1);
    EXPECT_EQ(request.flags, 0x25u);
    EXPECT_EQ(request.color_bits, 32);
    EXPECT_EQ(request.depth_bits, 16);
    EXPECT_TRUE(same_bytes(request, first_open_pixel_format()));

    // Switched to with the fullscreen flag, restored with no record and no flags.
    ASSERT_EQ(scripted.mode_changes.size(), 2u);
    const scripted_mode_change& change = scripted.mode_changes[0];
    ASSERT_TRUE(change.has_mode);
    EXPECT_EQ(change.flags, 4u);
    EXPECT_EQ(change.mode.size, 156);
    EXPECT_EQ(change.mode.fields, 0x1C0000u);
    EXPECT_EQ(change.mode.pels_width, 800u);
    EXPECT_EQ(change.mode.pels_height, 600u);
    EXPECT_EQ(change.mode.bits_per_pel, 32u);
    EXPECT_TRUE(same_bytes(change.mode, fullscreen_mode_800x600x32()));
    EXPECT_FALSE(scripted.mode_changes[1].has_mode);
    EXPECT_EQ(scripted.mode_changes[1].flags, 0u);
}

// Messages reach window_proc only as the registered class's procedure: after the
// class is gone, a message finds no procedure.
TEST_F(window_test, messages_go_to_the_procedure_registered_with_the_class) {
    for (unsigned char& key : key_down)
        key = 0;
    ASSERT_TRUE(open_gl_window("Vornhal", 800, 600, 32, false));
    platform_dispatch_message({wm_keydown, 'M', 0});
    EXPECT_EQ(key_down['M'], 1);
    close_gl_window();

    platform_dispatch_message({wm_keyup, 'M', 0});
    EXPECT_EQ(key_down['M'], 1);
    EXPECT_EQ(count_calls("dispatch_message without a registered class"), 1);
    key_down['M'] = 0;
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
         {"restore_display_mode", "show_cursor 1", "unregister_class OpenGL"}},
        {"get_device_context",
         "Can't Create A GL Device Context.",
         {"restore_display_mode", "show_cursor 1", "destroy_window", "unregister_class OpenGL"}},
        {"choose_pixel_format",
         "Can't Find A Suitable PixelFormat.",
         {"restore_display_mode", "show_cursor 1", "release_device_context", "destroy_window",
          "unregister_class OpenGL"}},
        {"set_pixel_format",
         "Can't Set The PixelFormat.",
         {"restore_display_mode", "show_cursor 1", "release_device_context", "destroy_window",
          "unregister_class OpenGL"}},
        {"create_context",
         "Can't Create A GL Rendering Context.",
         {"restore_display_mode", "show_cursor 1", "release_device_context", "destroy_window",
          "unregister_class OpenGL"}},
        {"make_context_current",
         "Can't Activate The GL Rendering Context.",
         {"restore_display_mode", "show_cursor 1", "make_no_context_current", "delete_context",
          "release_device_context", "destroy_window", "unregister_class OpenGL"}},
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
    EXPECT_EQ(scripted.calls, (calls_t{"register_class OpenGL (fails)",
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

    EXPECT_EQ(count_calls("register_class OpenGL"), 2);
    EXPECT_EQ(count_calls("unregister_class OpenGL"), 2);
    EXPECT_EQ(scripted.instance_handles_taken, 2);
    EXPECT_EQ(count_calls("create_window Again 640x480 overlapped"), 1);
    ASSERT_EQ(scripted.pixel_requests.size(), 2u);
    for (const pixel_format_request& request : scripted.pixel_requests) {
        EXPECT_EQ(request.color_bits, 32) << "the 16 bits of the second open were taken";
        EXPECT_TRUE(same_bytes(request, first_open_pixel_format()));
    }
}

// A failed first request is filled all the same: the window existed, so a later open
// reuses it rather than the bits that later open asks for.
TEST_F(window_test, pixel_format_request_filled_by_a_failed_open_is_kept) {
    scripted.failing.insert("choose_pixel_format");
    EXPECT_FALSE(open_gl_window("Vornhal", 800, 600, 32, false));
    scripted.failing.clear();
    ASSERT_TRUE(open_gl_window("Vornhal", 800, 600, 24, false));
    close_gl_window();

    ASSERT_EQ(scripted.pixel_requests.size(), 2u);
    EXPECT_TRUE(same_bytes(scripted.pixel_requests[1], first_open_pixel_format()));
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

    // Failed releases are forgotten all the same: a second close releases nothing twice,
    // and the instance handle is gone with the class that would not go.
    scripted.calls.clear();
    scripted.failing.clear();
    close_gl_window();
    EXPECT_EQ(count_calls("delete_context"), 0);
    EXPECT_EQ(count_calls("release_device_context"), 0);
    EXPECT_EQ(count_calls("destroy_window"), 0);
    ASSERT_EQ(scripted.unregistrations.size(), 2u);
    EXPECT_EQ(scripted.unregistrations[0].instance, scripted_instance);
    EXPECT_EQ(scripted.unregistrations[1].instance, 0u);
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
