// vornhal-capture: the demo's frames rendered offline, with no display, by worker
// processes that each hold an offscreen GL context; this process opens no GL or SDL of
// its own, so the workers are forked from it, and only relays their frames, in order,
// to the encoder or to picture files. Main thread only.
#pragma once

#include "output_file.h"

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// What one command line asks for.
struct capture_request {
    const char* command = nullptr; // frame, video or frames
    const char* output = nullptr;  // OUT.png, OUT.mp4 or DIR; null for video --null
    int frame_ms = 0;              // frame: the clock of the one frame
    int fps = 60;
    int from_ms = 0;
    int to_ms = -1;                 // -1: up to the show's end
    int jobs = 0;                   // rendering processes; 0: one per core
    bool null_output = false;       // video: render only, write nothing
    int width_px = 0;               // the size frames come out at (--size); the render size
    int height_px = 0;              //   when none was asked for
    const char* data_dir = nullptr; // --data
};

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
inline size_t frame_bytes(const capture_request& request) {
    return static_cast<size_t>(request.width_px) * request.height_px * 3;
}

// Set by SIGINT and SIGTERM once install_interrupt_handlers has run; blocking reads and
// writes of the relay then end with EINTR.
extern volatile std::sig_atomic_t capture_interrupted;
void install_interrupt_handlers();

// --- Child processes (child.cpp) --------------------------------------------------------

// Forks a child that runs body and exits with what it returns, in a process group of
// its own (a Ctrl-C at the terminal reaches only the capture, which decides what
// becomes of it), reading in_fd, writing out_fd and its errors to err_fd (-1:
// /dev/null for any of them) with no other file of the capture's open, with default
// signal handling; it dies with the capture even when that is killed outright. One
// line naming it and false when it cannot be started.
bool start_child(const char* name, const std::function<int()>& body, int in_fd, int out_fd,
                 int err_fd, pid_t& pid);
// The same for a child that runs the program argv.
bool start_child(const std::vector<std::string>& argv, int in_fd, int out_fd, int err_fd,
                 pid_t& pid);
// Waits for the child and says how it ended ("was killed by signal 9 (Killed)"); empty
// when it exited with status 0.
std::string wait_for_exit(pid_t pid);
// A file to hold a child's standard error, and its last non-empty line, for quoting.
FILE* open_diagnostics();
std::string last_line_of(FILE* file);
// Writes all of bytes; false when the reader has gone or a signal interrupted it.
bool write_whole(int fd, const unsigned char* bytes, size_t size);
// Full path of the executable `name` found on PATH; empty when there is none.
std::string find_on_path(const char* name);

// --- Rendering (render.cpp) -------------------------------------------------------------

// Starts the workers for the span, one per job: worker k renders frames k, k + jobs, ...
// at the request's size, and writes each whole, RGB with the top row first, to a pipe
// of its own. False (one line said) when one cannot be started.
bool start_render_workers(const capture_request& request, const frame_span& span, int jobs);
// Reads frame index, the next in order, into rgb. False when the run was interrupted
// (nothing said) or its worker died or sent a short frame (one line naming it).
bool receive_frame(int64_t index, std::vector<unsigned char>& rgb);
// Ends every worker: kills them when abandon is set, else waits for them to finish.
// False with one line when a worker, not abandoned, failed.
bool stop_render_workers(bool abandon);
// CPUs this process may run on; at least 1.
int usable_cores();

// --- Encoding (encoder.cpp) -------------------------------------------------------------

// Decodes the soundtrack span of the frames into a WAV at audio_path: exactly as long as
// the frames, as the demo plays it from the first frame's moment. A soundtrack that
// cannot be read leaves the video silent, with one warning. False when the WAV cannot
// be written (said).
bool write_soundtrack_span(const capture_request& request, const frame_span& span,
                           const std::string& audio_path);
// Starts ffmpeg reading the request's RGB frames on a pipe and writing video_path.
bool start_encoder(const capture_request& request, const std::string& ffmpeg,
                   const std::string& video_path, const std::string& audio_path);
// One frame into the encoder's pipe; false once ffmpeg stopped reading or on interrupt.
bool write_encoder_frame(const std::vector<unsigned char>& rgb);
// Closes the pipe and waits for ffmpeg. True only for a complete encode; otherwise, when
// report is set, one line with ffmpeg's own last complaint. abandon kills it first.
bool finish_encoder(bool abandon, bool report);

// --- Commands (commands.cpp) ------------------------------------------------------------

// Each returns the process exit status: 0 done, 1 failed (said), 130 interrupted.
int run_frame_command(const capture_request& request);
int run_video_command(const capture_request& request);
int run_frames_command(const capture_request& request);
