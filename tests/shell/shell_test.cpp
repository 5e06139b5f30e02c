// The entry, window and loop over a scripted twin of the platform seam: the questions
// and what each answer opens, each failure's text, the ways the show ends and their
// exit statuses, the keys and the minimised wait. GL is real: the twin keeps one context
// current on a hidden window of SDL's offscreen driver, so scene setup and frames run on
// Mesa as in the program, and the clock is the real soundtrack's.
#include "platform/gl_surface.h"
#include "shell/shell.h"
#include "sound/soundtrack.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

// The real soundtrack's clock read after a seek: it may trail the target by the sound
// still on its way, and run on by however long the passes in between took.
constexpr float clock_behind_ms = 100.0f;
constexpr float clock_slack_ms = 1500.0f;

// --- The scripted twin ------------------------------------------------------------------
// It replays a script of words: "." a pass without an event; "+K" and "-K" key K down
// and up (esc, f1, or a character); "min", "act", "close"; "!step" that step fails from
// then on; "@ms" seeks the soundtrack; "=ms" sets demo_time_ms as if a frame drew it;
// "?" runs the next action. A script that runs out asks to close, and says so.
struct scripted_platform {
    std::istringstream script;                  // words, consumed by next_event
    std::vector<std::function<void()>> actions; // run by the "?" words, in order
    size_t actions_run = 0;
    std::string answers; // to the questions in order: y, n, or - (no dialog shown)
    std::string failing; // display mode window context make_current release
    // Recorded: every dialog ("ERROR stop: text", a question ending in "[Yes No]"); every window's
    // mode in order
    // ("windowed fullscreen") with what was odd about it in brackets (a title or size
    // other than "Vornhal 800x600", the cursor shown over a fullscreen window or hidden
    // over another); the wait of every next_event that waited.
    std::vector<std::string> dialogs;
    std::string windows;
    std::vector<int> waits_ms;
    int swaps = 0, windows_open = 0;
    bool mode_switched = false, cursor_visible = true, script_ran_out = false;
};
static scripted_platform scripted;

static bool fails(const std::string& step) {
    return (" " + scripted.failing + " ").find(" " + step + " ") != std::string::npos;
}

bool platform_open_display() {
    return !fails("display");
}
void platform_close_display(bool) {}

void platform_tell(const char* caption, const char* text, dialog_icon icon) {
    const char* icons[] = {"question", "warning", "stop", "information"};
    scripted.dialogs.push_back(std::string(caption) + " " + icons[int(icon)] + ": " + text);
}
dialog_answer platform_ask_yes_no(const char* caption, const char* text, dialog_icon icon) {
    platform_tell(caption, text, icon);
    scripted.dialogs.back() += " [Yes No]";
    char answer = scripted.answers.empty() ? 'n' : scripted.answers[0];
    scripted.answers.erase(0, 1);
    return answer == 'y'   ? dialog_answer::yes
           : answer == '-' ? dialog_answer::not_shown
                           : dialog_answer::no;
}

bool platform_switch_display_mode(int width_px, int height_px, int bits) {
    return scripted.mode_switched =
               width_px == 800 && height_px == 600 && bits == 32 && !fails("mode");
}
void platform_restore_display_mode() {
    scripted.mode_switched = false;
}
void platform_show_cursor(bool visible) {
    scripted.cursor_visible = visible;
}

window_step platform_create_window(const char* title, int width_px, int height_px,
                                   bool fullscreen) {
    std::string size = std::to_string(width_px) + "x" + std::to_string(height_px);
    scripted.windows += (scripted.windows.empty() ? "" : " ") +
                        std::string(!fullscreen              ? "windowed"
                                    : scripted.mode_switched ? "fullscreen"
                                                             : "desktop") +
                        (title + (" " + size) == "Vornhal 800x600" ? "" : " (" + size + ")") +
                        (scripted.cursor_visible == fullscreen ? " (cursor)" : "");
    if (fails("window"))
        return window_step::window;
    if (fails("context"))
        return window_step::context;
    if (fails("make_current"))
        return window_step::make_current;
    ++scripted.windows_open;
    return window_step::none;
}

bool platform_destroy_window() {
    bool had_window = scripted.windows_open > 0;
    scripted.windows_open = 0;
    return !(had_window && fails("release"));
}

void platform_swap_buffers() {
    ++scripted.swaps;
}
void platform_drawable_size(int& width_px, int& height_px) {
    width_px = scripted.windows_open ? 800 : 0;
    height_px = scripted.windows_open ? 600 : 0;
}

bool platform_next_event(platform_event& event, int wait_ms) {
    if (wait_ms > 0)
        scripted.waits_ms.push_back(wait_ms);
    for (std::string word; scripted.script >> word;) {
        std::string rest = word.substr(1);
        if (word == ".")
            return false;
        if (word == "?")
            scripted.actions.at(scripted.actions_run++)();
        else if (word[0] == '!')
            scripted.failing += " " + rest;
        else if (word[0] == '@')
            seek_soundtrack(std::stoi(rest));
        else if (word[0] == '=')
            demo_time_ms = std::stof(rest);
        else {
            event.kind = word == "min"    ? event_kind::minimised
                         : word == "act"  ? event_kind::activated
                         : word[0] == '+' ? event_kind::key_down
                         : word[0] == '-' ? event_kind::key_up
                                          : event_kind::close_asked;
            event.key = rest == "esc" ? key_escape : rest == "f1" ? key_f1 : rest[0];
            return true;
        }
    }
    scripted.script_ran_out = true;
    event.kind = event_kind::close_asked;
    return true;
}

namespace {

// --- The tests --------------------------------------------------------------------------
const std::string asked =
    "Start FullScreen? question: Would You Like To Run In Fullscreen Mode? [Yes No]";
const std::string fallback = "Oxlu warning: The Requested Fullscreen Mode Is Not Supported By\n"
                             "Your Video Card. Use Windowed Mode Instead? [Yes No]";
const std::string error = "ERROR warning: ";

struct run_case {
    const char *answers, *failing, *script;
    int status;
    std::vector<std::string> dialogs;
    const char* windows;
};

// Runs the demo over the script; whatever happened, nothing may be left behind.
void run(const run_case& c, std::vector<std::function<void()>> actions = {},
         start_choice start = start_choice::ask) {
    SCOPED_TRACE(c.script);
    scripted = scripted_platform{};
    scripted.answers = c.answers;
    scripted.failing = c.failing;
    scripted.actions = std::move(actions);
    scripted.script.str(c.script);
    if (!SDL_GL_GetCurrentContext()) {
        ASSERT_TRUE(open_offscreen_gl("vornhal-test-shell", 800, 600));
    }
    EXPECT_EQ(run_demo(start), c.status);
    EXPECT_FALSE(scripted.script_ran_out);
    EXPECT_EQ(scripted.dialogs, c.dialogs);
    EXPECT_EQ(scripted.windows, c.windows);
    EXPECT_TRUE(!scripted.windows_open && !scripted.mode_switched && scripted.cursor_visible)
        << "a window, the display mode or a hidden cursor was left behind";
}

// Declining the fallback opens no window; a failing step leaves none. Escape (held,
// tapped, minimised), a close and the show's end all exit 0, and a pass that ends the
// show drops a pending F1: no reopen (one that would fail) follows. Held over passes F1
// toggles once; each repeat and each tap toggles again; a failed reopen exits 1.
TEST(shell, questions_failures_ends_and_f1) {
    // clang-format off
    const run_case cases[] = {
        {"y", "", ". +esc .", 0, {asked}, "fullscreen"},
        {"n", "", ". +esc .", 0, {asked}, "windowed"},
        {"yy", "mode", ". +esc .", 0, {asked, fallback}, "windowed"},
        {"yn", "mode", "", 1, {asked, fallback, "ERROR stop: Program Will Now Close."}, ""},
        {"y-", "mode", ". +esc .", 0, {asked, fallback}, "windowed"},
        {"-", "", ". +esc .", 0, {asked}, "windowed"},
        {"", "display", "", 1, {}, ""},
        {"y", "window", "", 1, {asked, error + "Window Creation Error."}, "fullscreen"},
        {"y", "context", "", 1, {asked, error + "Can't Create A GL Rendering Context."}, "fullscreen"},
        {"y", "make_current", "", 1,
         {asked, error + "Can't Activate The GL Rendering Context."}, "fullscreen"},
        {"n", "release", "+esc .", 0,
         {asked, "SHUTDOWN ERROR information: Release Of DC And RC Failed."}, "windowed"},
        {"n", "", ". +esc -esc .", 0, {asked}, "windowed"},
        {"n", "", ". min +esc .", 0, {asked}, "windowed"},
        {"n", "", ". close", 0, {asked}, "windowed"},
        {"n", "", ". !window +f1 +esc .", 0, {asked}, "windowed"},
        {"n", "", ". !window +f1 @142500 .", 0, {asked}, "windowed"},
        {"n", "", "+f1 . . . +f1 . . -f1 +f1 -f1 . !context +f1 .", 1,
         {asked, error + "Can't Create A GL Rendering Context."},
         "windowed fullscreen windowed fullscreen windowed"},
    };
    // clang-format on
    for (const run_case& c : cases)
        run(c);
}

// The keys' part of each pass, pure: the events before each pass ("|" ends a pass;
// "over": its frame showed the show over) against what each pass does. Escape held ends
// every pass, tapped one; F1 held over passes toggles once, each repeat and tap again,
// never on a pass that ends; M and N seek 400 ms from the clock, truncated toward zero,
// forward first; keys outside the table are dropped.
TEST(shell, key_step) {
    struct key_case {
        const char* events;
        float clock_ms;
        const char* passes;
    };
    // clang-format off
    const key_case cases[] = {
        {"+esc||", 0, "end|end|end"},
        {"+esc -esc||", 0, "end||"},
        {"over +f1|", 0, "end|"},
        {"+f1||+f1|-f1 +f1 -f1|", 0, "toggle||toggle|toggle|"},
        {"+m||-m", 5000.7f, "seek 5400|seek 5400|"},
        {"+n -n +m|", 5000.7f, "seek 5400 4600|seek 5400"},
        {"+n -n|", 150.5f, "seek -249|"},
        {"+q +300 +-1 -f1|", 0, "|"},
    };
    // clang-format on
    for (const key_case& c : cases) {
        SCOPED_TRACE(c.events);
        key_state keys = {};
        std::string passes;
        bool first = true;
        std::istringstream events(std::string(c.events) + "|");
        for (std::string pass_events; std::getline(events, pass_events, '|');) {
            std::istringstream words(pass_events);
            bool over = false;
            for (std::string word; words >> word;) {
                const std::string rest = word.substr(1);
                if (word == "over") {
                    over = true;
                    continue;
                }
                const int key = rest == "esc"     ? key_escape
                                : rest == "f1"    ? key_f1
                                : rest.size() > 1 ? std::stoi(rest)
                                                  : rest[0];
                take_key_event(keys,
                               {word[0] == '+' ? event_kind::key_down : event_kind::key_up, key});
            }
            const pass_actions done = step_keys(keys, over, c.clock_ms);
            std::string pass = done.end ? "end" : done.toggle ? "toggle" : "";
            for (int i = 0; i < done.seek_count; ++i)
                pass += (i ? " " : "seek ") + std::to_string(done.seek_ms[i]);
            passes += (first ? "" : "|") + pass;
            first = false;
        }
        EXPECT_EQ(passes, c.passes);
    }
}

// The window opens black, and no frame is presented before the music's first note.
// Minimised, no frame is drawn but the back buffer is still presented, and the loop
// waits for events instead of spinning. M held seeks the real soundtrack from the clock
// of the last drawn frame, to the same place on every pass.
TEST(shell, minimised_loop_and_seek_keys) {
    auto first_note = [] {
        EXPECT_EQ(scripted.swaps, 1);
        int64_t due_ns = 0;
        for (int tries = 0; tries < 500 && (sample_demo_clock(), awaiting_first_note(due_ns));
             ++tries)
            SDL_Delay(10);
        EXPECT_FALSE(awaiting_first_note(due_ns)) << "the dummy device never played";
    };
    auto clock_near = [=](float expected_ms) {
        return [=] {
            sample_demo_clock();
            EXPECT_GE(demo_time_ms, expected_ms - clock_behind_ms);
            EXPECT_LE(demo_time_ms, expected_ms + clock_slack_ms);
        };
    };
    const char* script = "? . . min =-1 . . . ? =5000.7 +m . -m ? =5000 +m . . . . -m ? "
                         "act . ? +esc .";
    run({"n", "", script, 0, {asked}, "windowed"},
        {first_note,
         [] {
             EXPECT_EQ(demo_time_ms, -1.0f) << "a frame was drawn while minimised";
             EXPECT_EQ(scripted.swaps, 6);
             EXPECT_EQ(scripted.waits_ms, std::vector<int>(4, 10));
         },
         clock_near(5400.0f), clock_near(5400.0f),
         [] { EXPECT_GE(demo_time_ms, 0.0f) << "no frame after restoring"; }});
}

// The command line: each option, what excludes what, and what is not taken. An answer
// given in advance asks nothing and opens what it says.
TEST(shell, command_line) {
    using action = command_line_action;
    struct cli_case {
        std::vector<const char*> args;
        action expected;
        start_choice start;
        const char* data_dir;
    };
    const start_choice ask = start_choice::ask, full = start_choice::fullscreen,
                       window = start_choice::window;
    // clang-format off
    const cli_case cases[] = {
        {{}, action::run, ask, nullptr},
        {{"--fullscreen"}, action::run, full, nullptr},
        {{"-w", "--data", "/srv/show"}, action::run, window, "/srv/show"},
        {{"--data=here", "-f", "-f"}, action::run, full, "here"},
        {{"--help", "--bogus"}, action::help, ask, nullptr},
        {{"-V"}, action::version, ask, nullptr},
        {{"--bogus"}, action::usage_error, ask, nullptr},
        {{"-x"}, action::usage_error, ask, nullptr},
        {{"show"}, action::usage_error, ask, nullptr},
        {{"-f", "--window"}, action::usage_error, full, nullptr},
        {{"--data"}, action::usage_error, ask, nullptr},
    };
    // clang-format on
    for (const cli_case& c : cases) {
        std::vector<char*> argv = {const_cast<char*>("vornhal")};
        for (const char* arg : c.args)
            argv.push_back(const_cast<char*>(arg));
        command_line options;
        SCOPED_TRACE(argv.size() > 1 ? argv[1] : "(none)");
        EXPECT_EQ(parse_command_line(static_cast<int>(argv.size()), argv.data(), options),
                  c.expected);
        EXPECT_EQ(options.start, c.start);
        EXPECT_STREQ(options.data_dir, c.data_dir);
        EXPECT_EQ(options.problem != nullptr, c.expected == action::usage_error);
    }
    run({"", "", ". +esc .", 0, {}, "windowed"}, {}, start_choice::window);
    run({"", "", ". +esc .", 0, {}, "fullscreen"}, {}, start_choice::fullscreen);
    // Started fullscreen in advance without the mode: the desktop's mode, never a question.
    run({"", "mode", ". +f1 . +f1 . +esc .", 0, {}, "desktop windowed desktop"}, {},
        start_choice::fullscreen);
}

} // namespace
