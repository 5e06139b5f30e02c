// The decoder on MP3s made here with LAME: every rate and channel count comes out at
// 44100 Hz with its true length and pitch, and a seek delivers what a decode from the
// start delivers there; also on the stream that once broke it.
#include "mp3_encode.h"
#include "stream/mp3_decode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <fstream>
#include <iterator>

// A decode's length against the tone's: within 1024 output frames (23 ms), what a
// conversion from another rate may gain or lose at the ends. Its pitch: within half a
// percent (the FFT's bins are 10 Hz apart).
// After a seek: one step, which libmpg123's synthesis may round differently.
constexpr double length_slack_ms = 1024 / 44.1;
constexpr double pitch_fraction = 0.005;
constexpr int seek_rounding_steps = 1;

constexpr double two_pi = 6.283185307179586;

// The whole decode from the start (the output test uses it too).
std::vector<int16_t> decode_all(const std::vector<unsigned char>& mp3) {
    mp3_decoder* decoder = open_mp3_decoder(mp3.data(), mp3.size(), nullptr);
    std::vector<int16_t> pcm(decoder ? size_t(mp3_decoder_length(decoder)) * 2 + 4096 : 0);
    if (decoder)
        pcm.resize(read_mp3_frames(decoder, pcm.data(), pcm.size() / 2) * 2);
    close_mp3_decoder(decoder);
    return pcm;
}

// The strongest frequency in 2^15 frames of the left channel from first, by one FFT of
// the Hann-windowed samples: to within 0.7 Hz.
static double peak_hz(const std::vector<int16_t>& pcm, size_t first) {
    constexpr size_t n = 1 << 15;
    std::vector<std::complex<double>> x(n);
    for (size_t i = 0, j = 0; i < n; ++i) { // in bit-reversed order
        x[j] = pcm[2 * (first + i)] * (0.5 - 0.5 * std::cos(two_pi * i / n));
        for (size_t bit = n >> 1; (j ^= bit) < bit; bit >>= 1) {
        }
    }
    for (size_t len = 2; len <= n; len <<= 1)
        for (size_t i = 0; i < n; i += len)
            for (size_t k = 0; k < len / 2; ++k) {
                auto w = std::polar(1.0, -two_pi * k / len) * x[i + k + len / 2];
                x[i + k + len / 2] = x[i + k] - w;
                x[i + k] += w;
            }
    size_t at = 1;
    for (size_t k = 1; k < n / 2 - 1; ++k)
        at = std::abs(x[k]) > std::abs(x[at]) ? k : at;
    return at * 44100.0 / n;
}

// Seeks land on, near and between frame boundaries, past both ends, and where fuzzing
// once found seeks on a steady 128 kbit/s tone going wrong by a third of full scale
// (its bit reservoir reaching back two frames). What they deliver equals the decode
// from the start, to the step libmpg123's synthesis may round differently after a seek.
TEST(Mp3Decode, EveryRateAndChannelCountPlaysAtItsTrueLengthAndPitchAndSeeksExactly) {
    constexpr double tone_hz = 997.0, seconds = 1.5;
    for (int rate_hz : {8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000})
        for (int channels : {1, 2}) {
            SCOPED_TRACE(testing::Message() << rate_hz << " Hz, " << channels << " channels");
            std::vector<int16_t> tone(size_t(seconds * rate_hz) * channels);
            for (size_t i = 0; i < tone.size(); ++i) // the right channel a fifth higher
                tone[i] = int16_t(12000 * std::sin(two_pi * tone_hz * (i % channels ? 1.5 : 1) *
                                                   double(i / channels) / rate_hz));
            std::vector<unsigned char> mp3;
            ASSERT_TRUE(encode_mp3(tone, rate_hz, rate_hz >= 32000 ? 128 : 64, mp3, channels));
            const std::vector<int16_t> whole = decode_all(mp3);
            const int64_t length = int64_t(whole.size() / 2);
            EXPECT_NEAR(length / 44.1, seconds * 1000.0, length_slack_ms);
            EXPECT_NEAR(peak_hz(whole, 4410), tone_hz, tone_hz * pitch_fraction);

            mp3_decoder* decoder = open_mp3_decoder(mp3.data(), mp3.size(), nullptr);
            for (int64_t target : {0, 1, 1151, 1152, 1153, 6615, 12348, 12789, 13230, 13671, 30001,
                                   100000, -1000, int(length) - 700}) {
                const int64_t lands = std::clamp<int64_t>(target, 0, length);
                ASSERT_TRUE(seek_mp3_decoder(decoder, target)) << target;
                std::vector<int16_t> got(2 * 1200);
                got.resize(2 * read_mp3_frames(decoder, got.data(), 1200));
                ASSERT_EQ(int64_t(got.size() / 2), std::min<int64_t>(1200, length - lands));
                for (size_t i = 0; i < got.size(); ++i)
                    ASSERT_LE(std::abs(got[i] - whole[lands * 2 + i]), seek_rounding_steps)
                        << target << "+" << i;
            }
            close_mp3_decoder(decoder);
        }
}

// A stream that switches rate midway (found by fuzzing: libmpg123 corrupted its heap on
// the next seek and read) ends for good at the switch.
TEST(Mp3Decode, AStreamThatSwitchesRateEndsThere) {
    std::ifstream in(VORNHAL_FUZZ_CORPUS "/mp3/regress-rate-switch.bin", std::ios::binary);
    std::vector<unsigned char> mp3((std::istreambuf_iterator<char>(in)), {});
    mp3.erase(mp3.begin(), mp3.begin() + 1 + 4 * (mp3.at(0) & 7)); // the fuzzer's seeks
    mp3_decoder* decoder = open_mp3_decoder(mp3.data(), mp3.size(), nullptr);
    ASSERT_NE(decoder, nullptr);
    const size_t length = size_t(mp3_decoder_length(decoder));
    std::vector<int16_t> out(length * 2 + 2304);
    EXPECT_LT(read_mp3_frames(decoder, out.data(), length + 1152), length);
    EXPECT_FALSE(seek_mp3_decoder(decoder, 0));
    EXPECT_EQ(read_mp3_frames(decoder, out.data(), 1152), 0u);
    close_mp3_decoder(decoder);
}
