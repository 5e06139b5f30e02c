// The sound output: one MP3 stream from a memory block, played through SDL2 audio at
// 44100 Hz stereo (the decoder converts other rates), whose position is what the
// listener hears. Main thread only; decoding runs on SDL's audio thread, which shares
// nothing else with the caller.
#pragma once

#include <cstddef>

// Frames per device buffer: 46 ms, what the listener is behind the decoder besides the
// server's own latency. Sound servers size their own buffering from it (pipewire-pulse
// runs the stream at a quarter of it), and smaller ones ran dry on a loaded machine.
constexpr int sound_buffer_frames = 2048;

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
// round(ms * 44.1) of the decode, and the time reads ms straight away.
void sound_seek_ms(int ms);

// Whether the listener can no longer hear the stream, as of the last sound_time_ms: the
// device was removed, it did not start playing within start_bound_ms, or it played and
// then asked for no sound for lost_after_ms (listener_clock.h). sound_time_ms then runs
// on in real time; the reason goes to sound_error(). Close and open again to recover.
bool sound_lost();

// Whether the device plays, as of the last sound_time_ms: it has asked for sound at its
// own pace, not only taken its first buffers.
bool sound_playing();

// The name of the audio driver in use ("pulseaudio", "pipewire", ...); empty when closed.
const char* sound_driver();

// Closes the device and the stream. Safe to call at any time, and more than once.
void sound_close();

// Why the last failing call failed.
const char* sound_error();
