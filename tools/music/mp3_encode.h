// MP3 encoding over libmp3lame, in memory, with the LAME/Info header that tells a
// decoder the encoder's delay and padding, so the decode is gapless: exactly the
// frames encoded, from the first.
#pragma once

#include <cstdint>
#include <vector>

// Encodes interleaved 16-bit samples (stereo, or mono when channels is 1) at rate_hz as
// constant bit rate kbps. False when the encoder refuses the settings.
bool encode_mp3(const std::vector<int16_t>& samples, int rate_hz, int kbps,
                std::vector<unsigned char>& out, int channels = 2);
