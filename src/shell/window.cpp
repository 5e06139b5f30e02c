// The window with its GL context and the display mode around it. Closing undoes
// opening whole, so the window can be closed and opened any number of times (F1 does
// that).
#include "shell/shell.h"

#include "scene/scene.h"

#include <cstdio>

namespace {

// The window mode, recorded here alone: whether the window open now (or last) is
// fullscreen, its mode and cursor restored on close. Written by open_gl_window.
bool window_fullscreen;

// Kept exactly, with every dialog text below: the captions and texts the program has
// always shown, odd capitals and the caption "Oxlu" included.
constexpr const char* error_caption = "ERROR";

// Tears down what the open created so far, then tells the user why it stopped.
window_opened undo_open_and_tell(const char* text) {
    close_gl_window();
    platform_tell(error_caption, text, dialog_icon::warning);
    return window_opened::failed;
}

} // namespace

window_opened open_gl_window(const char* title, int width, int height, int bits,
                             bool want_fullscreen, bool ask_without_mode) {
    window_fullscreen = want_fullscreen;

    // Without the mode, a show whose user is there is asked, as it always was; one
    // started fullscreen in advance (a kiosk, a party screen) takes the desktop's mode.
    if (window_fullscreen && !platform_switch_display_mode(width, height, bits) &&
        ask_without_mode) {
        const dialog_answer answer =
            platform_ask_yes_no("Oxlu",
                                "The Requested Fullscreen Mode Is Not Supported By\n"
                                "Your Video Card. Use Windowed Mode Instead?",
                                dialog_icon::warning);
        if (answer == dialog_answer::no) {
            platform_tell(error_caption, "Program Will Now Close.", dialog_icon::stop);
            return window_opened::failed;
        }
        // Nobody could be asked: the show goes on in a window rather than ending.
        if (answer == dialog_answer::not_shown)
            std::fprintf(stderr, "vornhal: no 800 x 600 mode and no dialog to ask in; the "
                                 "show starts in a window\n");
        window_fullscreen = false;
    }

    // A fullscreen window is a bare one over the new mode, without a cursor.
    if (window_fullscreen)
        platform_show_cursor(false);

    switch (platform_create_window(title, width, height, window_fullscreen)) {
    case window_step::window:
        return undo_open_and_tell("Window Creation Error.");
    case window_step::context:
        return undo_open_and_tell("Can't Create A GL Rendering Context.");
    case window_step::make_current:
        return undo_open_and_tell("Can't Activate The GL Rendering Context.");
    case window_step::none:
        break;
    }

    setup_scene();
    // The window opens black, so that its first swap, which a software GL is slow over,
    // is done before the show's first picture: that comes with the music's first note.
    present_black();
    platform_swap_buffers();
    return window_fullscreen ? window_opened::fullscreen : window_opened::windowed;
}

bool gl_window_fullscreen() {
    return window_fullscreen;
}

void close_gl_window() {
    if (window_fullscreen) {
        platform_restore_display_mode();
        platform_show_cursor(true);
    }
    // Kept exactly: the shutdown text the program has always shown, DC and RC included.
    if (!platform_destroy_window())
        platform_tell("SHUTDOWN ERROR", "Release Of DC And RC Failed.", dialog_icon::information);
}
