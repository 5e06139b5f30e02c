// A second implementation of the platform seam for the shell tests. It replays a
// journal of steps (messages, passes without a message, test actions) and records
// every call the shell makes, with what it asked for, and every dialog, in order.
//
// GL is real: the scripted context is a GL context on a hidden window of SDL's
// offscreen driver (the test environment selects it), so scene setup, resizes and
// frames run on Mesa exactly as in the program.
#pragma once

#include "platform/platform.h"

#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

struct scripted_dialog {
    std::string caption;
    std::string text;
    unsigned style;
};

struct scripted_step {
    enum kind_type { message, no_message, action } kind;
    platform_message sent;
    std::function<void()> run;
};

struct scripted_platform {
    // Set by the test before the run.
    std::deque<scripted_step> script; // consumed by peek/wait
    std::deque<int> answers;          // consumed by yes/no message boxes, in order
    std::set<std::string> failing;    // names of calls that report failure

    // Recorded by the platform calls.
    std::vector<std::string> calls; // "create_window Vornhal 800x600 popup", ...
    std::vector<scripted_dialog> dialogs;
    std::vector<pixel_format_request> pixel_requests;
    std::vector<int> wait_timeouts_ms; // one per platform_wait_message call
    bool cursor_visible = true;
    bool mode_changed = false; // the display runs in a mode of the program's
    bool script_ran_out = false;
    // The procedure of the class registered now; messages are dispatched to it.
    window_procedure class_procedure = nullptr;
};

// The one scripted platform of the test process.
extern scripted_platform scripted;

// Forgets the previous run: script, answers, failures and records.
void reset_scripted_platform();

// Script building.
void send(unsigned code, uintptr_t wparam = 0, intptr_t lparam = 0);
void pass_without_message(int count = 1);
void then_run(std::function<void()> action);

// How many recorded calls start with the given text.
int count_calls(const std::string& prefix);
