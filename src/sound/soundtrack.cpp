// The soundtrack and the demo clock: the music's position as the listener hears it.
//
// Without music (no file, a file that is no MP3, no audio device) the show runs
// silent on a real-time clock instead, which starts at 0 with the first frame, seeks
// like the music would and so still reaches the end of the show. When the sound goes
// away mid-show (a sound server dies, a sink stays suspended), or a device does not
// start playing in time, the show goes on on that clock from where it stands, and a
// device is tried again every second until one plays; the music then plays on from the
// clock, in step. A sound server that has no output yet is tried the same way.
#include "sound/soundtrack.h"

#include "platform/host.h"
#include "stream/sound_stream.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

float demo_time_ms = 0.0f;

namespace {

enum class sound_state {
    off,      // not started, or stopped: the clock keeps its value
    offline,  // hold_demo_clock: the clock reads held_ms and nothing sounds
    silent,   // no music to play: the silent clock, for good
    playing,  // the device drives the clock (holding it while the device starts)
    lost,     // no device: the silent clock, and a device is tried at retry_ns
    retrying, // lost, and a device is open but not playing yet: the silent clock
};

struct soundtrack_state {
    sound_state state;                     // every function below writes it
    int64_t retry_ns;                      // lost: when to try a device again
    std::vector<unsigned char> music_file; // the whole of music_path; the stream reads it
    // The silent clock reads silent_start_ms at silent_start_ns; -1: it starts at the
    // next frame.
    int64_t silent_start_ns;
    int64_t silent_start_ms;
    int held_ms;        // offline: the clock's value
    bool exit_hook_set; // close_sound_at_exit is registered; start_soundtrack sets it
};
soundtrack_state soundtrack = {sound_state::off, 0, {}, -1, 0, 0, false};

// The audio thread reads music_file until the device is closed. A process that leaves
// without stop_soundtrack would free the file under it while static objects are
// destroyed; a hook registered after they were built runs before that and closes
// the device first.
void close_sound_at_exit() {
    sound_close();
}

constexpr int64_t retry_interval_ns = 1000000000;

void start_silent_clock(int ms) {
    soundtrack.silent_start_ns = monotonic_ns();
    soundtrack.silent_start_ms = ms;
}

// The silent clock's reading now; the first reading starts it at 0.
int silent_clock_ms() {
    if (soundtrack.silent_start_ns < 0)
        start_silent_clock(0);
    return static_cast<int>(soundtrack.silent_start_ms +
                            (monotonic_ns() - soundtrack.silent_start_ns) / 1000000);
}

// No device: the silent clock goes on from ms, and a device is tried in a second.
void lose_sound(int ms) {
    sound_close();
    soundtrack.state = sound_state::lost;
    soundtrack.retry_ns = monotonic_ns() + retry_interval_ns;
    start_silent_clock(ms);
}

// Once a second while the sound is lost: a device that opens plays silence, and once
// it plays, the music goes on in it from the silent clock, which it then takes over;
// until then, and if it never does, the silent clock goes on.
void try_sound_again() {
    soundtrack.retry_ns = monotonic_ns() + retry_interval_ns;
    if (sound_init() != sound_open::opened ||
        !sound_play(soundtrack.music_file.data(), soundtrack.music_file.size(), 0, true)) {
        sound_close();
        return;
    }
    soundtrack.state = sound_state::retrying;
}

} // namespace

void start_soundtrack() {
    if (soundtrack.state != sound_state::off)
        return;
    if (!soundtrack.exit_hook_set)
        soundtrack.exit_hook_set = std::atexit(close_sound_at_exit) == 0;
    soundtrack.state = sound_state::silent;
    soundtrack.silent_start_ns = -1;

    const sound_open output = sound_init();
    if (output == sound_open::failed)
        fprintf(stderr, "%s: %s; the show runs without sound\n", program_name(), sound_error());
    else if (output == sound_open::not_yet)
        fprintf(stderr, "%s: %s; the show runs without sound until it has one\n", program_name(),
                sound_error());
    // The file is read even without an output, so that a missing one is still told.
    const std::string music_path = data_file_path(music_file_name);
    if (!read_whole_file(music_path.c_str(), soundtrack.music_file, max_music_bytes)) {
        // Kept exactly: the two lines the program has always printed for missing music.
        printf("Error!\n");
        printf("File Not Found\n");
        fflush(stdout);
        fprintf(stderr, "%s: cannot read %s; the show runs without sound\n", program_name(),
                music_path.c_str());
        sound_close();
        return;
    }
    if (output == sound_open::not_yet) {
        lose_sound(0);
        soundtrack.silent_start_ns = -1;
        return;
    }
    if (output != sound_open::opened)
        return;
    if (sound_play(soundtrack.music_file.data(), soundtrack.music_file.size())) {
        soundtrack.state = sound_state::playing;
        return;
    }
    fprintf(stderr, "%s: %s cannot be played (%s); the show runs without sound\n", program_name(),
            music_path.c_str(), sound_error());
    sound_close();
}

void sample_demo_clock() {
    switch (soundtrack.state) {
    case sound_state::off:
        return;
    case sound_state::offline:
        demo_time_ms = static_cast<float>(soundtrack.held_ms);
        return;
    case sound_state::playing: {
        const int heard_ms = sound_time_ms();
        if (!sound_lost()) {
            demo_time_ms = static_cast<float>(heard_ms);
            return;
        }
        fprintf(stderr, "%s: the sound was lost (%s); the show goes on silent\n", program_name(),
                sound_error());
        lose_sound(heard_ms);
        break;
    }
    case sound_state::retrying:
        sound_time_ms(); // takes in what the device did since the last frame
        if (sound_lost()) {
            // Opened, but it never played: given up quietly, tried again.
            sound_close();
            soundtrack.state = sound_state::lost;
        } else if (sound_playing()) {
            // Picked up where the silent clock stands: the clock holds there until the
            // sound of that moment is heard.
            const int ms = silent_clock_ms();
            sound_seek_ms(ms);
            fprintf(stderr, "%s: the sound is back (%s); the music plays on from %d ms\n",
                    program_name(), sound_driver(), ms);
            soundtrack.state = sound_state::playing;
            demo_time_ms = static_cast<float>(sound_time_ms());
            return;
        }
        break;
    case sound_state::silent:
    case sound_state::lost:
        break;
    }
    demo_time_ms = static_cast<float>(silent_clock_ms());
    if (soundtrack.state == sound_state::lost && monotonic_ns() >= soundtrack.retry_ns)
        try_sound_again();
}

void seek_soundtrack(int ms) {
    ms = std::max(ms, 0);
    switch (soundtrack.state) {
    case sound_state::off:
    case sound_state::offline:
        return;
    case sound_state::playing:
        sound_seek_ms(ms);
        return;
    case sound_state::silent:
    case sound_state::lost:
    case sound_state::retrying:
        start_silent_clock(ms);
        return;
    }
}

void stop_soundtrack() {
    sound_close();
    soundtrack.state = sound_state::off;
}

void hold_demo_clock(int ms) {
    soundtrack.state = sound_state::offline;
    soundtrack.held_ms = ms;
}
