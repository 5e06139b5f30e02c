// Placeholder until the frame renderer lands.
#include "capture.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "video") == 0)
        return run_video_command(argc - 1, argv + 1);
    if (argc >= 2 && std::strcmp(argv[1], "frames") == 0)
        return run_frames_command(argc - 1, argv + 1);
    std::fprintf(stderr, "vornhal-capture: not available yet\n");
    return 1;
}
