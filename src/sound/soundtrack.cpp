// The soundtrack and the demo clock: the music's position as the listener hears it.
//
// Without music (no file, a file that is no MP3, no audio device) the show runs
// silent on a real-time clock instead, which starts at 0 with the first frame, seeks
// like the music would and so still reaches the end of the show.
#include "sound/soundtrack.h"

#include "stream/sound_stream.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

float demo_time_ms = 0.0f;

static struct {
    bool started;                          // start_soundtrack has run since the last stop
    bool stopped;                          // stop_soundtrack has run: the clock keeps its value
    sound_stream* music_stream;            // the playing stream, null when silent
    int music_channel = -1;                // its channel; -1 until started
    std::vector<unsigned char> music_file; // the whole of music_path; the stream reads it

    bool silent_running;     // the silent clock has started (first frame or a seek)
    int64_t silent_start_ns; // monotonic time at which it read silent_start_ms
    int64_t silent_start_ms;

    bool held; // offline rendering: the clock reads held_ms and nothing sounds
    int held_ms;

    bool exit_hook_set; // close_sound_at_exit is registered; start_soundtrack sets it
} soundtrack;

static const char* const music_path = "data/music.mp3";

static int64_t monotonic_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Reads path whole: "rb", the length by seeking to the end, one read.
static bool read_music_file(const char* path, std::vector<unsigned char>& out) {
    FILE* file = fopen(path, "rb");
    if (!file)
        return false;
    // A directory opens too, and reports an absurd length; nothing larger than any
    // soundtrack could be is read.
    constexpr long max_music_bytes = 256L << 20;
    bool read = false;
    if (fseek(file, 0, SEEK_END) == 0) {
        long length = ftell(file);
        if (length >= 0 && length <= max_music_bytes && fseek(file, 0, SEEK_SET) == 0) {
            out.resize(static_cast<size_t>(length));
            read = fread(out.data(), 1, out.size(), file) == out.size();
        }
    }
    fclose(file);
    return read;
}

static void run_silent() {
    sound_close();
    soundtrack.music_stream = nullptr;
    soundtrack.music_channel = -1;
}

// The audio thread reads music_file until the device is closed. A process that leaves
// without stop_soundtrack would free the file under it while static objects are
// destroyed; a hook registered after they were built runs before that and closes
// the device first.
static void close_sound_at_exit() {
    sound_close();
}

void start_soundtrack() {
    if (soundtrack.held || soundtrack.started)
        return;
    if (!soundtrack.exit_hook_set)
        soundtrack.exit_hook_set = std::atexit(close_sound_at_exit) == 0;
    soundtrack.started = true;
    soundtrack.stopped = false;
    soundtrack.silent_running = false;

    constexpr int mixing_rate_hz = 44100;
    sound_set_output(nullptr);
    bool have_output = sound_init(mixing_rate_hz);
    if (!have_output)
        fprintf(stderr, "vornhal: %s; the show runs without sound\n", sound_error());
    // The file is read even without an output, so that a missing one is still told.
    if (!read_music_file(music_path, soundtrack.music_file)) {
        printf("Error!\n");
        printf("File Not Found\n");
        fflush(stdout);
        fprintf(stderr, "vornhal: cannot read %s; the show runs without sound\n", music_path);
        run_silent();
        return;
    }
    if (!have_output) {
        run_silent();
        return;
    }
    soundtrack.music_stream =
        sound_stream_open(soundtrack.music_file.data(), soundtrack.music_file.size());
    if (!soundtrack.music_stream) {
        fprintf(stderr, "vornhal: %s cannot be played (%s); the show runs without sound\n",
                music_path, sound_error());
        run_silent();
        return;
    }
    soundtrack.music_channel = sound_stream_play(-1, soundtrack.music_stream, true);
    sound_set_paused(soundtrack.music_channel, false);
}

void sample_demo_clock() {
    if (soundtrack.held) {
        demo_time_ms = static_cast<float>(soundtrack.held_ms);
        return;
    }
    if (soundtrack.stopped || !soundtrack.started)
        return;
    if (soundtrack.music_stream) {
        demo_time_ms = static_cast<float>(sound_stream_get_time_ms(soundtrack.music_stream));
        return;
    }
    int64_t now_ns = monotonic_ns();
    if (!soundtrack.silent_running) {
        soundtrack.silent_running = true;
        soundtrack.silent_start_ns = now_ns;
        soundtrack.silent_start_ms = 0;
    }
    int64_t elapsed_ms = (now_ns - soundtrack.silent_start_ns) / 1000000;
    demo_time_ms = static_cast<float>(soundtrack.silent_start_ms + elapsed_ms);
}

void seek_soundtrack(int ms) {
    if (soundtrack.held || soundtrack.stopped || !soundtrack.started)
        return;
    ms = std::max(ms, 0);
    if (soundtrack.music_stream) {
        sound_stream_set_time_ms(soundtrack.music_stream, ms);
        return;
    }
    soundtrack.silent_running = true;
    soundtrack.silent_start_ns = monotonic_ns();
    soundtrack.silent_start_ms = ms;
}

void stop_soundtrack() {
    sound_close();
    soundtrack.music_stream = nullptr;
    soundtrack.music_channel = -1;
    soundtrack.started = false;
    soundtrack.stopped = true;
    soundtrack.silent_running = false;
}

void hold_demo_clock(int ms) {
    soundtrack.held = true;
    soundtrack.held_ms = ms;
}
