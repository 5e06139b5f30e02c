// The real SDL seam on SDL's offscreen driver: SDL events pushed into its queue come out
// as the program's own events or not at all.
#include "platform/platform.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

TEST(platform_sdl, sdl_events_become_the_programs_own) {
    ASSERT_TRUE(platform_open_display());
    ASSERT_EQ(platform_create_window("events", 64, 48, false), window_step::none);
    const int id = static_cast<int>(SDL_GetWindowID(SDL_GL_GetCurrentWindow()));
    platform_event event;
    while (platform_next_event(event, 0)) {
    } // what showing the window sent
    constexpr int none = -1, down = 0, up = 1, active = 2, minimised = 3, close = 4;
    struct translation_case {
        Uint32 type;
        int code; // key: the SDL key code; window event: its kind, then window, sizes
        int window, width_px, height_px;
        int kind, key; // what the program sees
    };
    const translation_case cases[] = {
        {SDL_KEYDOWN, SDLK_ESCAPE, 0, 0, 0, down, key_escape},
        {SDL_KEYUP, SDLK_m, 0, 0, 0, up, 'm'},
        {SDL_KEYDOWN, SDLK_F1, 0, 0, 0, down, key_f1},
        {SDL_KEYUP, SDLK_F12, 0, 0, 0, up, key_f1 + 11},
        {SDL_KEYDOWN, 0xFF, 0, 0, 0, down, 0xFF}, // y with diaeresis
        {SDL_KEYDOWN, 0x100, 0, 0, 0, none, 0},
        {SDL_KEYDOWN, SDLK_LEFT, 0, 0, 0, none, 0},
        {SDL_WINDOWEVENT, SDL_WINDOWEVENT_MINIMIZED, id, 0, 0, minimised, 0},
        {SDL_WINDOWEVENT, SDL_WINDOWEVENT_RESTORED, id, 0, 0, active, 0},
        {SDL_WINDOWEVENT, SDL_WINDOWEVENT_FOCUS_LOST, id, 0, 0, active, 0},    // not minimised
        {SDL_WINDOWEVENT, SDL_WINDOWEVENT_SIZE_CHANGED, id, 1024, 0, none, 0}, // presenting asks
        {SDL_WINDOWEVENT, SDL_WINDOWEVENT_MOVED, id, 0, 0, none, 0},
        {SDL_WINDOWEVENT, SDL_WINDOWEVENT_CLOSE, id, 0, 0, close, 0},
        {SDL_WINDOWEVENT, SDL_WINDOWEVENT_CLOSE, id + 1, 0, 0, none, 0}, // an earlier window's
        {SDL_QUIT, 0, 0, 0, 0, close, 0},
    };
    for (const translation_case& c : cases) {
        SCOPED_TRACE(std::to_string(&c - cases));
        SDL_Event sdl{};
        sdl.type = c.type;
        if (c.type == SDL_WINDOWEVENT)
            sdl.window = {c.type, 0, Uint32(c.window), Uint8(c.code), 0,
                          0,      0, c.width_px,       c.height_px};
        else
            sdl.key.keysym.sym = c.code;
        ASSERT_EQ(SDL_PushEvent(&sdl), 1) << SDL_GetError();
        std::array<int, 2> seen = {none, 0};
        if (platform_next_event(event, 0))
            seen = {static_cast<int>(event.kind), event.key};
        EXPECT_EQ(seen, (std::array<int, 2>{c.kind, c.key}));
    }
    platform_close_display();
}

} // namespace
