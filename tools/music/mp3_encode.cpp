// MP3 encoding in memory over libmp3lame.
#include "mp3_encode.h"

#include <lame/lame.h>

#include <algorithm>
#include <cstring>

bool encode_mp3(const std::vector<int16_t>& samples, int rate_hz, int kbps,
                std::vector<unsigned char>& out, int channels) {
    out.clear();
    lame_global_flags* lame = lame_init();
    if (!lame)
        return false;
    constexpr int best_quality = 2; // 0 is slowest; 2 is LAME's recommended "high"
    lame_set_in_samplerate(lame, rate_hz);
    lame_set_out_samplerate(lame, rate_hz);
    lame_set_num_channels(lame, channels);
    lame_set_mode(lame, channels == 1 ? MONO : JOINT_STEREO);
    lame_set_brate(lame, kbps);
    lame_set_VBR(lame, vbr_off);
    lame_set_quality(lame, best_quality);
    lame_set_bWriteVbrTag(lame, 1); // the Info frame carries delay and padding
    if (lame_init_params(lame) < 0) {
        lame_close(lame);
        return false;
    }

    // Feed in chunks; LAME's worst case output is 1.25 * samples + 7200 bytes.
    constexpr size_t chunk_frames = 8192;
    std::vector<unsigned char> encoded(chunk_frames * 5 / 4 + 7200);
    const size_t frames = samples.size() / size_t(channels);
    bool ok = true;
    for (size_t at = 0; at < frames && ok; at += chunk_frames) {
        size_t count = std::min(chunk_frames, frames - at);
        short* first = const_cast<short*>(&samples[at * size_t(channels)]);
        int bytes =
            channels == 1
                ? lame_encode_buffer(lame, first, nullptr, static_cast<int>(count), encoded.data(),
                                     static_cast<int>(encoded.size()))
                : lame_encode_buffer_interleaved(lame, first, static_cast<int>(count),
                                                 encoded.data(), static_cast<int>(encoded.size()));
        ok = bytes >= 0;
        if (ok)
            out.insert(out.end(), encoded.begin(), encoded.begin() + bytes);
    }
    if (ok) {
        int bytes = lame_encode_flush(lame, encoded.data(), static_cast<int>(encoded.size()));
        ok = bytes >= 0;
        if (ok)
            out.insert(out.end(), encoded.begin(), encoded.begin() + bytes);
    }
    // The first frame was written as a placeholder; now that the totals are known,
    // the Info frame replaces it.
    if (ok) {
        unsigned char tag[2880];
        size_t tag_bytes = lame_get_lametag_frame(lame, tag, sizeof tag);
        if (tag_bytes > 0 && tag_bytes <= out.size())
            memcpy(out.data(), tag, tag_bytes);
    }
    lame_close(lame);
    return ok;
}
