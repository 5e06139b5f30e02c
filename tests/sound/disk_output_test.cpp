// What is really played: SDL's disk driver writes every buffer the device is handed
// to a file, which is compared here with the decode of the stream.
#include "stream/mp3_decode.h"
#include "stream/sound_stream.h"
#include "test_audio.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

// Waits, two seconds at most, until the listener has heard past ms: on a busy machine
// the driver's thread can be late by more than any fixed pause.
void wait_until_heard(sound_stream* stream, int ms) {
    for (int waited = 0; waited < 2000 && sound_stream_get_time_ms(stream) <= ms; ++waited)
        sleep_ms(1);
}

// The device's buffers as written, with the silence before the stream started dropped.
std::vector<std::vector<int16_t>> written_buffers(const std::string& path, int buffer_frames) {
    std::vector<unsigned char> bytes = read_file(path);
    size_t buffer_bytes = static_cast<size_t>(buffer_frames) * 4;
    std::vector<std::vector<int16_t>> buffers;
    for (size_t at = 0; at + buffer_bytes <= bytes.size(); at += buffer_bytes) {
        std::vector<int16_t> buffer(static_cast<size_t>(buffer_frames) * 2);
        memcpy(buffer.data(), &bytes[at], buffer_bytes);
        if (!buffers.empty() || std::any_of(buffer.begin(), buffer.end(), [](int v) { return v; }))
            buffers.push_back(std::move(buffer));
    }
    return buffers;
}

bool matches_at(const std::vector<int16_t>& buffer, const std::vector<int16_t>& decode,
                int64_t frame) {
    return frame >= 0 && frame * 2 + buffer.size() <= decode.size() &&
           std::equal(buffer.begin(), buffer.end(), decode.begin() + frame * 2);
}

// Half a second played from the start, then M held: a seek from the time of the last
// frame, 400 ms ahead, once a frame, as the main loop does.
TEST(DiskOutput, PlaysTheDecodeFromTheFirstSampleThenJumpsByWhole400msSteps) {
    const std::string dir = make_temp_dir(), path = dir + "/played.raw";
    // The file the disk driver writes to; the driver itself is chosen by the test's
    // environment.
    setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
    ASSERT_TRUE(sound_init(44100)) << sound_error();
    sound_stream* stream = sound_stream_open(test_mp3().data(), test_mp3().size());
    ASSERT_NE(stream, nullptr) << sound_error();
    ASSERT_EQ(sound_stream_play(-1, stream, false), 0);
    const int buffer_frames = sound_buffer_frames();
    wait_until_heard(stream, 500);
    std::vector<int64_t> targets;
    for (int frame = 0; frame < 7; ++frame) {
        int now_ms = sound_stream_get_time_ms(stream);
        targets.push_back(now_ms + 400);
        sound_stream_set_time_ms(stream, now_ms + 400);
        wait_until_heard(stream, now_ms + 400 + 16);
    }
    sound_close();

    std::vector<int16_t> decode = decode_whole(test_mp3());
    auto buffers = written_buffers(path, buffer_frames);
    remove(path.c_str());
    remove(dir.c_str());
    ASSERT_FALSE(buffers.empty());
    ASSERT_TRUE(matches_at(buffers[0], decode, 0));
    int64_t next = buffer_frames; // where the buffer after this one continues
    size_t next_target = 0, jumps = 0;
    for (size_t i = 1; i < buffers.size(); ++i) {
        SCOPED_TRACE(i);
        if (matches_at(buffers[i], decode, next)) {
            next += buffer_frames;
            continue;
        }
        if (jumps == 0) {
            EXPECT_GE(i, 10u) << "the device played too little before the first seek";
        }
        // A jump: it lands exactly on the sample of the next seek's target.
        size_t found = next_target;
        while (found < targets.size() &&
               !matches_at(buffers[i], decode, mp3_frame_at_ms(targets[found])))
            ++found;
        ASSERT_LT(found, targets.size()) << "sound jumped to no seek's target";
        int64_t landed = mp3_frame_at_ms(targets[found]);
        // It is 400 ms after the time the clock read, which is what was heard: never
        // further than that from what had been handed over, and short of it by the
        // device's buffer and however far the clock trailed.
        double step_ms = (landed - next) / 44.1;
        EXPECT_LE(step_ms, 400.0);
        EXPECT_GT(step_ms, 250.0);
        next_target = found + 1;
        ++jumps;
        next = landed + buffer_frames;
    }
    EXPECT_EQ(jumps, targets.size());
}

} // namespace
