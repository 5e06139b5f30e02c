// The listener's clock driven by a simulated device: buffers of 1024 frames asked for
// on the device's own schedule while it holds one or three others, noted by a callback that wakes
// early or late, and read every millisecond against what the device plays at that moment.
#include "stream/listener_clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

// A reading at the buffer's end is worked out two ways that round apart: this far.
constexpr double rounding_ms = 0.01;
// A clock on its own runs in real time, to the millisecond step of the readings.
constexpr double alone_ms = 1.0;

// Each row: the device's rate against the monotonic clock's; how early or late the
// callback may wait; where the device stops asking for sound and for how long (-1: it
// never does; a stall past lost_after_ms, or past start_bound_ms before it played,
// leaves the clock on its own, and one of 1e9 ms is a device that died); where the
// stream moves to 60 s (-1: never); how far off what is heard the clock may be over the
// last two seconds (-1: the clock ran on alone); where the whole process stops and for
// how long (no readings, no calls); how long the caller grants a quiet device. A stall
// the device survives leaves the clock running on, and once the device asks again the
// stream is moved to it, as sound_time_ms does. Throughout, the clock never goes back,
// never runs ahead of the sound handed over but while adrift, and never stands still
// for longer than a stall is held, give or take the buffers that prove it plays.
TEST(ListenerClock, FollowsWhatIsHeardAndNeverGoesBack) {
    const struct {
        const char* name;
        double device_speed, jitter_ms, stall_at_ms, stall_ms, seek_at_ms, off_ms;
        double stop_at_ms = -1, stop_ms = 0;
        double patience_ms = lost_after_ms;
    } rows[] = {
        {"device 1 % fast", 1.01, 0, -1, 0, -1, 1.0},
        {"device 1 % slow", 0.99, 0, -1, 0, -1, 1.0},
        {"callback jitter of 5 ms", 1.0, 5, -1, 0, -1, 2.0},
        {"200 ms stall", 1.0, 0, 2000, 200, -1, 1.0},
        {"800 ms stall with jitter", 1.0, 5, 2000, 800, -1, 2.0},
        {"seek, jitter and drift", 1.01, 5, -1, 0, 2000, 2.5},
        {"sink suspended for 3 s", 1.0, 5, 2000, 3000, -1, -1},
        {"sink suspended for 3 s, kept by the server", 1.0, 5, 2000, 3000, -1, 2.0, -1, 0,
         kept_patience_ms},
        {"device dies, then a seek", 1.0, 0, 2000, 1e9, 3000, -1},
        {"process stopped for 6 s", 1.0, 5, -1, 0, -1, 2.0, 2000, 6000},
        {"process stopped for 1 s, then a seek", 1.01, 0, -1, 0, 4000, 1.0, 1500, 1000},
        {"device dies, the process stops", 1.0, 0, 2000, 1e9, -1, -1, 4000, 2000},
        // A device that takes its first two buffers and sleeps is starting, not lost:
        {"sink wakes 2.5 s after the start", 1.0, 5, 30, 2500, -1, 2.0},
        {"sink asleep past the start bound", 1.0, 0, 30, 8000, -1, -1},
    };
    constexpr int frames = 1024;
    constexpr double target_ms = 60000, run_ms = 8000;
    for (int ahead : {1, 3})
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(row.name) + ", buffers held " + std::to_string(ahead));
            const double buffer_ms = frames / 44.1 / row.device_speed;
            // From the first call until the device has shown that it plays.
            const double proof_ms = (playing_proof_buffers + 1) * buffer_ms;
            auto due_ms = [&](int64_t b) { // buffer b is asked for as b - ahead starts playing
                double at = b * buffer_ms;
                at += row.stop_at_ms >= 0 && at >= row.stop_at_ms ? row.stop_ms : 0;
                return at + (row.stall_at_ms >= 0 && at >= row.stall_at_ms ? row.stall_ms : 0);
            };
            listener_clock clock = {};
            hold_listener_clock(clock, 0, 1, 0);
            buffer_note note = {};
            std::vector<int64_t> start_frames; // of each buffer asked for
            int64_t generation = 1, next_frame = 0, playing = 0;
            uint32_t random = 1;
            double previous = 0, still_since = 0, target = target_ms, rejoined_at = -1e9;
            const double stop_end_ms = row.stop_at_ms + row.stop_ms;
            for (double now = 0; now < run_ms; now += 1) {
                for (int64_t b = int64_t(start_frames.size());; ++b) { // the callbacks due
                    double runs_at = due_ms(b) + row.jitter_ms * ((random >> 8) / 8388608.0 - 1.0);
                    if (runs_at > now)
                        break;
                    random = random * 1664525u + 1013904223u;
                    start_frames.push_back(next_frame);
                    note = {note.buffers + 1, uint64_t(generation), next_frame,
                            int64_t(runs_at * 1e6)};
                    next_frame += frames;
                }
                if (now >= row.stop_at_ms && now < stop_end_ms)
                    continue; // no reading while the process is stopped
                if (now == row.seek_at_ms) {
                    target = target_ms;
                    hold_listener_clock(clock, target, ++generation, int64_t(now * 1e6));
                    next_frame = int64_t(target * 44.1);
                }
                // Held for the sound of a play or a seek, it moves on when the note says
                // that sound is heard, to the step of the readings.
                const bool held_for_sound = clock.waiting && clock.speed == 0.0 &&
                                            clock.held_ns == 0 && clock.played && !clock.lost;
                const int64_t heard_at_ns =
                    held_for_sound ? listener_heard_at_ns(clock, note, ahead * frames) : -1;
                const double held_at = clock.last_ms;
                double reading = read_listener_clock(clock, note, int64_t(now * 1e6), frames,
                                                     ahead * frames, row.patience_ms);
                ASSERT_TRUE(heard_at_ns < 0 || clock.lost ||
                            (reading != held_at) == (now * 1e6 >= heard_at_ns) ||
                            std::abs(now * 1e6 - heard_at_ns) < 1e6)
                    << now;
                if (clock.rejoin) { // as sound_time_ms moves the stream to the clock
                    target = reading + (ahead + 1) * buffer_ms;
                    rejoined_at = now;
                    rejoin_listener_clock(clock, reading, target, ++generation, int64_t(now * 1e6));
                    next_frame = int64_t(target * 44.1);
                }
                // Heard: the buffer playing by the device's schedule, as far as it has
                // played (the stream's start before its first); past its end (a stall)
                // there is silence.
                while (due_ms(playing + ahead + 1) <= now)
                    ++playing;
                double heard =
                    start_frames[playing] / 44.1 +
                    std::clamp(now - due_ms(playing + ahead), 0.0, buffer_ms) * row.device_speed;
                // After a seek the clock holds at the target until the new sound can be
                // heard: a buffer on, give or take the jitter.
                bool held =
                    now >= row.seek_at_ms && now < row.seek_at_ms + buffer_ms - row.jitter_ms;
                ASSERT_TRUE(row.seek_at_ms < 0 || !held || reading == target_ms || clock.lost)
                    << now;
                ASSERT_TRUE(now == row.seek_at_ms || reading >= previous) << now;
                // Back from a stop, it goes on from where it stood.
                if (row.stop_at_ms >= 0 && now == stop_end_ms) {
                    ASSERT_LE(reading - previous, 500.0);
                    still_since = now;
                }
                // (Before the first sound of the start or of a seek, the clock holds where
                // that sound will be.)
                const double since_start_ms = now - (now >= row.seek_at_ms ? row.seek_at_ms : 0);
                const bool holds_for_sound =
                    since_start_ms < proof_ms + row.jitter_ms || reading == target_ms;
                // (Adrift, the clock runs alone, and the moved stream's first sound may come a
                // jitter early.)
                const bool alone = clock.lost || clock.adrift ||
                                   now < rejoined_at + (ahead + 2) * buffer_ms + row.jitter_ms;
                ASSERT_TRUE(alone || holds_for_sound ||
                            reading <= heard + ahead * buffer_ms + row.jitter_ms + rounding_ms)
                    << now;
                still_since = reading == previous && now != row.seek_at_ms ? still_since : now;
                const double held_for_ms = row.stall_at_ms < proof_ms
                                               ? std::min(row.stall_ms, start_bound_ms)
                                               : stall_hold_ms;
                ASSERT_LE(now - still_since, held_for_ms + proof_ms + row.jitter_ms) << now;
                ASSERT_TRUE(now < run_ms - 2000 || row.off_ms < 0 ||
                            std::abs(reading - heard) <= row.off_ms)
                    << now;
                previous = reading;
            }
            // A device gone for good leaves the clock running on in real time, from a
            // seek's target at once.
            EXPECT_EQ(clock.lost, row.off_ms < 0);
            if (row.seek_at_ms >= 0 && row.off_ms < 0) {
                EXPECT_NEAR(previous, target_ms + run_ms - 1 - row.seek_at_ms, alone_ms);
            }
        }
}
