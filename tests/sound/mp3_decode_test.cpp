// The device-free decoder on a small MP3 made here: gapless length and alignment,
// sample-accurate seeks, and damaged input.
#include "stream/mp3_decode.h"
#include "mp3_encode.h"
#include "test_audio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

struct decoder_closer {
    void operator()(mp3_decoder* d) const { close_mp3_decoder(d); }
};
using decoder_ptr = std::unique_ptr<mp3_decoder, decoder_closer>;

decoder_ptr open(const std::vector<unsigned char>& bytes) {
    const char* reason = nullptr;
    return decoder_ptr(open_mp3_decoder(bytes.data(), bytes.size(), &reason));
}

TEST(Mp3Decode, GaplessDecodeHasTheSourceLengthAndLinesUpWithIt) {
    std::vector<int16_t> source = make_test_signal();
    decoder_ptr decoder = open(test_mp3());
    ASSERT_TRUE(decoder);
    EXPECT_EQ(mp3_decoder_length(decoder.get()), static_cast<int64_t>(source.size() / 2));

    std::vector<int16_t> pcm = decode_whole(test_mp3());
    ASSERT_EQ(pcm.size(), source.size());
    // Lined up, the lossy copy is closest to the source at no offset at all: an
    // encoder delay left in, or padding cut from the front, would move the best match.
    auto error_at_lag = [&](int lag) {
        double signal = 0.0, noise = 0.0;
        // One second from 0.5 s in: clicks and the glide are both in it.
        for (size_t i = 2 * 22050; i < 2 * 66150; ++i) {
            double s = source[i];
            double d = pcm[static_cast<size_t>(static_cast<long>(i) + 2 * lag)];
            signal += s * s;
            noise += (s - d) * (s - d);
        }
        return 10.0 * std::log10(signal / noise);
    };
    int best_lag = 0;
    double best_db = error_at_lag(0);
    for (int lag = -1200; lag <= 1200; ++lag) {
        double db = error_at_lag(lag);
        if (db > best_db) {
            best_db = db;
            best_lag = lag;
        }
    }
    printf("decode against source: %.1f dB SNR, best at a lag of %d frames\n", error_at_lag(0),
           best_lag);
    EXPECT_EQ(best_lag, 0);
    EXPECT_GT(error_at_lag(0), 20.0);
}

TEST(Mp3Decode, SeekDeliversExactlyWhatADecodeFromTheStartDelivers) {
    std::vector<int16_t> whole = decode_whole(test_mp3());
    decoder_ptr decoder = open(test_mp3());
    ASSERT_TRUE(decoder);
    int64_t length = mp3_decoder_length(decoder.get());
    // Frame boundaries of MPEG layer III fall every 1152 samples; seeks on, near and
    // between them, forwards and back.
    const int64_t targets[] = {44100, 0, 1, 1151, 1152, 1153, 17640, 100000, 2303, length - 700};
    for (int64_t target : targets) {
        SCOPED_TRACE(target);
        EXPECT_TRUE(seek_mp3_decoder(decoder.get(), target));
        EXPECT_EQ(mp3_decoder_position(decoder.get()), target);
        constexpr size_t frames = 600;
        std::vector<int16_t> got(frames * 2);
        size_t read = read_mp3_frames(decoder.get(), got.data(), frames);
        size_t expected = static_cast<size_t>(std::min<int64_t>(frames, length - target));
        ASSERT_EQ(read, expected);
        EXPECT_EQ(0, memcmp(got.data(), &whole[static_cast<size_t>(target) * 2],
                            read * 2 * sizeof(int16_t)));
    }
}

TEST(Mp3Decode, SeeksOutsideTheStreamAreClamped) {
    decoder_ptr decoder = open(test_mp3());
    ASSERT_TRUE(decoder);
    int64_t length = mp3_decoder_length(decoder.get());
    int16_t buffer[64 * 2];

    seek_mp3_decoder(decoder.get(), length + 50000);
    EXPECT_EQ(mp3_decoder_position(decoder.get()), length);
    EXPECT_EQ(read_mp3_frames(decoder.get(), buffer, 64), 0u);

    std::vector<int16_t> whole = decode_whole(test_mp3());
    seek_mp3_decoder(decoder.get(), -1000);
    EXPECT_EQ(mp3_decoder_position(decoder.get()), 0);
    ASSERT_EQ(read_mp3_frames(decoder.get(), buffer, 64), 64u);
    EXPECT_EQ(0, memcmp(buffer, whole.data(), sizeof buffer));
}

TEST(Mp3Decode, FrameAtMsRoundsToTheNearestSample) {
    const struct {
        int64_t ms;
        int64_t frame;
    } cases[] = {
        {-400, 0}, {0, 0},     {1, 44},      {5, 221},
        {10, 441}, {23, 1014}, {400, 17640}, {142000, 6262200},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mp3_frame_at_ms(c.ms), c.frame) << c.ms << " ms";
}

TEST(Mp3Decode, DamagedInputIsRefusedOrEndsCleanly) {
    const std::vector<unsigned char>& good = test_mp3();
    std::vector<unsigned char> noise(8192);
    uint32_t x = 12345;
    for (unsigned char& byte : noise) {
        x = x * 1103515245u + 12345u;
        byte = static_cast<unsigned char>(x >> 16);
    }
    std::vector<unsigned char> flipped = good;
    for (size_t i = 600; i < flipped.size(); i += 97)
        flipped[i] ^= 0x5a;
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
            EXPECT_NE(reason, nullptr);
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

TEST(Mp3Decode, OtherSampleRatesAreRefusedWithAReason) {
    std::vector<unsigned char> mp3;
    ASSERT_TRUE(encode_mp3(make_test_signal(1), 48000, 192, mp3));
    const char* reason = nullptr;
    EXPECT_EQ(open_mp3_decoder(mp3.data(), mp3.size(), &reason), nullptr);
    ASSERT_NE(reason, nullptr);
    EXPECT_STREQ(reason, "not at 44100 Hz");
}

} // namespace
