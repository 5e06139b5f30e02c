// The raw reading, the frame at the start of the last buffer less what the device still
// plays before it plus the time since, steps with the callback's wake-up
// jitter. The clock the caller sees is a straight line that follows it by slewing its
// speed a little, and never moves backwards.
#include "stream/listener_clock.h"

#include <algorithm>
#include <cmath>

constexpr double ms_per_frame = 1000.0 / 44100.0;

static double clock_value_at(const listener_clock& c, int64_t now_ns) {
    return c.anchor_ms + static_cast<double>(now_ns - c.anchor_ns) * 1e-6 * c.speed;
}

void hold_listener_clock(listener_clock& clock, double ms, uint64_t generation, int64_t now_ns) {
    if (clock.generation == 0)
        clock.started_ns = now_ns;
    clock.anchor_ns = clock.read_ns = now_ns;
    clock.anchor_ms = clock.last_ms = clock.target_ms = ms;
    clock.speed = 0.0;
    clock.waiting = true;
    clock.lost = clock.adrift = clock.rejoin = false;
    clock.held_ns = 0;
    clock.generation = generation;
}

// Re-anchors the line at now_ns on value_ms, moving on at speed from there.
static double move_on(listener_clock& c, int64_t now_ns, double value_ms, double speed) {
    c.anchor_ns = now_ns;
    c.anchor_ms = value_ms;
    c.speed = speed;
    return value_ms;
}

void rejoin_listener_clock(listener_clock& clock, double from_ms, double target_ms,
                           uint64_t generation, int64_t now_ns) {
    move_on(clock, now_ns, from_ms, 1.0 + clock.rate_trim);
    clock.last_ms = from_ms;
    clock.target_ms = target_ms;
    clock.read_ns = now_ns;
    clock.waiting = true;
    clock.lost = clock.adrift = clock.rejoin = false;
    clock.held_ns = 0;
    clock.generation = generation;
}

int64_t listener_heard_at_ns(const listener_clock& clock, const buffer_note& note,
                             int ahead_frames) {
    if (note.buffers == 0 || note.generation != clock.generation)
        return -1;
    // Where read_listener_clock's heard position reaches the target.
    const double lead_ms =
        clock.target_ms - static_cast<double>(note.start_frame - ahead_frames) * ms_per_frame;
    return note.asked_ns + static_cast<int64_t>(std::ceil(lead_ms * 1e6));
}

double read_listener_clock(listener_clock& c, const buffer_note& note, int64_t now_ns,
                           int buffer_frames, int ahead_frames, double patience_ms) {
    // Corrections, at every new buffer note: a proportional part that takes out the
    // error over follow_ms, and a slow integral part (rate_trim) that learns how far
    // the device's rate lies from the monotonic clock's, so a steady drift is followed
    // with no lasting lag. Jitter of a few milliseconds moves the line by a fraction of
    // one. The speed never leaves 1 +- max_slew; only an error past resync_ms makes the
    // clock jump forward (it fell behind), or stop until the sound catches up (it ran
    // ahead; for stall_hold_ms at most).
    constexpr double follow_ms = 500.0;
    constexpr double learn_ms = 4.0 * follow_ms; // critically damped
    constexpr double max_trim = 0.02;
    constexpr double max_slew = 0.05;
    constexpr double resync_ms = 120.0;

    // The process did not run for a while: stand where the last reading stood, and
    // take no note from before as news of now.
    if (c.read_ns != 0 && static_cast<double>(now_ns - c.read_ns) * 1e-6 > stop_gap_ms) {
        c.resumed_ns = now_ns;
        move_on(c, now_ns, c.last_ms, c.lost ? 1.0 : 0.0);
        if (!c.lost && c.played) {
            c.waiting = true;
            c.adrift = c.rejoin = false;
            c.held_ns = now_ns;
        }
    }
    c.read_ns = now_ns;
    double clock_ms = clock_value_at(c, now_ns);
    if (c.lost)
        return c.last_ms = std::max(c.last_ms, clock_ms);
    const bool fresh = note.buffers != 0 && note.asked_ns >= c.resumed_ns;
    if (fresh && c.first_buffer == 0) {
        c.first_buffer = note.buffers;
        c.first_call_ns = note.asked_ns;
    }
    const double buffer_ms = buffer_frames * ms_per_frame;
    if (!c.played && c.first_buffer != 0 &&
        note.buffers >= c.first_buffer + playing_proof_buffers &&
        static_cast<double>(note.asked_ns - c.first_call_ns) * 1e-6 >=
            playing_proof_lengths * buffer_ms)
        c.played = true;
    // Until it plays, the time since it started says whether it is still starting; then
    // its last call says whether it is alive, whatever it played. Time stopped counts
    // for neither.
    const int64_t last_call_ns =
        note.buffers != 0 ? std::max(c.started_ns, note.asked_ns) : c.started_ns;
    const int64_t quiet_since_ns = std::max(c.resumed_ns, c.played ? last_call_ns : c.started_ns);
    const double quiet_ms = static_cast<double>(now_ns - quiet_since_ns) * 1e-6;
    if (quiet_ms >= (c.played ? patience_ms : start_bound_ms)) {
        c.lost = true;
        c.waiting = c.adrift = c.rejoin = false;
        return c.last_ms = move_on(c, now_ns, std::max(c.last_ms, clock_ms), 1.0);
    }
    // A stall or a stop holds the clock only so long; then it runs on alone until the
    // device asks for sound again, and the caller moves the stream to it.
    if (c.waiting && c.held_ns != 0 &&
        static_cast<double>(now_ns - c.held_ns) * 1e-6 >= stall_hold_ms) {
        c.waiting = false;
        c.adrift = true;
        c.held_ns = 0;
        c.adrift_buffers = note.buffers;
        move_on(c, now_ns, clock_ms, 1.0 + c.rate_trim);
    }
    if (c.adrift) {
        c.rejoin = fresh && note.buffers >= c.adrift_buffers + rejoin_proof_buffers;
        return c.last_ms = std::max(c.last_ms, clock_ms);
    }
    if (note.generation != c.generation || !fresh || !c.played)
        return c.last_ms = std::max(c.last_ms, clock_ms);
    // Nothing past the end of the last buffer handed over can be heard: a device that
    // stalls (a suspended sink) holds the clock there until more sound comes through,
    // as after a seek. A device keeping time asks for the next buffer a whole buffer
    // or more before the clock gets there.
    const double handed_ms = static_cast<double>(note.start_frame + buffer_frames) * ms_per_frame;
    double heard_ms =
        std::min(handed_ms, static_cast<double>(note.start_frame - ahead_frames) * ms_per_frame +
                                static_cast<double>(now_ns - note.asked_ns) * 1e-6);
    bool restart = false;
    if (c.waiting) {
        // Held: once the sound is heard past where it stands. Rejoining, running on:
        // once the new stream's sound is heard at all, unless the device stalled on
        // the way and it comes too late to follow: then the stream rejoins again.
        restart = heard_ms >= c.target_ms && (heard_ms > clock_ms || c.speed > 0.0);
        if (restart && heard_ms < clock_ms - resync_ms) {
            c.waiting = false;
            c.adrift = true;
            c.adrift_buffers = note.buffers;
            return c.last_ms = std::max(c.last_ms, clock_ms);
        }
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
            c.held_ns = now_ns;
        } else {
            c.rate_trim = std::clamp(c.rate_trim + error_ms * since_ms / (follow_ms * learn_ms),
                                     -max_trim, max_trim);
            c.speed = 1.0 + std::clamp(c.rate_trim + error_ms / follow_ms, -max_slew, max_slew);
        }
    }
    if (!c.waiting && !restart && clock_ms > handed_ms) {
        clock_ms = move_on(c, now_ns, std::max(c.last_ms, handed_ms), 0.0);
        c.waiting = true;
        c.held_ns = now_ns;
    }
    if (restart) {
        c.waiting = false;
        c.held_ns = 0;
        c.seen_buffers = note.buffers;
        clock_ms = move_on(c, now_ns, heard_ms, 1.0 + c.rate_trim);
    }
    return c.last_ms = std::max(c.last_ms, clock_ms);
}
