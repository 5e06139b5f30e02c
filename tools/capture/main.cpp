// vornhal-capture: the demo rendered offline, one subcommand per kind of output.
#include "capture.h"

#include <cstdio>
#include <cstring>

static const char usage[] =
    "usage: vornhal-capture COMMAND ARGS...\n"
    "Renders the demo with no display, through its own frame code.\n"
    "\n"
    "  frame MS OUT.png\n"
    "      one frame, the picture the demo shows at MS milliseconds\n"
    "  video OUT.mp4 [--fps N] [--from MS] [--to MS] [--jobs N] [--null]\n"
    "      the show with its soundtrack, encoded as a video\n"
    "  frames DIR [--fps N] [--from MS] [--to MS] [--jobs N]\n"
    "      the show as numbered PNG files\n"
    "\n"
    "Each command reads data/ below the working directory; COMMAND --help tells more.\n";

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(usage, stderr);
        return 1;
    }
    const char* command = argv[1];
    if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0 ||
        std::strcmp(command, "help") == 0) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (std::strcmp(command, "frame") == 0)
        return run_frame_command(argc - 1, argv + 1);
    if (std::strcmp(command, "video") == 0)
        return run_video_command(argc - 1, argv + 1);
    if (std::strcmp(command, "frames") == 0)
        return run_frames_command(argc - 1, argv + 1);
    std::fprintf(stderr, "vornhal-capture: unknown command '%s' (see vornhal-capture --help)\n",
                 command);
    return 1;
}
