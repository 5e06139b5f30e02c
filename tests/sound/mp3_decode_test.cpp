// The device-free decoder on a small MP3 made here: gapless length and alignment,
// sample-accurate seeks, and damaged input.
#include "stream/mp3_decode.h"
#include "mp3_encode.h"
#include "test_audio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

TEST(Mp3Decode, GaplessDecodeHasTheSourceLengthAndLinesUpWithIt) {
    std::vector<int16_t> source = make_test_signal();
    std::vector<int16_t> pcm = decode_whole(test_mp3());
    ASSERT_EQ(pcm.size(), source.size());
    // Lined up, the lossy copy is closest to the source at no offset at all: an
    // encoder delay left in, or padding cut from the front, would move the best match.
    auto snr_at_lag = [&](int lag) {
        double signal = 0.0, noise = 0.0;
        // One second from 0.5 s in: clicks and the glide are both in it.
        for (size_t i = 2 * 22050; i < 2 * 66150; ++i) {
            double s = source[i], d = pcm[i + 2 * lag];
            signal += s * s;
            noise += (s - d) * (s - d);
        }
        return 10.0 * std::log10(signal / noise);
    };
    const double aligned_db = snr_at_lag(0);
    EXPECT_GT(aligned_db, 20.0);
    for (int lag = -1200; lag <= 1200; ++lag)
        if (lag != 0) {
            ASSERT_LT(snr_at_lag(lag), aligned_db) << "a better match at a lag of " << lag;
        }
}

// Seeks on, near and between the 1152-sample frame boundaries, forwards and back,
// and outside the stream (clamped to its ends) deliver what a decode from the start
// delivers there.
TEST(Mp3Decode, SeekDeliversExactlyWhatADecodeFromTheStartDelivers) {
    std::vector<int16_t> whole = decode_whole(test_mp3());
    mp3_decoder* decoder = open_mp3_decoder(test_mp3().data(), test_mp3().size(), nullptr);
    ASSERT_NE(decoder, nullptr);
    const int64_t length = mp3_decoder_length(decoder);
    EXPECT_EQ(length, static_cast<int64_t>(whole.size() / 2));
    for (int64_t target : std::vector<int64_t>{44100, 0, 1, 1151, 1152, 1153, 17640, 100000, 2303,
                                               length - 700, length + 50000, -1000}) {
        SCOPED_TRACE(target);
        const int64_t lands = std::clamp<int64_t>(target, 0, length);
        seek_mp3_decoder(decoder, target);
        EXPECT_EQ(mp3_decoder_position(decoder), lands);
        constexpr size_t frames = 600;
        std::vector<int16_t> got(frames * 2);
        size_t read = read_mp3_frames(decoder, got.data(), frames);
        ASSERT_EQ(read, static_cast<size_t>(std::min<int64_t>(frames, length - lands)));
        EXPECT_EQ(0, memcmp(got.data(), &whole[lands * 2], read * 2 * sizeof(int16_t)));
    }
    close_mp3_decoder(decoder);
}

TEST(Mp3Decode, FrameAtMsRoundsToTheNearestSample) {
    const std::pair<int64_t, int64_t> cases[] = {
        {-400, 0}, {0, 0}, {1, 44}, {5, 221}, {23, 1014}, {400, 17640}, {142000, 6262200},
    };
    for (const auto& [ms, frame] : cases)
        EXPECT_EQ(mp3_frame_at_ms(ms), frame) << ms << " ms";
}

TEST(Mp3Decode, DamagedInputIsRefusedOrEndsCleanly) {
    const std::vector<unsigned char>& good = test_mp3();
    std::vector<unsigned char> noise(8192), flipped = good, other_rate;
    uint32_t x = 12345;
    for (unsigned char& byte : noise)
        byte = static_cast<unsigned char>((x = x * 1103515245u + 12345u) >> 16);
    for (size_t i = 600; i < flipped.size(); i += 97)
        flipped[i] ^= 0x5a;
    ASSERT_TRUE(encode_mp3(make_test_signal(1), 48000, 192, other_rate));
    const std::string text = "this is not an MP3 file at all\n";
    const struct {
        const char* name;
        std::vector<unsigned char> bytes;
        bool may_open; // a damaged but real MP3 may still yield some sound
    } cases[] = {
        {"empty", {}, false},
        {"zeros", std::vector<unsigned char>(4096, 0), false},
        {"noise", noise, false},
        {"text", std::vector<unsigned char>(text.begin(), text.end()), false},
        {"id3 header only", {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0}, false},
        {"48000 Hz", other_rate, false},
        {"first 300 bytes", std::vector<unsigned char>(good.begin(), good.begin() + 300), true},
        {"first half", std::vector<unsigned char>(good.begin(), good.begin() + good.size() / 2),
         true},
        {"bits flipped", flipped, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const char* reason = nullptr;
        mp3_decoder* decoder = open_mp3_decoder(c.bytes.data(), c.bytes.size(), &reason);
        if (!decoder) {
            ASSERT_NE(reason, nullptr);
            if (c.bytes == other_rate) {
                EXPECT_STREQ(reason, "not at 44100 Hz");
            }
            continue;
        }
        EXPECT_TRUE(c.may_open);
        // Whatever opens must decode to an end, in whole frames, without hanging.
        std::vector<int16_t> buffer(4096 * 2);
        int64_t total = 0;
        for (int rounds = 0; rounds < 1000; ++rounds) {
            size_t got = read_mp3_frames(decoder, buffer.data(), 4096);
            total += static_cast<int64_t>(got);
            if (got < 4096)
                break;
        }
        EXPECT_LE(total, mp3_decoder_length(decoder) + 4096);
        seek_mp3_decoder(decoder, 0); // and back again after the end
        read_mp3_frames(decoder, buffer.data(), 4096);
        close_mp3_decoder(decoder);
    }
}

} // namespace
