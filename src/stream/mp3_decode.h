// Device-free MP3 decoding from a memory block: gapless, with an exact seek index, and
// always delivering interleaved signed 16-bit stereo at 44100 Hz, whatever the file's
// own rate (8 to 48 kHz) and channel count. Positions and lengths count these output
// frames. One decoder is used by one thread at a time; separate decoders are
// independent.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int mp3_rate_hz = 44100;
constexpr int mp3_channels = 2;

struct mp3_decoder;

// Opens a decoder over data (not copied: it must outlive the decoder). Returns null
// and sets *reason (a static string) when the data holds no decodable MP3.
mp3_decoder* open_mp3_decoder(const unsigned char* data, size_t size, const char** reason);
void close_mp3_decoder(mp3_decoder* decoder);

// Output frames in the whole gapless decode, as the frame index promises it; less once
// reading finds the stream damaged or switching rate before that (it ends there).
int64_t mp3_decoder_length(const mp3_decoder* decoder);
// Index of the next output frame read_mp3_frames delivers.
int64_t mp3_decoder_position(const mp3_decoder* decoder);

// Moves to output frame (clamped to 0 .. length): the frames read next are exactly
// those a decode from the start delivers from that index on.
bool seek_mp3_decoder(mp3_decoder* decoder, int64_t frame);

// Decodes up to frames output frames into out (frames * 2 int16). Returns how many were
// written; fewer than asked only at the end of the stream, or where the file switches
// to another sample rate, which ends it for good.
size_t read_mp3_frames(mp3_decoder* decoder, int16_t* out, size_t frames);

// The output frame heard at ms: round(ms * 44.1), and 0 below 0.
int64_t mp3_frame_at_ms(int64_t ms);
