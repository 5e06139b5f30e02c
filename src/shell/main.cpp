// vornhal: plays the demo. Exits with 0 when the show ended normally, 1 when it could
// not run, 2 for a command line it cannot take.
#include "platform/host.h"
#include "shell/shell.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    constexpr int exit_usage = 2;
    command_line options;
    switch (parse_command_line(argc, argv, options)) {
    case command_line_action::help:
        std::fputs(vornhal_usage, stdout);
        return 0;
    case command_line_action::version:
        std::fputs(vornhal_version, stdout);
        return 0;
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
