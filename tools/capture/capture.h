// vornhal-capture: renders the demo's frames offline, with no display.
#pragma once

#include <csignal>
#include <cstdint>
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

// The frames a capture takes: count frames at fps frames a second from from_ms on.
struct frame_span {
    int from_ms;
    int fps;
    int64_t count;
};
// The clock of frame index: whole milliseconds, rounded down, so that every frame shows
// the picture the demo would present at that moment.
inline int frame_time_ms(const frame_span& span, int64_t index) {
    return span.from_ms + static_cast<int>(index * 1000 / span.fps);
}

// Render workers (--jobs N): child processes with a context each, worker k rendering
// frames k, k + jobs, k + 2 jobs, ... and sending each whole down a pipe of its own,
// where it waits until this process reads it. Main thread only; no other thread may
// run while they start, and this process must not have a GL context of its own.
// Starting fails (one line to standard error) only when a process or pipe cannot be
// made; a worker that fails later is reported by receive_worker_frame.
bool start_render_workers(const frame_span& span, int jobs);
// Reads frame index, the next in order, into rgb (800 * 600 * 3 bytes, top row first).
// False when interrupted becomes set (nothing said) or the worker died or sent a short
// frame (one line naming it).
bool receive_worker_frame(int64_t index, std::vector<unsigned char>& rgb,
                          const volatile std::sig_atomic_t& interrupted);
// Ends every worker and reaps it: kills them when abandon is set, else waits for them
// to finish their share. False with one line when a worker, not abandoned, failed.
bool stop_render_workers(bool abandon);
// CPUs this process may run on; at least 1.
int usable_cores();

// Writes width x height RGB pixels, top row first, as a PNG. One line to standard
// error and false on failure.
bool write_rgb_png(const char* path, const unsigned char* rgb, int width, int height);

// Subcommands; each returns the process exit status.
int run_frame_command(int argc, char** argv);  // frame MS OUT.png
int run_video_command(int argc, char** argv);  // video OUT.mp4 [--fps N] [--from MS] [--to MS]
int run_frames_command(int argc, char** argv); // frames DIR [--fps N] [--from MS] [--to MS]
