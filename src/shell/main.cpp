// vornhal: plays the demo. Exits with 0 when the show ended normally, 1 when it could
// not run, 2 for a command line it cannot take, 128 + the signal when interrupted
// (130 for Ctrl-C, 143 for SIGTERM).
#include "platform/host.h"
#include "shell/shell.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

// Writes text to standard output whole; a failed write (a full disk, a closed pipe)
// is an error, said on standard error.
static int print_or_fail(const char* text) {
    constexpr int exit_failed = 1;
    if (std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0)
        return 0;
    std::fprintf(stderr, "vornhal: cannot write to standard output: %s\n", std::strerror(errno));
    return exit_failed;
}

int main(int argc, char** argv) {
    watch_interrupts();
    constexpr int exit_usage = 2;
    command_line options;
    switch (parse_command_line(argc, argv, options)) {
    case command_line_action::help:
        return print_or_fail(vornhal_usage);
    case command_line_action::version:
        return print_or_fail(vornhal_version);
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
