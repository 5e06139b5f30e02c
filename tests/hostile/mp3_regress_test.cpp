// Decoder faults found by fuzzing, kept as regressions: inexact seeks on a stream whose
// bit reservoir reaches back more than a frame, and a stream that switches sample rate
// midway, after which libmpg123 corrupted its heap on the next seek and read.
#include "mp3_encode.h"
#include "stream/mp3_decode.h"
#include "test_audio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

struct decoder_closer {
    void operator()(mp3_decoder* d) const { close_mp3_decoder(d); }
};
using decoder_ptr = std::unique_ptr<mp3_decoder, decoder_closer>;

// Half a second of two steady tones at 128 kbit/s: easy material, on which the encoder
// banks bits in the reservoir and a frame leans on the two before it.
std::vector<unsigned char> steady_tone_mp3() {
    constexpr int rate_hz = 44100;
    constexpr int kbps = 128;
    constexpr size_t frames = rate_hz / 2;
    constexpr double two_pi = 6.283185307179586;
    constexpr double left_hz = 440.0, right_hz = 660.0, amplitude = 12000.0;
    std::vector<int16_t> stereo(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate_hz;
        stereo[2 * i] = int16_t(amplitude * std::sin(two_pi * left_hz * t));
        stereo[2 * i + 1] = int16_t(amplitude * std::sin(two_pi * right_hz * t));
    }
    std::vector<unsigned char> mp3;
    EXPECT_TRUE(encode_mp3(stereo, rate_hz, kbps, mp3));
    return mp3;
}

TEST(Mp3FuzzRegression, SeeksAreExactWhereTheBitReservoirReachesBackTwoFrames) {
    const std::vector<unsigned char> mp3 = steady_tone_mp3();
    const std::vector<int16_t> whole = decode_whole(mp3);
    const char* reason = nullptr;
    decoder_ptr decoder(open_mp3_decoder(mp3.data(), mp3.size(), &reason));
    ASSERT_TRUE(decoder) << reason;
    ASSERT_EQ(size_t(mp3_decoder_length(decoder.get())) * 2, whole.size());
    // Milliseconds at which a seek with too few frames decoded ahead went wrong by up
    // to a third of full scale, and some around them.
    const int seek_ms[] = {150, 280, 290, 300, 310, 50, 200, 250, 400};
    for (int ms : seek_ms) {
        SCOPED_TRACE(ms);
        const int64_t target = mp3_frame_at_ms(ms);
        ASSERT_TRUE(seek_mp3_decoder(decoder.get(), target));
        constexpr size_t frames = 1152;
        std::vector<int16_t> got(frames * 2);
        const size_t read = read_mp3_frames(decoder.get(), got.data(), frames);
        const size_t expected = std::min(frames, whole.size() / 2 - size_t(target));
        ASSERT_EQ(read, expected);
        got.resize(read * 2);
        const std::vector<int16_t> reference(whole.begin() + target * 2,
                                             whole.begin() + (target + int64_t(read)) * 2);
        EXPECT_EQ(got, reference);
    }
}

TEST(Mp3FuzzRegression, AStreamThatSwitchesSampleRateEndsForGoodAtTheSwitch) {
    // The fuzzer's input: one byte with the number of seeks, four bytes per seek, then
    // the stream (frames at 44100 Hz, later ones at 48000 and 11025 Hz).
    std::vector<unsigned char> input = read_file(VORNHAL_HOSTILE_DATA "/mp3-rate-switch.fuzz");
    ASSERT_FALSE(input.empty());
    const size_t header = 1 + 4 * size_t(input[0] & 7);
    ASSERT_GT(input.size(), header);
    const std::vector<unsigned char> mp3(input.begin() + header, input.end());

    const char* reason = nullptr;
    decoder_ptr decoder(open_mp3_decoder(mp3.data(), mp3.size(), &reason));
    ASSERT_TRUE(decoder) << reason;
    const int64_t length = mp3_decoder_length(decoder.get());
    std::vector<int16_t> out(size_t(length) * 2 + 2304);
    const size_t decoded = read_mp3_frames(decoder.get(), out.data(), size_t(length) + 1152);
    EXPECT_LT(decoded, size_t(length)) << "the decode stops where the rate changes";

    // Every later seek and read is refused instead of handed to the broken decoder; the
    // sound layer then runs on in silence.
    const int64_t targets[] = {0, length / 2, length, 1};
    for (int64_t target : targets) {
        SCOPED_TRACE(target);
        EXPECT_FALSE(seek_mp3_decoder(decoder.get(), target));
        EXPECT_EQ(read_mp3_frames(decoder.get(), out.data(), 1152), 0u);
    }
}

} // namespace
