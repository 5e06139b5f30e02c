// The sound output: one MP3 stream from a memory block, played through SDL2 audio at
// 44100 Hz, whose position is what the listener hears. Main thread only; decoding and
// mixing run on SDL's audio thread, which shares nothing else with the caller.
#pragma once

#include <cstddef>

struct sound_stream;

// Chooses the SDL audio driver by name for the next sound_init; null (the default)
// lets SDL pick, honouring SDL_AUDIODRIVER.
void sound_set_output(const char* driver_name);

// Opens the audio device at rate_hz, stereo, 16-bit, 1024 frames per buffer. On
// failure returns false and sound_error() says why; nothing is left open.
bool sound_init(int rate_hz);

// Opens an MP3 stream over data, which must stay allocated while the stream is open.
// One stream at a time. Null on failure, with the reason in sound_error().
sound_stream* sound_stream_open(const unsigned char* data, size_t size);

// Starts the stream on a channel (any free one: -1), paused if asked. Returns the
// channel, or -1 on failure.
int sound_stream_play(int channel, sound_stream* stream, bool paused);

// Pauses or resumes a channel. The position holds while paused.
bool sound_set_paused(int channel, bool paused);

// What the listener hears now, in whole milliseconds: never backwards between seeks,
// smooth between audio buffers, running on through silence past the end.
int sound_stream_get_time_ms(sound_stream* stream);

// Moves the stream to ms (below 0 lands at 0): the next sound played is frame
// round(ms * 44.1) of the decode, and the time reads ms straight away.
bool sound_stream_set_time_ms(sound_stream* stream, int ms);

// Closes the device and every stream. Safe to call at any time, and more than once.
void sound_close();

// Why the last failing call failed.
const char* sound_error();

// Frames per device buffer once initialised (0 before): what the listener is behind
// the decoder at most, besides the driver's own latency.
int sound_buffer_frames();
