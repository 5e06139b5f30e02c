// vornhal's command line, in the usual conventions: long options with short forms,
// --help and --version on standard output, anything else it cannot take on standard
// error with the usage. No option changes what the show draws or plays.
#include "shell/shell.h"
#include "version.h"

#include <getopt.h>

#include <cstdio>

const char vornhal_usage[] =
    "usage: vornhal [-f | --fullscreen | -w | --window] [--data DIR]\n"
    "       vornhal -h | --help | -V | --version\n"
    "Plays the demo, 142 seconds of animation set to its own music.\n"
    "\n"
    "  -f, --fullscreen  start fullscreen without asking: in 800 x 600 where the\n"
    "                    display offers it, else at the desktop's own mode\n"
    "  -w, --window      start in a window without asking\n"
    "      --data DIR    read bg.png, fg.png, trelm.png and music.mp3 from DIR\n"
    "  -h, --help        show this help and exit\n"
    "  -V, --version     show the version and exit\n"
    "\n"
    "Without --data each file is read from the first of these that has it: data/ in\n"
    "the working directory (your own files win, one at a time), the installed\n"
    "share/vornhal/data beside bin/, data/ beside the executable.\n"
    "\n"
    "Keys: Escape ends the show; M and N, held, seek 400 ms forward and back a frame;\n"
    "F1 switches between fullscreen and a window.\n"
    "\n"
    "Exit status: 0 when the show ended (by itself, Escape or closing the window),\n"
    "1 when it could not run (no data files, no display, no window or GL context),\n"
    "2 for a bad command line, 130 on Ctrl-C (SIGINT), 143 on SIGTERM.\n";

const char vornhal_version[] = "vornhal " VORNHAL_VERSION "\n";

command_line_action parse_command_line(int argc, char** argv, command_line& options) {
    enum { data_option = 1000 };
    static const option table[] = {
        {"fullscreen", no_argument, nullptr, 'f'},
        {"window", no_argument, nullptr, 'w'},
        {"data", required_argument, nullptr, data_option},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    options = {};
    optind = 0; // a fresh scan, also when called again
    opterr = 0; // the caller says what was wrong, once, with the usage
    for (int code; (code = getopt_long(argc, argv, "+:fwhV", table, nullptr)) != -1;) {
        switch (code) {
        case 'f':
        case 'w': {
            const start_choice choice =
                code == 'f' ? start_choice::fullscreen : start_choice::window;
            if (options.start != start_choice::ask && options.start != choice) {
                options.problem = "--fullscreen and --window exclude each other";
                return command_line_action::usage_error;
            }
            options.start = choice;
            break;
        }
        case data_option:
            options.data_dir = optarg;
            break;
        case 'h':
            return command_line_action::help;
        case 'V':
            return command_line_action::version;
        case ':':
            options.problem = "option needs a value";
            options.argument = argv[optind - 1];
            return command_line_action::usage_error;
        default:
            options.problem = "unknown option";
            options.argument = argv[optind - 1];
            return command_line_action::usage_error;
        }
    }
    if (optind < argc) {
        options.problem = "unexpected argument";
        options.argument = argv[optind];
        return command_line_action::usage_error;
    }
    return command_line_action::run;
}
