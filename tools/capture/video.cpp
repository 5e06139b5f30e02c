// Placeholder until video capture lands.
#include "capture.h"

#include <cstdio>

int run_video_command(int, char**) {
    std::fprintf(stderr, "vornhal-capture: video is not available yet\n");
    return 1;
}

int run_frames_command(int, char**) {
    std::fprintf(stderr, "vornhal-capture: frames is not available yet\n");
    return 1;
}
