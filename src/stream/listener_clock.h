// The listener's clock: what is heard now, from the audio callback's notes. A pure
// step function of its state, the last note and the time, so that any sequence of
// notes and readings can be replayed without a device.
#pragma once

#include <cstdint>

// What the audio callback noted about the last buffer it filled.
struct buffer_note {
    uint64_t buffers;    // buffers filled since the device opened; 0: none yet
    uint64_t generation; // the play or seek the buffer belongs to
    int64_t start_frame; // stream frame (44100 Hz) at the start of the buffer
    int64_t asked_ns;    // monotonic time at which the device asked for it
};

// A device that played and then asks for nothing this long after its last buffer has
// gone: a sound server died, or took the sink away. The clock then runs on in real time
// from where it stands, and says so in `lost`. While the server says it keeps the
// stream (moving it to another sink, or a sink suspended), the caller grants it
// kept_patience_ms instead.
constexpr double lost_after_ms = 1000.0;
constexpr double kept_patience_ms = 10000.0;

// A stall (the device asks for nothing while the clock reaches the end of the sound
// handed over) holds the clock there this long at most; then it runs on alone, adrift,
// and once the device asks for sound again the stream is moved to where the clock
// stands, so the picture never waits for a device.
constexpr double stall_hold_ms = 60.0;
// Buffers the device must ask for after going adrift before the stream rejoins the
// clock: one alone may be a sleeping sink taking its last.
constexpr uint64_t rejoin_proof_buffers = 2;

// Two readings this far apart mean the process did not run in between (stopped, a
// frozen session): that time was not heard, so the clock stands where it stood and
// follows what the device plays from there, rather than running on over it.
constexpr double stop_gap_ms = 250.0;

// A device that has not played yet is starting, not lost: a Bluetooth headset or an
// HDMI sink takes seconds to wake, and a busy machine is slow to get a stream going.
// The clock holds at the stream's first moment for this long at most before it runs on
// alone.
constexpr double start_bound_ms = 5000.0;

// A device plays once its calls go on at its own pace: this many buffers asked for after
// its first call, the last of them at least this many buffer lengths after it. A device
// that takes its first buffers at once and stalls (a sleeping sink) has not played.
constexpr uint64_t playing_proof_buffers = 3;
constexpr double playing_proof_lengths = 1.5;

// A line through (anchor_ns, anchor_ms) at speed ms per ms, corrected at each new note.
struct listener_clock {
    int64_t anchor_ns;
    double anchor_ms;
    double speed;
    bool waiting;            // until the sound at target_ms is heard; held unless rejoining
    double target_ms;        // where the generation it waits for begins
    bool played;             // the device's calls have gone on at its pace
    bool lost;               // gone (see above): running on in real time
    bool adrift;             // stalled past stall_hold_ms: running on alone, device kept
    bool rejoin;             // adrift, and the device asks for sound again: move the stream
    int64_t held_ns;         // when a stall or a stop began holding it; 0: not so held
    uint64_t adrift_buffers; // the buffers count when it went adrift
    int64_t started_ns;      // when the first generation began playing
    int64_t resumed_ns;      // when the process last ran on after a stop; 0: never stopped
    int64_t read_ns;         // the last reading; 0: none yet
    uint64_t first_buffer;   // buffers count and time of the first call seen; 0: none yet
    int64_t first_call_ns;
    uint64_t generation;   // the generation it follows; older notes are ignored
    uint64_t seen_buffers; // the last note it corrected against
    double rate_trim;      // learnt device rate less 1; kept across seeks
    double last_ms;        // the last reading, below which it never goes in a generation
};

// Holds the clock at ms from now_ns until a note of generation says that the sound
// at ms is heard; the learnt device rate is kept. A device silent for lost_after_ms
// leaves it running on from ms at once.
void hold_listener_clock(listener_clock& clock, double ms, uint64_t generation, int64_t now_ns);

// The clock runs on from from_ms at now_ns, at the device's rate, while the stream (as
// generation) restarts ahead at target_ms; it follows the device again once the sound
// at target_ms is heard, moving only forward. For a stream moved to a running clock:
// after a stall, or when a device comes back.
void rejoin_listener_clock(listener_clock& clock, double from_ms, double target_ms,
                           uint64_t generation, int64_t now_ns);

// While the clock holds for the sound of a play or a seek, when that sound is heard
// (monotonic ns), as note tells it with ahead_frames as read_listener_clock takes them:
// -1 while the device has not asked for it yet. The clock moves on from then.
int64_t listener_heard_at_ns(const listener_clock& clock, const buffer_note& note,
                             int ahead_frames);

// The position heard at now_ns, in milliseconds, after taking in note; buffer_frames is
// the device buffer, ahead_frames what plays before a buffer just asked for. Never less than an
// earlier reading of the same generation; held until the device plays; smooth between notes; a
// stall that leaves the clock behind what is heard makes it jump, and only forward; a
// stall holds it at the end of the sound handed over for stall_hold_ms, then leaves it
// adrift; after a stop it stands where it stood; a device that does not play within
// start_bound_ms, or played and went silent for patience_ms, leaves it running alone.
double read_listener_clock(listener_clock& clock, const buffer_note& note, int64_t now_ns,
                           int buffer_frames, int ahead_frames, double patience_ms = lost_after_ms);
