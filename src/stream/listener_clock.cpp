// The raw reading, the frame at the start of the last buffer less the buffer the
// device is still playing plus the time since, steps with the callback's wake-up
// jitter. The clock the caller sees is a straight line that follows it by slewing its
// speed a little, and never moves backwards.
#include "stream/listener_clock.h"

#include <algorithm>

static double clock_value_at(const listener_clock& c, int64_t now_ns) {
    return c.anchor_ms + static_cast<double>(now_ns - c.anchor_ns) * 1e-6 * c.speed;
}

void hold_listener_clock(listener_clock& clock, double ms, uint64_t generation, int64_t now_ns) {
    clock.anchor_ns = now_ns;
    clock.anchor_ms = ms;
    clock.speed = 0.0;
    clock.waiting = true;
    clock.generation = generation;
}

double read_listener_clock(listener_clock& c, const buffer_note& note, int64_t now_ns,
                           int buffer_frames) {
    // Corrections, at every new buffer note: a proportional part that takes out the
    // error over follow_ms, and a slow integral part (rate_trim) that learns how far
    // the device's rate lies from the monotonic clock's, so a steady drift is followed
    // with no lasting lag. Jitter of a few milliseconds moves the line by a fraction of
    // one. The speed never leaves 1 +- max_slew; only an error past resync_ms makes the
    // clock jump forward (it fell behind), or stop until the sound catches up (the
    // device stalled while the clock ran on).
    constexpr double follow_ms = 500.0;
    constexpr double learn_ms = 4.0 * follow_ms; // critically damped
    constexpr double max_trim = 0.02;
    constexpr double max_slew = 0.05;
    constexpr double resync_ms = 120.0;
    constexpr double ms_per_frame = 1000.0 / 44100.0;

    double clock_ms = clock_value_at(c, now_ns);
    if (note.generation != c.generation || note.buffers == 0)
        return clock_ms;
    double heard_ms = static_cast<double>(note.start_frame - buffer_frames) * ms_per_frame +
                      static_cast<double>(now_ns - note.asked_ns) * 1e-6;
    bool restart = false;
    if (c.waiting) {
        restart = heard_ms >= c.anchor_ms;
    } else if (note.buffers != c.seen_buffers) {
        double error_ms = heard_ms - clock_ms;
        double since_ms = static_cast<double>(now_ns - c.anchor_ns) * 1e-6;
        c.seen_buffers = note.buffers;
        c.anchor_ns = now_ns;
        c.anchor_ms = clock_ms;
        if (error_ms > resync_ms) {
            restart = true;
        } else if (error_ms < -resync_ms) {
            c.speed = 0.0;
            c.waiting = true;
        } else {
            c.rate_trim = std::clamp(c.rate_trim + error_ms * since_ms / (follow_ms * learn_ms),
                                     -max_trim, max_trim);
            c.speed = 1.0 + std::clamp(c.rate_trim + error_ms / follow_ms, -max_slew, max_slew);
        }
    }
    if (restart) {
        c.anchor_ns = now_ns;
        c.anchor_ms = heard_ms;
        c.speed = 1.0 + c.rate_trim;
        c.waiting = false;
        c.seen_buffers = note.buffers;
        clock_ms = heard_ms;
    }
    return clock_ms;
}
