// vornhal-capture: renders the demo's frames offline, with no display.
#pragma once

#include <vector>

// Opens an 800 x 600 GL context on SDL's offscreen driver and runs the demo's own
// scene setup on it with the clock held (no sound output). On failure prints one line
// to standard error and returns false.
bool open_capture_context();
void close_capture_context();

// Renders, through the demo's own frame code, the picture the demo presents when its
// clock reads ms, and reads it back as RGB, top row first (800 * 600 * 3 bytes).
// Returns what draw_frame returned: false once the show is over at that time.
bool render_capture_frame(int ms, std::vector<unsigned char>& rgb);

// Writes width x height RGB pixels, top row first, as a PNG. One line to standard
// error and false on failure.
bool write_rgb_png(const char* path, const unsigned char* rgb, int width, int height);

// Subcommands; each returns the process exit status.
int run_frame_command(int argc, char** argv);  // frame MS OUT.png
int run_video_command(int argc, char** argv);  // video OUT.mp4 [--fps N] [--from MS] [--to MS]
int run_frames_command(int argc, char** argv); // frames DIR [--fps N] [--from MS] [--to MS]
