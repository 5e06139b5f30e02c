// The soundtrack and the demo clock: the music's position as the listener hears it.
//
// Every step that may wait on a sound server or a device (asking the server, opening a
// device, waiting for it to play, closing it) runs on the soundtrack's own sound
// thread; the frame only reads what that thread has made ready, so the picture never
// waits for sound. Without music (no file, a file that is no MP3, no audio device) the
// show runs silent on a real-time clock instead, which starts at 0 with the first frame,
// seeks like the music would and so still reaches the end of the show. When the sound
// goes away mid-show (a sound server dies, a device is removed), or a device does not
// start playing in time (or a driver never opens one), the show goes on on that clock
// from where it stands while the sound thread closes the device and tries one again
// every second; once one plays, the music goes on in it from the clock, in step. A
// sound server that has no output yet is tried the same way.
#include "sound/soundtrack.h"

#include "datafiles/data_files.h"
#include "host/clock.h"
#include "host/files.h"
#include "stream/listener_clock.h"
#include "stream/server_output.h"
#include "stream/sound_stream.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

float demo_time_ms = 0.0f;

namespace {

enum class sound_state {
    off,      // not started, or stopped: the clock keeps its value
    offline,  // hold_demo_clock: the clock reads held_ms and nothing sounds
    silent,   // no music to play, or no device to be had: the silent clock, for good
    starting, // the first device is being opened: the clock holds at start_ms
    playing,  // the main thread owns the output, and what it plays drives the clock
    lost,     // the silent clock, while the sound thread looks for a device
};

// Who has the sound output, between the main thread and the sound thread.
enum class output_link {
    closed,   // none is open: the sound thread opens one at retry_ns
    opening,  // the sound thread has opened one and waits for it to play
    ready,    // it plays, silent, the stream standing: the main thread takes it
    taken,    // the main thread owns it; the sound thread only asks the server about it
    dropping, // the main thread gave it up as lost: the sound thread closes it
    given_up, // none is to be had for good (no driver or device at all, music no MP3)
};

struct sound_thread_state {
    std::mutex lock;              // guards what follows; never held over a slow call
    std::condition_variable wake; // the main thread wakes the sound thread with it
    std::condition_variable done; // the sound thread tells the main thread it has ended
    output_link link;             // both threads write, as each state says
    int64_t retry_ns;             // sound thread: when a closed output is tried again
    bool start_failed;            // both: the first device could not be had, or not in time
    bool quit;                    // main: close everything and end
    bool ended;                   // sound: it has closed everything and ends
};
sound_thread_state shared;

struct soundtrack_state {
    sound_state state;                     // main thread
    std::vector<unsigned char> music_file; // read before the sound thread starts; then read-only
    int start_ms;                          // starting: where the music begins
    // The silent clock reads silent_start_ms at silent_start_ns; -1: it starts at the
    // next frame. silent_read_ns is its last reading.
    int64_t silent_start_ns;
    int64_t silent_start_ms;
    int64_t silent_read_ns;
    int held_ms;               // offline: the clock's value
    int64_t starting_since_ns; // starting: when start_soundtrack started the sound thread
    bool first_note_heard;     // playing: the music's first note was heard
    bool exit_hook_set;        // close_sound_at_exit is registered; start_soundtrack sets it
    std::thread sound_thread;  // joinable from start_soundtrack to stop_soundtrack
};
soundtrack_state soundtrack = {sound_state::off, {}, 0, -1, 0, 0, 0, 0, false, false, {}};

constexpr int64_t ms_ns = 1000000;
constexpr int64_t retry_interval_ns = 1000 * ms_ns;
// How often the sound thread looks at the output, and how long the server may take to
// answer it.
constexpr auto sound_thread_period = std::chrono::milliseconds(20);
constexpr int server_answer_ms = 500;
// A device quiet this long is asked about; a stream the server keeps is waited for
// until the next answer is due, and a little longer.
constexpr int64_t quiet_before_asking_ns = 400 * ms_ns;
constexpr int64_t kept_answer_lasts_ns = 1500 * ms_ns;
// The sound thread has a device playing, or gives up on it, within the start bound and
// the server's answer; one that does neither is stuck in a driver that waits for ever
// (SDL's PipeWire one on a server whose session manager is not up), and the show starts
// without it.
constexpr int start_wait_s = static_cast<int>(start_bound_ms / 1000) + 1;
// Closing takes the server's answer at most, and a device close as long again; a sound
// thread that has not ended by then is held in a driver, and the show leaves without it.
constexpr int stop_wait_s = 2;

// The sound thread reads music_file until the device is closed. A process that leaves
// without stop_soundtrack would free the file under it while static objects are
// destroyed; a hook registered after they were built runs before that and stops the
// sound thread first.
void close_sound_at_exit() {
    stop_soundtrack();
}

void start_silent_clock(int64_t ms) {
    soundtrack.silent_start_ns = soundtrack.silent_read_ns = monotonic_ns();
    soundtrack.silent_start_ms = ms;
}

int64_t silent_ms_at(int64_t ns) {
    return soundtrack.silent_start_ms + (ns - soundtrack.silent_start_ns) / ms_ns;
}

// The silent clock's reading now; the first reading starts it at 0. Time in which the
// process did not run (stopped, a frozen session) is not played: it goes on from where
// it stood.
int silent_clock_ms() {
    const int64_t now_ns = monotonic_ns();
    if (soundtrack.silent_start_ns < 0)
        start_silent_clock(0);
    else if (now_ns - soundtrack.silent_read_ns > static_cast<int64_t>(stop_gap_ms) * ms_ns)
        start_silent_clock(silent_ms_at(soundtrack.silent_read_ns));
    soundtrack.silent_read_ns = now_ns;
    return static_cast<int>(silent_ms_at(now_ns));
}

// Sound thread: opens a device playing silence, the stream standing at its start, and
// says what that leads to. Only the first try says why it failed.
output_link open_output(bool first) {
    const sound_open output = sound_init();
    if (output == sound_open::opened) {
        if (sound_play(soundtrack.music_file.data(), soundtrack.music_file.size(), 0, true))
            return output_link::opening;
        fprintf(stderr, "%s: %s cannot be played (%s); the show runs without sound\n",
                program_name(), music_file_name, sound_error());
        sound_close();
        return output_link::given_up;
    }
    if (first && output == sound_open::failed)
        fprintf(stderr, "%s: %s; the show runs without sound\n", program_name(), sound_error());
    else if (first)
        fprintf(stderr, "%s: %s; the show runs without sound until it has one\n", program_name(),
                sound_error());
    sound_close();
    return first && output == sound_open::failed ? output_link::given_up : output_link::closed;
}

// Sound thread: waits for an opened device to play; false when it will not.
bool output_plays(bool first, bool& playing) {
    sound_time_ms(); // takes in what the device did meanwhile
    playing = sound_playing();
    if (!sound_lost())
        return true;
    if (first)
        fprintf(stderr, "%s: %s; the show runs without sound until it plays\n", program_name(),
                sound_error());
    sound_close();
    return false;
}

// Sound thread, while an opened device starts: what a PulseAudio server holds queued
// for it, asked once a period. Once it plays, the clock takes the median: a sink waking
// up leaves the queue briefly far off the length it keeps (by 100 to 200 ms).
void note_server_queue(std::vector<int>& queue_ms, bool playing) {
    if (std::strcmp(sound_driver(), "pulseaudio") != 0)
        return;
    const int ms = server_own_stream_queue_ms(server_answer_ms);
    if (ms > 0)
        queue_ms.push_back(ms);
    if (!playing || queue_ms.empty())
        return;
    const auto middle = queue_ms.begin() + static_cast<std::ptrdiff_t>(queue_ms.size() / 2);
    std::nth_element(queue_ms.begin(), middle, queue_ms.end());
    sound_take_server_queue_ms(*middle);
}

// The sound thread: every step that may wait on a server or a device.
void run_sound_thread() {
    bool first = true;         // the first device of the show is still to be had
    std::vector<int> queue_ms; // note_server_queue's, for the device starting now
    int64_t next_question_ns = 0;
    std::unique_lock<std::mutex> hold(shared.lock);
    while (!shared.quit) {
        first = first && !shared.start_failed; // the main thread may have given up on it
        switch (shared.link) {
        case output_link::closed:
            if (monotonic_ns() >= shared.retry_ns) {
                hold.unlock();
                const output_link next = open_output(first);
                queue_ms.clear();
                hold.lock();
                shared.start_failed =
                    shared.start_failed || (first && next != output_link::opening);
                first = first && next == output_link::opening;
                shared.link = next;
                shared.retry_ns = monotonic_ns() + retry_interval_ns;
            }
            break;
        case output_link::opening: {
            hold.unlock();
            bool playing = false;
            const bool plays = output_plays(first, playing);
            if (plays)
                note_server_queue(queue_ms, playing);
            hold.lock();
            if (!plays) {
                shared.start_failed = true;
                first = false;
                shared.link = output_link::closed;
                shared.retry_ns = monotonic_ns() + retry_interval_ns;
            } else if (playing) {
                first = false;
                shared.link = output_link::ready;
            }
            break;
        }
        case output_link::taken: {
            // A quiet device is being moved or sleeps while the server keeps its stream:
            // it is waited for, not given up.
            const int64_t now_ns = monotonic_ns();
            if (now_ns - sound_last_call_ns() > quiet_before_asking_ns &&
                now_ns >= next_question_ns) {
                hold.unlock();
                if (server_keeps_own_stream(server_answer_ms))
                    sound_keep_waiting_until(monotonic_ns() + kept_answer_lasts_ns);
                hold.lock();
                next_question_ns = monotonic_ns() + quiet_before_asking_ns;
            }
            break;
        }
        case output_link::dropping:
            hold.unlock();
            sound_close();
            hold.lock();
            shared.link = output_link::closed;
            shared.retry_ns = monotonic_ns() + retry_interval_ns;
            break;
        case output_link::ready:
        case output_link::given_up:
            break;
        }
        if (!shared.quit)
            shared.wake.wait_for(hold, sound_thread_period);
    }
    hold.unlock();
    sound_close();
    hold.lock();
    shared.ended = true;
    shared.done.notify_one();
}

// Main thread: the sound thread's output when it is ready, now the main thread's.
bool take_ready_output(output_link& link, bool* start_failed = nullptr) {
    std::lock_guard<std::mutex> hold(shared.lock);
    link = shared.link;
    if (start_failed)
        *start_failed = shared.start_failed;
    if (link != output_link::ready)
        return false;
    shared.link = output_link::taken;
    return true;
}

} // namespace

void start_soundtrack() {
    if (soundtrack.state != sound_state::off)
        return;
    if (!soundtrack.exit_hook_set)
        soundtrack.exit_hook_set = std::atexit(close_sound_at_exit) == 0;
    soundtrack.state = sound_state::silent;
    soundtrack.silent_start_ns = -1;

    const std::string music_path = data_file_path(music_file_name);
    if (!read_whole_file(music_path.c_str(), soundtrack.music_file, max_music_bytes)) {
        // Kept exactly: the two lines the program has always printed for missing music.
        printf("Error!\n");
        printf("File Not Found\n");
        fflush(stdout);
        fprintf(stderr, "%s: cannot read %s; the show runs without sound\n", program_name(),
                music_path.c_str());
        return;
    }
    {
        std::lock_guard<std::mutex> hold(shared.lock);
        shared.link = output_link::closed;
        shared.retry_ns = 0;
        shared.start_failed = shared.quit = shared.ended = false;
    }
    soundtrack.state = sound_state::starting;
    soundtrack.start_ms = 0;
    soundtrack.first_note_heard = false;
    soundtrack.starting_since_ns = monotonic_ns();
    sound_ask_server_latency();
    soundtrack.sound_thread = std::thread(run_sound_thread);
}

void sample_demo_clock() {
    output_link link;
    switch (soundtrack.state) {
    case sound_state::off:
        return;
    case sound_state::offline:
        demo_time_ms = static_cast<float>(soundtrack.held_ms);
        return;
    case sound_state::starting: {
        // Held at the music's first moment until a device plays it: the first note is
        // heard with the first moving frame.
        bool start_failed = false;
        if (take_ready_output(link, &start_failed)) {
            sound_seek_ms(soundtrack.start_ms);
            soundtrack.state = sound_state::playing;
            demo_time_ms = static_cast<float>(sound_time_ms());
            return;
        }
        if (!start_failed &&
            monotonic_ns() - soundtrack.starting_since_ns < start_wait_s * 1000 * ms_ns) {
            demo_time_ms = static_cast<float>(soundtrack.start_ms);
            return;
        }
        if (!start_failed) {
            {
                std::lock_guard<std::mutex> hold(shared.lock);
                shared.start_failed = true;
            }
            fprintf(stderr,
                    "%s: the sound output did not start within %d s; the show runs without "
                    "sound until it plays\n",
                    program_name(), start_wait_s);
        }
        soundtrack.state = link == output_link::given_up ? sound_state::silent : sound_state::lost;
        start_silent_clock(soundtrack.start_ms);
        break;
    }
    case sound_state::playing: {
        const int heard_ms = sound_time_ms();
        if (!sound_lost()) {
            demo_time_ms = static_cast<float>(heard_ms);
            return;
        }
        fprintf(stderr, "%s: the sound was lost (%s); the show goes on silent\n", program_name(),
                sound_error());
        {
            std::lock_guard<std::mutex> hold(shared.lock);
            shared.link = output_link::dropping;
        }
        shared.wake.notify_one();
        soundtrack.state = sound_state::lost;
        start_silent_clock(heard_ms);
        break;
    }
    case sound_state::lost:
        if (take_ready_output(link)) {
            // A device plays again: the music goes on in it from where the silent clock
            // stands, and the clock runs on unbroken into it.
            const int ms = silent_clock_ms();
            sound_follow_from_ms(ms);
            fprintf(stderr, "%s: the sound is back (through %s); the music goes on from %.1f s\n",
                    program_name(), sound_driver(), ms / 1000.0);
            soundtrack.state = sound_state::playing;
            demo_time_ms = static_cast<float>(sound_time_ms());
            return;
        }
        if (link == output_link::given_up)
            soundtrack.state = sound_state::silent;
        break;
    case sound_state::silent:
        break;
    }
    demo_time_ms = static_cast<float>(silent_clock_ms());
}

bool awaiting_first_note(int64_t& due_ns) {
    due_ns = -1;
    if (soundtrack.state == sound_state::starting)
        return true;
    if (soundtrack.state != sound_state::playing || soundtrack.first_note_heard)
        return false;
    due_ns = sound_heard_at_ns();
    soundtrack.first_note_heard = due_ns == 0;
    return !soundtrack.first_note_heard;
}

void seek_soundtrack(int ms) {
    ms = std::max(ms, 0);
    switch (soundtrack.state) {
    case sound_state::off:
    case sound_state::offline:
        return;
    case sound_state::starting:
        soundtrack.start_ms = ms;
        return;
    case sound_state::playing:
        sound_seek_ms(ms);
        return;
    case sound_state::silent:
    case sound_state::lost:
        start_silent_clock(ms);
        return;
    }
}

bool stop_soundtrack() {
    bool stopped = true;
    if (soundtrack.sound_thread.joinable()) {
        std::unique_lock<std::mutex> hold(shared.lock);
        shared.quit = true;
        shared.wake.notify_one();
        stopped = shared.done.wait_for(hold, std::chrono::seconds(stop_wait_s),
                                       [] { return shared.ended; });
        hold.unlock();
        if (stopped) {
            soundtrack.sound_thread.join();
        } else {
            fprintf(stderr, "%s: the sound output did not close within %d s; leaving without it\n",
                    program_name(), stop_wait_s);
            soundtrack.sound_thread.detach();
        }
    }
    soundtrack.state = sound_state::off;
    return stopped;
}

void hold_demo_clock(int ms) {
    soundtrack.state = sound_state::offline;
    soundtrack.held_ms = ms;
}
