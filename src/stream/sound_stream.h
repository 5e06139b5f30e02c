// The sound output: one MP3 stream from a memory block, played through SDL2 audio at
// 44100 Hz stereo (the decoder converts other rates), whose position is what the
// listener hears. Decoding runs on SDL's audio thread, which shares nothing else with
// the caller. One thread at a time owns the output and makes these calls; the
// soundtrack hands it between its own sound thread (opening, waiting for a device to
// play, closing) and the main thread (the clock, seeks) under a lock of its own. Only
// sound_keep_waiting_until and sound_last_call_ns may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

// Frames per device buffer: 93 ms. A desktop without real-time priority for the audio
// thread, busy with a build, ran smaller ones dry.
constexpr int sound_buffer_frames = 4096;

// Buffers a sound server is asked to hold, so that the audio thread may be late by all
// but one of them before the sound runs dry; the clock makes up for the latency.
// PulseAudio holds four (372 ms): with two, a desktop without real-time priority for
// audio, busy with a build, went silent 9 to 21 times in 25 s, with four never.
// pipewire-pulse holds two (186 ms): asked for four, it held some 300 ms more than
// that, and dropped out no less under such load.
constexpr int pulseaudio_server_buffers = 4;
constexpr int pipewire_pulse_server_buffers = 2;

// Asks the sound server SDL would reach (a question of at most server_answer_ms), for
// every stream opened from now on, to hold its number of buffers rather than one; the
// sound of a buffer is then heard about all but one of them after the device asks for
// it, as the listener's clock expects. A user's own PULSE_LATENCY_MSEC wins, and the
// clock takes it. It sets the environment, so call it before other threads that read it
// start.
void sound_ask_server_latency();

enum class sound_open {
    opened,  // the device runs, playing silence
    not_yet, // a sound server answers but has no output yet: worth trying again
    failed,  // no driver or no device
};
// Opens the audio device SDL_AUDIODRIVER names (SDL's choice when unset): 44100 Hz,
// stereo, 16-bit, sound_buffer_frames per buffer, playing silence, its thread scheduled
// as desktops schedule audio (real-time where allowed, through rtkit where the desktop
// has it). Unless opened, sound_error() says why and nothing is left open.
sound_open sound_init();

// Starts the MP3 in data at start_ms; data must stay allocated until sound_close.
// False, with the reason in sound_error(), when it is no MP3 the decoder reads or when
// sound is not initialised. One stream at a time: a second call replaces it. With
// silent_until_seek the device plays silence and the stream stands still until the
// first sound_seek_ms, so a device can show that it plays before the music goes on.
bool sound_play(const unsigned char* data, size_t size, int start_ms = 0,
                bool silent_until_seek = false);

// What the listener hears now, in whole milliseconds: never backwards between seeks,
// smooth between audio buffers, running on through silence past the end. 0 without a
// stream. Until the device plays, it holds at the stream's first moment.
int sound_time_ms();

// Moves the stream to ms (below 0 lands at 0): the next sound played is output frame
// round(ms * 44.1) of the decode, and the time reads ms straight away. It is heard, and
// the time moves on, up to sound_latency_ms later.
void sound_seek_ms(int ms);

// While the clock holds for the sound of the last play or seek, when that sound is heard
// (monotonic ns): -1 while the device has not asked for it yet; 0 when the clock does not
// hold for one (it moves, it waits out a stall, or there is no stream).
int64_t sound_heard_at_ns();

// The server says how much it holds queued for the stream, in ms
// (server_own_stream_queue_ms): from then on the clock reckons with that rather than
// with the latency asked, which a server splits between the stream's queue and its
// sink as it sees fit.
void sound_take_server_queue_ms(int queue_ms);

// How far the listener is behind the sound handed to the device at most, as the clock
// reckons it: what the sound server holds (the buffers it was asked for, through a
// PulseAudio client; two with a driver that holds a buffer besides the one it plays),
// the last buffer handed over included. 0 while closed.
double sound_latency_ms();

// Whether the listener can no longer hear the stream, as of the last sound_time_ms: the
// device was removed, it did not start playing within start_bound_ms, or it played and
// then asked for no sound for lost_after_ms (kept_patience_ms while the server keeps
// the stream, listener_clock.h). sound_time_ms then runs on in real time; the reason
// goes to sound_error(). Close and open again to recover. A device that stalls and
// plays on is not lost: the clock runs on without it, and the stream is moved to the
// clock once the device asks for sound again.
bool sound_lost();

// The music goes on from ms with the clock running on from there: the stream restarts
// a little ahead, where the clock will be when its sound is heard. For a device that
// has just started playing (silent_until_seek) to join a clock that ran without sound.
void sound_follow_from_ms(int ms);

// The server says it keeps the stream until at_ns (moving it, or its sink suspended):
// until then a quiet device is granted kept_patience_ms. Any thread.
void sound_keep_waiting_until(int64_t at_ns);

// When the device last asked for sound (monotonic ns; 0: not yet or closed). Any thread.
int64_t sound_last_call_ns();

// Whether the device plays, as of the last sound_time_ms: it has asked for sound at its
// own pace, not only taken its first buffers.
bool sound_playing();

// The name of the audio driver in use ("pulseaudio", "pipewire", ...); empty when closed.
const char* sound_driver();

// Closes the device and the stream. Safe to call at any time, and more than once.
void sound_close();

// Why the last failing call failed.
const char* sound_error();
