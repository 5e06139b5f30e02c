// The end of the show goes through the frame's own comparison: a frame at 142000 ms
// ends it and one at 141999 ms does not, whichever clock runs.
#include "scene/scene.h"
#include "sound/soundtrack.h"
#include "stream/sound_stream.h"
#include "test_audio.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <unistd.h>

namespace {

// A hidden 800 x 600 window with a GL context on the offscreen driver, in an empty
// working directory (no images, no music). The silent clock runs first, since
// hold_demo_clock lasts for the rest of the process.
TEST(ShowEnd, EndsAt142000AndNotBeforeOnTheSilentAndTheHeldClock) {
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    SDL_Window* window =
        SDL_CreateWindow("show end", 0, 0, 800, 600, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    ASSERT_NE(window, nullptr) << SDL_GetError();
    SDL_GLContext context = SDL_GL_CreateContext(window);
    ASSERT_NE(context, nullptr) << SDL_GetError();
    char old_dir[4096];
    ASSERT_NE(getcwd(old_dir, sizeof old_dir), nullptr);
    const std::string dir = make_temp_dir();
    ASSERT_EQ(chdir(dir.c_str()), 0);

    testing::internal::CaptureStdout();
    ASSERT_TRUE(setup_scene());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error!\nFile Not Found\n");
    EXPECT_TRUE(draw_frame());
    seek_soundtrack(141000);
    EXPECT_TRUE(draw_frame());
    seek_soundtrack(142000);
    EXPECT_FALSE(draw_frame());
    stop_soundtrack();

    hold_demo_clock(0);
    ASSERT_TRUE(setup_scene());
    EXPECT_EQ(sound_buffer_frames(), 0) << "a held clock opens no sound output";
    for (const auto& [ms, goes_on] :
         {std::pair{0, true}, {141999, true}, {142000, false}, {142001, false}, {141998, true}}) {
        hold_demo_clock(ms);
        EXPECT_EQ(draw_frame(), goes_on) << ms << " ms";
        EXPECT_EQ(demo_time_ms, static_cast<float>(ms));
    }
    stop_soundtrack();

    EXPECT_EQ(chdir(old_dir), 0);
    rmdir(dir.c_str());
    SDL_GL_DeleteContext(context);
    SDL_DestroyWindow(window);
    SDL_Quit();
}

} // namespace
