// The soundtrack and the demo clock: the music's position as the listener hears it.
//
// Without music (no file, a file that is no MP3, no audio device) the show runs
// silent on a real-time clock instead, which starts at 0 with the first frame, seeks
// like the music would and so still reaches the end of the show.
#include "sound/soundtrack.h"

#include "platform/host.h"
#include "stream/sound_stream.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

float demo_time_ms = 0.0f;

static struct {
    bool started;                          // start_soundtrack has run since the last stop
    bool stopped;                          // stop_soundtrack has run: the clock keeps its value
    bool playing;                          // the music plays and drives the clock
    std::vector<unsigned char> music_file; // the whole of music_path; the stream reads it

    bool silent_running;     // the silent clock has started (first frame or a seek)
    int64_t silent_start_ns; // monotonic time at which it read silent_start_ms
    int64_t silent_start_ms;

    bool held; // offline rendering: the clock reads held_ms and nothing sounds
    int held_ms;

    bool exit_hook_set; // close_sound_at_exit is registered; start_soundtrack sets it
} soundtrack;


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
    soundtrack.playing = false;

    bool have_output = sound_init();
    if (!have_output)
        fprintf(stderr, "vornhal: %s; the show runs without sound\n", sound_error());
    // The file is read even without an output, so that a missing one is still told.
    const std::string music_path = data_file_path(music_file_name);
    if (!read_whole_file(music_path.c_str(), soundtrack.music_file, max_music_bytes)) {
        // Kept exactly: the two lines the program has always printed for missing music.
        printf("Error!\n");
        printf("File Not Found\n");
        fflush(stdout);
        fprintf(stderr, "vornhal: cannot read %s; the show runs without sound\n",
                music_path.c_str());
        sound_close();
        return;
    }
    if (!have_output)
        return;
    soundtrack.playing = sound_play(soundtrack.music_file.data(), soundtrack.music_file.size());
    if (!soundtrack.playing) {
        fprintf(stderr, "vornhal: %s cannot be played (%s); the show runs without sound\n",
                music_path.c_str(), sound_error());
        sound_close();
    }
}

void sample_demo_clock() {
    if (soundtrack.held) {
        demo_time_ms = static_cast<float>(soundtrack.held_ms);
        return;
    }
    if (soundtrack.stopped || !soundtrack.started)
        return;
    if (soundtrack.playing) {
        demo_time_ms = static_cast<float>(sound_time_ms());
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
    if (soundtrack.playing) {
        sound_seek_ms(ms);
        return;
    }
    soundtrack.silent_running = true;
    soundtrack.silent_start_ns = monotonic_ns();
    soundtrack.silent_start_ms = ms;
}

void stop_soundtrack() {
    sound_close();
    soundtrack.playing = false;
    soundtrack.started = false;
    soundtrack.stopped = true;
    soundtrack.silent_running = false;
}

void hold_demo_clock(int ms) {
    soundtrack.held = true;
    soundtrack.held_ms = ms;
}
