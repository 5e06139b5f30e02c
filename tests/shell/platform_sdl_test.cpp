// The real platform seam over SDL2: what it makes of the class record, the pixel format
// request and the display mode request, and which of them it refuses. Surface cases
// run on the offscreen driver (real GL on llvmpipe), display mode cases on the dummy
// driver, which lists exactly one mode: 1024 x 768 with 4 bytes a pixel.
#include "platform/platform.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

platform_message last_message;

intptr_t recording_procedure(unsigned message, uintptr_t wparam, intptr_t lparam) {
    last_message = {message, wparam, lparam};
    return 42;
}

window_class program_class() {
    window_class record{};
    record.style = cs_hredraw | cs_vredraw | cs_owndc;
    record.procedure = recording_procedure;
    record.instance = platform_get_instance_handle();
    record.icon = idi_winlogo;
    record.cursor = idc_arrow;
    record.class_name = "OpenGL";
    return record;
}

display_mode_request mode_request(uint32_t width, uint32_t height, uint32_t bits) {
    display_mode_request mode{};
    mode.size = sizeof mode;
    mode.fields = dm_bitsperpel | dm_pelswidth | dm_pelsheight;
    mode.pels_width = width;
    mode.pels_height = height;
    mode.bits_per_pel = bits;
    return mode;
}

class platform_test : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(platform_open_display()) << platform_failure_reason(); }
    void TearDown() override { platform_close_display(); }
};

TEST_F(platform_test, surface_class_records_it_cannot_honour_are_refused) {
    const platform_handle instance = platform_get_instance_handle();
    EXPECT_NE(instance, 0u);
    const std::vector<std::function<void(window_class&)>> refused = {
        [](window_class& r) { r.procedure = nullptr; },
        [](window_class& r) { r.class_name = ""; },
        [](window_class& r) { r.menu_name = "MainMenu"; },
        [](window_class& r) { r.cursor = "cross"; },
    };
    for (size_t i = 0; i < refused.size(); ++i) {
        SCOPED_TRACE(i);
        window_class record = program_class();
        refused[i](record);
        EXPECT_FALSE(platform_register_class(record));
        EXPECT_FALSE(platform_create_window("refused", 64, 64, false)) << "a class exists";
    }

    const platform_message message = {wm_keydown, 'M', 0x1234};
    window_class record = program_class();
    ASSERT_TRUE(platform_register_class(record));
    EXPECT_FALSE(platform_register_class(record)) << "registered twice";
    EXPECT_EQ(platform_dispatch_message(message), 42);
    EXPECT_EQ(last_message.lparam, 0x1234);
    EXPECT_FALSE(platform_unregister_class("OpenGL", instance + 1));

    ASSERT_TRUE(platform_create_window("platform test", 64, 64, false));
    EXPECT_FALSE(platform_unregister_class("OpenGL", instance)) << "a window still uses it";
    ASSERT_TRUE(platform_destroy_window());
    EXPECT_TRUE(platform_unregister_class("OpenGL", instance));
    EXPECT_FALSE(platform_unregister_class("OpenGL", instance)) << "unregistered twice";
    EXPECT_EQ(platform_dispatch_message(message), 0) << "the procedure went with the class";
}

// The program's request gets a surface that honours it; each request for something the
// one surface format lacks finds no format.
TEST_F(platform_test, surface_pixel_format_requests_are_met_or_refused) {
    ASSERT_TRUE(platform_register_class(program_class()));
    ASSERT_TRUE(platform_create_window("platform test", 64, 64, false));
    ASSERT_TRUE(platform_get_device_context());

    pixel_format_request program{};
    program.size = sizeof program;
    program.version = pfd_record_version;
    program.flags = pfd_draw_to_window | pfd_support_opengl | pfd_doublebuffer;
    program.color_bits = 32;
    program.depth_bits = 16;
    struct format_case {
        std::function<void(pixel_format_request&)> change;
        int expected;
    };
    const std::vector<format_case> cases = {
        {[](pixel_format_request& r) { r.color_bits = 16, r.depth_bits = 8; }, 1},
        {[](pixel_format_request& r) { r.flags &= ~pfd_doublebuffer; }, 0},
        {[](pixel_format_request& r) { r.pixel_type = 1; }, 0}, // colour index
        {[](pixel_format_request& r) { r.depth_bits = 24; }, 0},
        {[](pixel_format_request& r) { r.stencil_bits = 8; }, 0},
        {[](pixel_format_request& r) { r.size = 0; }, 0},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        pixel_format_request request = program;
        cases[i].change(request);
        EXPECT_EQ(platform_choose_pixel_format(request), cases[i].expected);
    }

    ASSERT_EQ(platform_choose_pixel_format(program), 1);
    ASSERT_TRUE(platform_set_pixel_format(1));
    EXPECT_FALSE(platform_set_pixel_format(1)) << "a surface takes one format, once";
    ASSERT_TRUE(platform_create_context());
    ASSERT_TRUE(platform_make_context_current());
    // The offscreen driver draws into a single-buffered pbuffer, so only the sizes are
    // read back here; under X the same attributes give a double-buffered window.
    GLint red_bits = 0, alpha_bits = 0, depth_bits = 0;
    glGetIntegerv(GL_RED_BITS, &red_bits);
    glGetIntegerv(GL_ALPHA_BITS, &alpha_bits);
    glGetIntegerv(GL_DEPTH_BITS, &depth_bits);
    EXPECT_EQ(red_bits, 8);
    EXPECT_EQ(alpha_bits, 8);
    EXPECT_GE(depth_bits, 16);

    EXPECT_TRUE(platform_make_no_context_current());
    EXPECT_TRUE(platform_delete_context());
    EXPECT_TRUE(platform_release_device_context());
    EXPECT_TRUE(platform_destroy_window());
    EXPECT_TRUE(platform_unregister_class("OpenGL", platform_get_instance_handle()));
}

TEST_F(platform_test, display_mode_only_an_exact_listed_mode_for_the_fullscreen_flag) {
    display_mode_request no_height = mode_request(1024, 768, 32);
    no_height.fields &= ~dm_pelsheight;
    struct mode_case {
        display_mode_request mode;
        uint32_t flags;
        bool expected;
    };
    const std::vector<mode_case> cases = {
        {mode_request(1024, 768, 32), cds_fullscreen, true},
        {mode_request(1024, 767, 32), cds_fullscreen, false},
        {mode_request(1024, 768, 24), cds_fullscreen, false}, // 4 bytes a pixel is 32 bits
        {mode_request(1024, 768, 32), 0, false},              // a lasting change
        {no_height, cds_fullscreen, false},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(platform_change_display_settings(&cases[i].mode, cases[i].flags),
                  cases[i].expected);
        EXPECT_TRUE(platform_change_display_settings(nullptr, 0));
    }
}

} // namespace
