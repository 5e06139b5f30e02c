// What is really played, against the decode: a 48 kHz mono MP3 played from the start,
// then moved 400 ms on from the clock's reading once a frame, as holding M does. The
// played sound comes from SDL's disk driver (SDL_DISKAUDIOFILE), or from a recording of
// a PulseAudio sink's monitor (VORNHAL_RECORDING), as the test's environment chooses.
#include "mp3_encode.h"
#include "stream/mp3_decode.h"
#include "stream/sound_stream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <iterator>
#include <thread>

std::vector<int16_t> decode_all(const std::vector<unsigned char>& mp3); // mp3_test.cpp

static void wait_until_heard(int ms) {
    for (int waited = 0; waited < 2000 && sound_time_ms() <= ms; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(SoundOutput, PlaysTheDecodeFromItsFirstSampleAndJumpsExactlyToEachSeek) {
    std::vector<int16_t> glide(4 * 48000); // 4 s rising from 300 Hz: nothing repeats
    for (size_t i = 0; i < glide.size(); ++i)
        glide[i] = int16_t(10000 * std::cos(6.2831853 * (300 + 75 * (i / 48e3)) * (i / 48e3)));
    std::vector<unsigned char> mp3;
    ASSERT_TRUE(encode_mp3(glide, 48000, 96, mp3, 1));
    const std::vector<int16_t> decode = decode_all(mp3);
    const char* recording = std::getenv("VORNHAL_RECORDING"); // these two set by CTest
    const char* path = recording ? recording : std::getenv("SDL_DISKAUDIOFILE");
    ASSERT_TRUE(sound_init() == sound_open::opened && sound_play(mp3.data(), mp3.size()))
        << sound_error();
    wait_until_heard(500);
    // A seek of 400 ms from the clock's reading lands that far ahead of the sound then
    // handed over, less what the clock trails it by: sound_latency_ms at most, less as a
    // buffer plays (and on a busy machine), give or take a server's own buffering.
    const double seek_ahead_ms = 400.0 - sound_latency_ms() / 2; // midway
    const double seek_ahead_slack_ms = sound_latency_ms() / 2 + 100.0;
    std::vector<int64_t> targets;
    for (int frame = 0; frame < 7; ++frame) {
        int now_ms = sound_time_ms();
        targets.push_back(mp3_frame_at_ms(now_ms + 400));
        sound_seek_ms(now_ms + 400);
        wait_until_heard(now_ms + 400 + 16);
    }
    wait_until_heard(sound_time_ms() + 200); // a sound server drops what it holds at a close
    sound_close();

    // A recorder writes what the sink played a while later.
    std::this_thread::sleep_for(std::chrono::milliseconds(recording ? 3000 : 0));
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::vector<int16_t> played(bytes.size() / 4 * 2);
    memcpy(played.data(), bytes.data(), played.size() * 2);
    // Whether played frames from p equal the decode's from f, to the step libmpg123 may
    // round differently after a seek.
    auto matches = [&](size_t p, int64_t f, size_t count) {
        if (f < 0 || size_t(f) + count > decode.size() / 2 || p + count > played.size() / 2)
            return false;
        for (size_t i = 0; i < 2 * count; ++i)
            if (std::abs(played[2 * p + i] - decode[2 * size_t(f) + i]) > 1)
                return false;
        return true;
    };
    size_t p = 0, n = played.size() / 2;
    while (p < n && !played[2 * p] && !played[2 * p + 1])
        ++p;
    int64_t f = 0; // the first sound is the music's first frame
    while (p < n && !matches(p, f, 1024))
        if (size_t(++f) == decode.size() / 2)
            f = 0, p += 1024; // a recording's first sound may be garbled, or be missing
    ASSERT_TRUE(p < n && (recording || f == 0)) << "the first sound is not the music's start";
    // Then each seek in turn: the sound jumps exactly onto its target, 400 ms after the
    // clock's reading, which trails what had been handed over by the device's buffer
    // and however far the clock lagged, and leads it only while a starved device thread
    // lets the clock run on beyond the sound. In between, the decode plays on unbroken
    // (where a starved sound server ran dry, a recording holds silence).
    for (int64_t target : targets) {
        size_t q = p;
        while (target > f && q < n && !matches(q, target, 256))
            ++q;
        if (target <= f)
            continue; // before the recording's first sound
        ASSERT_LT(q, n) << "no sound from the seek to frame " << target;
        EXPECT_TRUE(recording || matches(p, f, q - p));
        EXPECT_NEAR((target - f - int64_t(q - p)) / 44.1, seek_ahead_ms, seek_ahead_slack_ms);
        p = q;
        f = target;
    }
}
