// The platform seam over SDL2. A fullscreen window is an SDL fullscreen window set to
// the display mode found by platform_switch_display_mode; dialogs are SDL message boxes.
// On X a guard program (mode_guard.h) keeps the desktop mode safe while it is switched.
// On Wayland the window outlives its GL context: SDL cannot destroy one window there and
// make another without crashing in a late decoration callback, so the next window is
// the same one, switched between fullscreen and framed.
#include "platform/platform.h"

#include "platform/gl_surface.h"
#include "platform/mode_guard.h"
#include "platform/wayland_seat.h"

#include "pngload/png_decode.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>

extern const unsigned char window_icon_png[];
extern const size_t window_icon_png_bytes;

namespace {

struct platform_state {
    bool display_open;     // written by platform_open_display / platform_close_display
    bool mode_switched;    // a mode waits for fullscreen windows; written by switch / restore
    SDL_DisplayMode mode;  // that mode; written by platform_switch_display_mode
    SDL_Window* window;    // written by platform_create_window / platform_destroy_window
    SDL_GLContext context; // written by platform_create_window / platform_destroy_window
    bool keep_window;      // windows are reused (Wayland); written by platform_open_display
    SDL_Window* kept;      // a window without context waiting for reuse; create / destroy
};
platform_state platform;

// The program's code for an SDL key, or -1 for a key the program never sees.
int program_key(SDL_Keycode key) {
    constexpr int function_keys = 12;
    if (key >= SDLK_F1 && key < SDLK_F1 + function_keys)
        return key_f1 + static_cast<int>(key - SDLK_F1);
    // Below 256 an SDL key code is the ISO 8859-1 character the key types.
    if (key >= 0 && key < key_count)
        return static_cast<int>(key);
    return -1;
}

// The program's event for one SDL event; false for the many it has none for.
bool translate_event(const SDL_Event& sdl, platform_event& event) {
    event = {};
    switch (sdl.type) {
    case SDL_QUIT:
        event.kind = event_kind::close_asked;
        return true;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        event.kind = sdl.type == SDL_KEYDOWN ? event_kind::key_down : event_kind::key_up;
        event.key = program_key(sdl.key.keysym.sym);
        return event.key >= 0;
    case SDL_WINDOWEVENT:
        // Events of a window already destroyed must not reach the next one.
        if (!platform.window || sdl.window.windowID != SDL_GetWindowID(platform.window))
            return false;
        switch (sdl.window.event) {
        case SDL_WINDOWEVENT_CLOSE:
            event.kind = event_kind::close_asked;
            return true;
        case SDL_WINDOWEVENT_MINIMIZED:
            event.kind = event_kind::minimised;
            return true;
        case SDL_WINDOWEVENT_RESTORED:
        case SDL_WINDOWEVENT_FOCUS_GAINED:
            event.kind = event_kind::activated;
            return true;
        case SDL_WINDOWEVENT_FOCUS_LOST:
            // Another window took the keyboard; the show still runs unless minimised.
            bool minimised = (SDL_GetWindowFlags(platform.window) & SDL_WINDOW_MINIMIZED) != 0;
            event.kind = minimised ? event_kind::minimised : event_kind::activated;
            return true;
        }
        return false;
    }
    return false;
}

constexpr int yes = 1, no = 0, ok = 2, not_shown = -1;

// The desktop icon's image on the window itself (its title bar, a task switcher).
void set_window_icon(SDL_Window* window) {
    constexpr uint32_t icon_side_px = 64;
    decoded_png icon = {};
    const char* reason = nullptr;
    if (!decode_png(window_icon_png, window_icon_png_bytes, png_screen_gamma(nullptr), icon_side_px,
                    &icon, &reason))
        return;
    const int pitch = static_cast<int>(icon.level.width * icon.components);
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(
        icon.level.bytes.data(), static_cast<int>(icon.level.width),
        static_cast<int>(icon.level.height), static_cast<int>(icon.components * 8), pitch,
        icon.components == 4 ? SDL_PIXELFORMAT_RGBA32 : SDL_PIXELFORMAT_RGB24);
    if (surface) {
        SDL_SetWindowIcon(window, surface);
        SDL_FreeSurface(surface);
    }
}

// The answer a dialog gives, or not_shown when none can be.
int show_dialog(const char* caption, const char* text, dialog_icon icon, bool yes_no) {
    Uint32 flags = icon == dialog_icon::warning ? SDL_MESSAGEBOX_WARNING
                   : icon == dialog_icon::stop  ? SDL_MESSAGEBOX_ERROR
                                                : SDL_MESSAGEBOX_INFORMATION;
    const SDL_MessageBoxButtonData yes_no_buttons[] = {
        {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, yes, "Yes"},
        {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, no, "No"},
    };
    const SDL_MessageBoxButtonData ok_button[] = {
        {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, ok,
         "OK"},
    };
    SDL_MessageBoxData box{};
    box.flags = flags;
    box.title = caption;
    box.message = text;
    box.numbuttons = yes_no ? 2 : 1;
    box.buttons = yes_no ? yes_no_buttons : ok_button;
    int answer = no; // closing the box without a button counts as Escape
    if (SDL_ShowMessageBox(&box, &answer) != 0) {
        // SDL draws its X11 boxes in a child process, so their reason never reaches
        // SDL_GetError, which keeps the last fallback's; on X, missing fonts are the
        // usual cause, so that is said too.
        const char* driver = SDL_GetCurrentVideoDriver();
        bool on_x = driver && SDL_strcmp(driver, "x11") == 0;
        std::fprintf(
            stderr, "%s: %s (no dialog could be shown: %s%s)\n", caption, text, SDL_GetError(),
            on_x ? "; dialogs on X need the X core fonts, Debian package xfonts-base" : "");
        return not_shown;
    }
    return answer;
}

} // namespace

bool platform_open_display() {
    constexpr const char* no_display = "vornhal: no display to show the demo on";
    // The pointer stays the user's on Wayland: with the cursor hidden, SDL would stand in
    // for a mouse warp by locking the pointer, which holds it on the show's output and,
    // on a compositor without relative pointers, crashes when the lock is released.
    SDL_SetHintWithPriority("SDL_VIDEO_WAYLAND_EMULATE_MOUSE_WARP", "0", SDL_HINT_OVERRIDE);
    // Ctrl-C and SIGTERM are the program's own (watch_interrupts), not a close request.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // A fullscreen show stays fullscreen when another window takes the keyboard. SDL
    // would minimise one in a mode of its own, and where the window manager cannot
    // minimise (XWayland's) it comes back framed and stays so.
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    // Windows carry the desktop entry's name (X11 class, Wayland app id), so a desktop
    // matches them to it and shows its icon. SDL 2.26 reads these from the environment
    // only, when the video subsystem starts; a user's own setting wins.
    setenv("SDL_VIDEO_X11_WMCLASS", VORNHAL_APP_ID, 0);
    setenv("SDL_VIDEO_WAYLAND_WMCLASS", VORNHAL_APP_ID, 0);
    // SDL starts on Wayland when asked to, or when no X display answers, and crashes
    // there on a desktop without a seat: such a desktop's X server (XWayland) plays the
    // show instead, and without one there is nothing to show it on.
    const char* asked = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    if ((!asked || !*asked || SDL_strstr(asked, "wayland")) && wayland_desktop_without_seat()) {
        const char* x_display = std::getenv("DISPLAY");
        if (!x_display || !*x_display) {
            std::fprintf(stderr, "%s (the Wayland desktop has no seat: no keyboard or pointer)\n",
                         no_display);
            return false;
        }
        if (asked && *asked)
            std::fprintf(stderr, "vornhal: the Wayland desktop has no seat; playing on X (%s)\n",
                         x_display);
        SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "x11", SDL_HINT_OVERRIDE);
    }
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "%s (%s)\n", no_display, SDL_GetError());
        return false;
    }
    // SDL falls back to drivers that draw into memory when it finds no display. Those
    // only count when asked for by name (headless capture and tests do that).
    const char* driver = SDL_GetCurrentVideoDriver();
    const char* requested = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    bool memory_only =
        driver && (SDL_strcmp(driver, "offscreen") == 0 || SDL_strcmp(driver, "dummy") == 0 ||
                   SDL_strcmp(driver, "evdev") == 0);
    if (memory_only && !(requested && *requested)) {
        std::fprintf(stderr, "%s (no X11 or Wayland display could be opened; is DISPLAY set?)\n",
                     no_display);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    // The show runs without a screen saver or a monitor power-down.
    SDL_DisableScreenSaver();
    platform.keep_window = driver && SDL_strcmp(driver, "wayland") == 0;
    platform.display_open = true;
    return true;
}

void platform_close_display(bool leave_audio) {
    platform_destroy_window();
    if (platform.kept)
        SDL_DestroyWindow(platform.kept);
    platform.kept = nullptr;
    if (platform.display_open)
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    platform.display_open = false;
    platform.mode_switched = false;
    if (!leave_audio)
        SDL_Quit();
    stop_mode_guard();
}

dialog_answer platform_ask_yes_no(const char* caption, const char* text, dialog_icon icon) {
    const int answer = show_dialog(caption, text, icon, true);
    return answer == yes  ? dialog_answer::yes
           : answer == no ? dialog_answer::no
                          : dialog_answer::not_shown;
}

void platform_tell(const char* caption, const char* text, dialog_icon icon) {
    show_dialog(caption, text, icon, false);
}

bool platform_switch_display_mode(int width_px, int height_px, int bits) {
    constexpr int display_index = 0;
    int count = SDL_GetNumDisplayModes(display_index);
    for (int i = 0; i < count; ++i) {
        SDL_DisplayMode mode;
        if (SDL_GetDisplayMode(display_index, i, &mode) != 0)
            continue;
        // A pixel of 4 bytes counts as 32 bits: X reports depth 24 for those.
        int mode_bits = SDL_BYTESPERPIXEL(mode.format) == 4 ? 32 : SDL_BITSPERPIXEL(mode.format);
        if (mode.w == width_px && mode.h == height_px && mode_bits == bits) {
            platform.mode = mode;
            platform.mode_switched = true;
            if (SDL_strcmp(SDL_GetCurrentVideoDriver(), "x11") == 0)
                start_mode_guard();
            return true;
        }
    }
    return false;
}

void platform_restore_display_mode() {
    if (platform.window)
        SDL_SetWindowFullscreen(platform.window, 0);
    platform.mode_switched = false;
    stop_mode_guard();
}

void platform_show_cursor(bool visible) {
    SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE);
}

window_step platform_create_window(const char* title, int width_px, int height_px,
                                   bool fullscreen) {
    // X fixes a window's visual when it is created, so the format comes first.
    set_gl_surface_attributes();
    const bool mode_fullscreen = fullscreen && platform.mode_switched;
    if (platform.kept) {
        platform.window = platform.kept;
        platform.kept = nullptr;
        SDL_SetWindowTitle(platform.window, title);
        if (!fullscreen) {
            SDL_SetWindowFullscreen(platform.window, 0);
            SDL_SetWindowBordered(platform.window, SDL_TRUE);
            SDL_SetWindowResizable(platform.window, SDL_TRUE);
            SDL_SetWindowSize(platform.window, width_px, height_px);
        } else if (!mode_fullscreen) {
            SDL_SetWindowFullscreen(platform.window, SDL_WINDOW_FULLSCREEN_DESKTOP);
        }
    } else {
        Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN | SDL_WINDOW_ALLOW_HIGHDPI;
        SDL_DisplayMode desktop;
        if (fullscreen && !mode_fullscreen) {
            // Bare and as large as the desktop's mode itself, so that it fills the screen
            // even where no window manager is there to make it fullscreen (a kiosk).
            flags |= SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS;
            if (SDL_GetDesktopDisplayMode(0, &desktop) == 0) {
                width_px = desktop.w;
                height_px = desktop.h;
            }
        } else {
            flags |= fullscreen ? SDL_WINDOW_FULLSCREEN : SDL_WINDOW_RESIZABLE;
        }
        platform.window = SDL_CreateWindow(title, 0, 0, width_px, height_px, flags);
        if (!platform.window)
            return window_step::window;
        set_window_icon(platform.window);
    }
    if (mode_fullscreen && (SDL_SetWindowDisplayMode(platform.window, &platform.mode) != 0 ||
                            SDL_SetWindowFullscreen(platform.window, SDL_WINDOW_FULLSCREEN) != 0)) {
        platform_destroy_window();
        return window_step::window;
    }
    platform.context = SDL_GL_CreateContext(platform.window);
    if (!platform.context) {
        platform_destroy_window();
        return window_step::context;
    }
    if (SDL_GL_MakeCurrent(platform.window, platform.context) != 0) {
        platform_destroy_window();
        return window_step::make_current;
    }
    // Frames paced to the display: adaptive where the driver offers it (a late frame is
    // shown at once rather than a whole refresh later), else plain vsync; a driver that
    // refuses both leaves the frames unpaced, which the clock does not mind.
    if (SDL_GL_SetSwapInterval(-1) != 0)
        SDL_GL_SetSwapInterval(1);
    SDL_ShowWindow(platform.window);
    SDL_RaiseWindow(platform.window);
    SDL_SetWindowInputFocus(platform.window);
    // SDL gives a window the cursor as set (hidden over a fullscreen one) only once the
    // pointer's entering it is handled, after the scene's slow setup; this gives it now.
    SDL_SetCursor(nullptr);
    return window_step::none;
}

bool platform_destroy_window() {
    bool let_go = true;
    if (platform.context) {
        let_go = SDL_GL_MakeCurrent(platform.window, nullptr) == 0;
        SDL_GL_DeleteContext(platform.context);
        platform.context = nullptr;
    }
    if (platform.window && platform.keep_window)
        platform.kept = platform.window;
    else if (platform.window)
        SDL_DestroyWindow(platform.window);
    platform.window = nullptr;
    return let_go;
}

void platform_swap_buffers() {
    if (platform.window)
        SDL_GL_SwapWindow(platform.window);
}

void platform_drawable_size(int& width_px, int& height_px) {
    width_px = height_px = 0;
    if (platform.window)
        SDL_GL_GetDrawableSize(platform.window, &width_px, &height_px);
}

bool platform_next_event(platform_event& event, int wait_ms) {
    // Everything pending now, unlike SDL_PollEvent, which stops short at the end of
    // each of its poll cycles and would report none while events are pending.
    SDL_Event sdl;
    SDL_PumpEvents();
    while (SDL_PeepEvents(&sdl, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) == 1)
        if (translate_event(sdl, event))
            return true;
    return wait_ms > 0 && SDL_WaitEventTimeout(&sdl, wait_ms) && translate_event(sdl, event);
}
