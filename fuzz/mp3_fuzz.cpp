// Fuzz target for the MP3 stream layer's decoder: open from memory, decode, and seek to
// positions taken from the input, checking what the decoder promises about positions.
//
// Input: one byte giving the number of seeks (0-7), four bytes per seek (a signed
// little-endian millisecond position, which may lie before the start or past the end),
// then the MP3 file.
#include "stream/mp3_decode.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "mp3 fuzz: broken promise: %s\n", what);
        std::abort();
    }
}

// Reads frames, checking that the position moves by exactly what was delivered.
size_t read_checked(mp3_decoder* decoder, std::vector<int16_t>& buffer, size_t frames) {
    buffer.assign(frames * mp3_channels, 0);
    const int64_t before = mp3_decoder_position(decoder);
    const size_t got = read_mp3_frames(decoder, buffer.data(), frames);
    require(got <= frames, "never more frames than asked");
    require(mp3_decoder_position(decoder) == before + int64_t(got),
            "position moves by the frames delivered");
    buffer.resize(got * mp3_channels);
    return got;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    constexpr size_t max_seeks = 7;
    const size_t seeks = std::min<size_t>(data[0] & max_seeks, (size - 1) / 4);
    std::vector<int32_t> seek_ms(seeks);
    for (size_t i = 0; i < seeks; ++i) {
        const uint8_t* p = data + 1 + 4 * i;
        seek_ms[i] = int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                             uint32_t(p[3]) << 24);
    }
    const size_t skip = 1 + 4 * seeks;
    const unsigned char* file = data + skip;
    const size_t file_size = size - skip;

    // The decoder reads the caller's block in place; a copy of exactly the file's size
    // lets the address sanitizer see any read past its end.
    std::vector<unsigned char> block(file, file + file_size);
    const char* reason = nullptr;
    mp3_decoder* decoder = open_mp3_decoder(block.data(), block.size(), &reason);
    if (!decoder) {
        require(reason && reason[0], "a failed open says why");
        return 0;
    }
    const int64_t length = mp3_decoder_length(decoder);
    require(length > 0, "an open stream has frames");
    require(mp3_decoder_position(decoder) == 0, "an open stream starts at frame 0");

    // Decode from the start as far as a fuzz run can afford, then seek and read. Whether
    // a seek reproduces a decode from the start exactly is checked on sound streams by
    // the tests; a damaged stream is resynchronised by the decoder differently
    // depending on where it starts reading, so here only positions are checked.
    constexpr int64_t max_first_read_frames = 1 << 18;
    std::vector<int16_t> frames;
    const size_t delivered =
        read_checked(decoder, frames, size_t(std::min(length, max_first_read_frames)));
    require(delivered <= size_t(length), "no frames past the length");

    constexpr size_t seek_read_frames = 1152;
    for (int32_t ms : seek_ms) {
        // The length may have shrunk: a damaged stream ends where decoding stops.
        const int64_t target =
            std::clamp<int64_t>(mp3_frame_at_ms(ms), 0, mp3_decoder_length(decoder));
        if (!seek_mp3_decoder(decoder, target))
            continue;
        require(mp3_decoder_position(decoder) == target, "a seek lands where it says");
        read_checked(decoder, frames, seek_read_frames);
    }
    close_mp3_decoder(decoder);
    return 0;
}
