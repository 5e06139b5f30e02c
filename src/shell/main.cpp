// vornhal: plays the demo. Exits with 0 when the show ended normally, 1 when it could
// not run, 2 for a command line it cannot take, 128 + the signal when interrupted
// (130 for Ctrl-C, 143 for SIGTERM).
#include "datafiles/data_files.h"
#include "host/files.h"
#include "platform/platform.h"
#include "shell/shell.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    watch_interrupts();
    constexpr int exit_usage = 2;
    command_line options;
    const command_line_action action = parse_command_line(argc, argv, options);
    switch (action) {
    case command_line_action::help:
    case command_line_action::version: {
        constexpr int exit_failed = 1;
        const char* text = action == command_line_action::help ? vornhal_usage : vornhal_version;
        return print_to_stdout("vornhal", text) ? 0 : exit_failed;
    }
    case command_line_action::usage_error:
        // The usage line alone; --help tells the rest.
        std::fprintf(
            stderr, "vornhal: %s%s%s\n%.*sTry 'vornhal --help' for more.\n", options.problem,
            options.argument ? ": " : "", options.argument ? options.argument : "",
            static_cast<int>(std::strchr(vornhal_usage, '\n') - vornhal_usage + 1), vornhal_usage);
        return exit_usage;
    case command_line_action::run:
        break;
    }
    constexpr int exit_failed = 1;
    if (!choose_data_dir("vornhal", options.data_dir))
        return exit_failed;
    return run_demo(options.start);
}
