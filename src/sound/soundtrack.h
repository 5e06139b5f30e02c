// Soundtrack: the music stream and the demo clock it provides. Main thread only.
#pragma once

#include <cstdint>

// Soundtrack position in whole milliseconds as of the start of the current frame.
// Written once per frame by sample_demo_clock, read by every layer.
extern float demo_time_ms;

// Starts the soundtrack the first time; later calls (after a fullscreen toggle)
// change nothing. Never fails: without music the clock runs silent in real time.
void start_soundtrack();

// Stores what the listener hears now, in milliseconds, into demo_time_ms.
void sample_demo_clock();

// Whether the show still waits for its first note: from start_soundtrack while the
// device starts, until that note is heard (or the show goes on without it). due_ns is
// when it will be heard (monotonic ns), or -1 while the device has not taken it yet. The
// loop keeps the picture back meanwhile, so that the first frame shown comes with it.
bool awaiting_first_note(int64_t& due_ns);

// Moves the music and the clock to ms (below 0 lands at 0).
void seek_soundtrack(int ms);

// Shuts all sound down. The clock keeps its last value. False, after saying so, when a
// driver still holds the sound thread a few seconds on (SDL's PipeWire one can wait for
// ever): the thread is left to it, so SDL's audio must not be shut down, nor static
// objects destroyed, and the process should leave with _exit.
bool stop_soundtrack();

// Offline rendering: until stop_soundtrack, sample_demo_clock reads exactly ms and
// start_soundtrack opens no sound output.
void hold_demo_clock(int ms);
