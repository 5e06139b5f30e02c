// The soundtrack and the demo clock: the music's position as the listener hears it.
//
// Without music (no file, a file that is no MP3, no audio device) the show runs
// silent on a real-time clock instead, which starts at 0 with the first frame, seeks
// like the music would and so still reaches the end of the show. When the sound goes
// away mid-show (a sound server dies, a sink stays suspended) the show goes on on that
// clock from where it stands, and a device is tried again every second until one
// opens; the music then plays on from the clock, in step.
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
    bool lost;                             // it played, and its device went away
    bool trying;                           // lost, and a device is open but not yet heard
    int64_t retry_ns;                      // lost: when to try a device again
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

// No stream playing, none lost, no silent clock running.
static void forget_playing() {
    soundtrack.playing = soundtrack.lost = soundtrack.trying = false;
    soundtrack.silent_running = false;
}

// Once a second while the sound is lost: a device that opens starts the music at ms,
// and takes over the clock once it asks for sound (flows); until then, and if it
// never does, the silent clock goes on.
constexpr int64_t retry_interval_ns = 1000000000;
static void try_sound_again(int ms) {
    soundtrack.retry_ns = monotonic_ns() + retry_interval_ns;
    if (!sound_init() ||
        !sound_play(soundtrack.music_file.data(), soundtrack.music_file.size(), ms)) {
        sound_close();
        return;
    }
    soundtrack.trying = true;
}

// The silent clock's reading now.
static int silent_clock_ms() {
    return static_cast<int>(soundtrack.silent_start_ms +
                            (monotonic_ns() - soundtrack.silent_start_ns) / 1000000);
}

static void start_silent_clock(int ms) {
    soundtrack.silent_running = true;
    soundtrack.silent_start_ns = monotonic_ns();
    soundtrack.silent_start_ms = ms;
}

void start_soundtrack() {
    if (soundtrack.held || soundtrack.started)
        return;
    if (!soundtrack.exit_hook_set)
        soundtrack.exit_hook_set = std::atexit(close_sound_at_exit) == 0;
    soundtrack.started = true;
    soundtrack.stopped = false;
    forget_playing();

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
    if (soundtrack.trying && sound_lost()) {
        sound_close(); // opened, but never played: given up quietly, tried again
        soundtrack.trying = false;
    } else if (soundtrack.trying && sound_flowing()) {
        // Picked up where the silent clock stands: the clock holds there until the
        // sound of that moment is heard.
        const int ms = silent_clock_ms();
        sound_seek_ms(ms);
        fprintf(stderr, "vornhal: the sound is back (%s); the music plays on from %d ms\n",
                sound_driver(), ms);
        soundtrack.trying = soundtrack.lost = false;
        soundtrack.playing = true;
    }
    if (soundtrack.playing) {
        const int heard_ms = sound_time_ms();
        if (!sound_lost()) {
            demo_time_ms = static_cast<float>(heard_ms);
            return;
        }
        fprintf(stderr, "vornhal: the sound was lost (%s); the show goes on silent\n",
                sound_error());
        sound_close();
        soundtrack.playing = false;
        soundtrack.lost = true;
        soundtrack.retry_ns = monotonic_ns() + retry_interval_ns;
        start_silent_clock(heard_ms);
    }
    if (!soundtrack.silent_running)
        start_silent_clock(0);
    demo_time_ms = static_cast<float>(silent_clock_ms());
    if (soundtrack.lost && !soundtrack.trying && monotonic_ns() >= soundtrack.retry_ns)
        try_sound_again(static_cast<int>(demo_time_ms));
}

void seek_soundtrack(int ms) {
    if (soundtrack.held || soundtrack.stopped || !soundtrack.started)
        return;
    ms = std::max(ms, 0);
    if (soundtrack.playing) {
        sound_seek_ms(ms);
        return;
    }
    start_silent_clock(ms);
}

void stop_soundtrack() {
    sound_close();
    forget_playing();
    soundtrack.started = false;
    soundtrack.stopped = true;
}

void hold_demo_clock(int ms) {
    soundtrack.held = true;
    soundtrack.held_ms = ms;
}
