// Video encoding for vornhal-capture: an ffmpeg child process fed raw RGB frames
// through a pipe, the soundtrack span it muxes in, and what every child process of the
// tool needs. Main thread only, except write_encoder_frame, which the frame writer
// thread calls.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/types.h>
#include <vector>

// Full path of the executable `name` found on PATH; empty when there is none.
std::string find_on_path(const char* name);

// Waits for the child pid and says how it ended; empty when it exited with status 0.
std::string wait_for_exit(pid_t pid);

// The last non-empty line written to file (a child's standard error), for quoting.
std::string last_line_of(FILE* file);

// Fills pcm with exactly sample_count stereo frames (44100 Hz, int16) of the
// soundtrack as the demo plays it, starting at frame first_sample; silence past the
// music's end. When the music cannot be read or decoded, pcm is all silence, reason
// says why, and the result is false.
bool decode_soundtrack_span(const char* mp3_path, int64_t first_sample, int64_t sample_count,
                            std::vector<int16_t>& pcm, std::string& reason);

// Writes interleaved stereo int16 PCM as a WAV file. One line to standard error and
// false on failure.
bool write_wav(const char* path, const std::vector<int16_t>& pcm);

struct encoder_settings {
    std::string ffmpeg_path; // the program to run
    std::string output_path; // the MP4 to write (a temporary name; the caller renames it)
    std::string audio_path;  // a WAV of exactly the video's length
    int width_px;
    int height_px;
    int fps;
};

// Starts ffmpeg reading width * height * 3 byte RGB frames on its standard input.
// One line to standard error and false when it cannot be started.
bool start_encoder(const encoder_settings& settings);

// Writes one frame into the encoder's pipe; blocks only while the pipe is full.
// False once ffmpeg has stopped reading (it died or quit); the reason is given by
// finish_encoder. Called from the frame writer thread.
bool write_encoder_frame(const std::vector<unsigned char>& rgb);

// Asks ffmpeg to stop at once because the capture is being abandoned; a
// write_encoder_frame blocked on the full pipe then returns false. Safe from any thread.
void stop_encoder();

// Closes the pipe, waits for ffmpeg and checks that it read every frame and wrote the
// file. True only for a complete, successful encode; otherwise, when report is set,
// one line to standard error (with ffmpeg's own last complaint), and false. report is
// false when the capture is being abandoned (after stop_encoder).
bool finish_encoder(bool report);
