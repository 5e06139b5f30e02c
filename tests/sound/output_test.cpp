// What is really played, against the decode: a 48 kHz mono MP3 played from the start,
// then seeked 400 ms on from the clock's reading once a frame, as holding M does. The
// played sound comes from SDL's disk driver (SDL_DISKAUDIOFILE), or from a recording of
// a PulseAudio sink's monitor (VORNHAL_RECORDING), as the test's environment chooses.
#include "mp3_encode.h"
#include "stream/mp3_decode.h"
#include "stream/sound_stream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

namespace {

void wait_until_heard(int ms) {
    for (int waited = 0; waited < 2000 && sound_time_ms() <= ms; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Whether played frames from p match the decode at frame f for count frames, to the
// step libmpg123 may round differently after a seek.
bool matches(const std::vector<int16_t>& played, size_t p, const std::vector<int16_t>& decode,
             int64_t f, size_t count) {
    if (f < 0 || size_t(f) + count > decode.size() / 2 || p + count > played.size() / 2)
        return false;
    for (size_t i = 0; i < 2 * count; ++i)
        if (std::abs(played[2 * p + i] - decode[2 * size_t(f) + i]) > 1)
            return false;
    return true;
}

TEST(SoundOutput, PlaysTheDecodeFromItsFirstSampleAndJumpsExactlyToEachSeek) {
    constexpr int rate_hz = 48000;
    std::vector<int16_t> glide(4 * rate_hz); // 4 s rising from 300 Hz: nothing repeats
    for (size_t i = 0; i < glide.size(); ++i) {
        double t = double(i) / rate_hz;
        glide[i] = int16_t(10000 * std::cos(6.283185307179586 * (300 * t + 75 * t * t)));
    }
    std::vector<unsigned char> mp3;
    ASSERT_TRUE(encode_mp3(glide, rate_hz, 96, mp3, 1));
    mp3_decoder* decoder = open_mp3_decoder(mp3.data(), mp3.size(), nullptr);
    ASSERT_NE(decoder, nullptr);
    std::vector<int16_t> decode(size_t(mp3_decoder_length(decoder)) * 2);
    read_mp3_frames(decoder, decode.data(), decode.size() / 2);
    close_mp3_decoder(decoder);

    const char* recording = std::getenv("VORNHAL_RECORDING");
    const char* path = recording ? recording : std::getenv("SDL_DISKAUDIOFILE");
    ASSERT_NE(path, nullptr) << "run by CTest, which sets the environment";
    ASSERT_TRUE(sound_init()) << sound_error();
    ASSERT_TRUE(sound_play(mp3.data(), mp3.size())) << sound_error();
    wait_until_heard(500);
    std::vector<int64_t> targets;
    for (int frame = 0; frame < 7; ++frame) {
        int now_ms = sound_time_ms();
        targets.push_back(mp3_frame_at_ms(now_ms + 400));
        sound_seek_ms(now_ms + 400);
        wait_until_heard(now_ms + 400 + 16);
    }
    wait_until_heard(sound_time_ms() + 200); // a sound server drops what it holds at a close
    sound_close();

    // The recorder writes what the sink played a while later: read until it has
    // written a quarter second of the silence after the music.
    std::vector<int16_t> played;
    for (int tries = 0; tries < 50; ++tries) {
        std::ifstream in(path, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
        played.assign(bytes.size() / 4 * 2, 0);
        memcpy(played.data(), bytes.data(), played.size() * 2);
        if (!recording || (played.size() > 44100 &&
                           std::all_of(played.end() - 22050, played.end(), [](int16_t v) { return v == 0; })))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    size_t p = 0; // the first sound is the decode's first frame
    while (p < played.size() / 2 && played[2 * p] == 0 && played[2 * p + 1] == 0)
        ++p;
    // A monitor's recording may miss or garble what the sink played first.
    int64_t f = 0;
    for (int tries = recording ? 8 : 1; tries > 0; --tries, p += 1024, f = 0) {
        while (size_t(f) < decode.size() / 2 && !matches(played, p, decode, f, 1024))
            ++f;
        if (size_t(f) < decode.size() / 2)
            break;
    }
    ASSERT_LE(f, recording ? int64_t(decode.size() / 2) - 1 : 0) << "not the music's start";
    size_t next_target = 0;
    while (next_target < targets.size() && targets[next_target] <= f)
        ++next_target;
    for (; p + 256 < played.size() / 2; ++p) {
        if (matches(played, p, decode, f, 1)) {
            ++f;
            continue;
        }
        if (played[2 * p] == 0 && played[2 * p + 1] == 0)
            continue; // silence: a starved sound server, or the end

        // A jump: exactly onto a later seek's target, 400 ms after the time the clock
        // read, which is short of what had been handed over by the device's buffer and
        // however far the clock trailed, and ahead of it only while a starved device
        // thread lets the clock run on beyond the sound.
        size_t found = next_target;
        while (found < targets.size() && !matches(played, p, decode, targets[found], 256))
            ++found;
        ASSERT_LT(found, targets.size()) << "sound jumped to no seek's target at " << p;
        double step_ms = (targets[found] - f) / 44.1;
        EXPECT_LE(step_ms, 450.0);
        EXPECT_GT(step_ms, 250.0);
        f = targets[found] + 1;
        next_target = found + 1;
    }
    EXPECT_EQ(next_target, targets.size());
}

} // namespace
