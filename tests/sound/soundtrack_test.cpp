// The soundtrack as the demo uses it: reading "data/music.mp3" from the working
// directory, the clock it gives, and every way of running without music.
#include "sound/soundtrack.h"
#include "stream/sound_stream.h"
#include "test_audio.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sys/stat.h>

namespace {

int sample() {
    sample_demo_clock();
    return static_cast<int>(demo_time_ms);
}

// Runs each test in a fresh working directory with a data directory, and puts the
// old one back afterwards.
class Soundtrack : public testing::Test {
  protected:
    void SetUp() override {
        old_dir = std::filesystem::current_path();
        dir = make_temp_dir();
        std::filesystem::current_path(dir);
        ASSERT_TRUE(std::filesystem::create_directory("data"));
    }
    void TearDown() override {
        stop_and_clear();
        std::filesystem::current_path(old_dir);
        std::filesystem::remove_all(dir);
    }
    // Stops the soundtrack and removes whatever stood as its file.
    static void stop_and_clear() {
        stop_soundtrack();
        std::filesystem::remove_all("data/music.mp3");
    }
    std::filesystem::path old_dir, dir;
};

// The silent clock: 0 at the first frame, real time after, seeks like the music.
void expect_silent_clock_runs() {
    sleep_ms(120);
    double first_before = wall_ms();
    EXPECT_EQ(sample(), 0) << "the clock starts with the first frame, not at setup";
    double first_after = wall_ms();
    sleep_ms(200);
    double before = wall_ms();
    int reading = sample();
    double after = wall_ms();
    EXPECT_GE(reading, static_cast<int>(before - first_after) - 1);
    EXPECT_LE(reading, static_cast<int>(after - first_before) + 1);

    seek_soundtrack(reading + 400);
    EXPECT_NEAR(sample(), reading + 400, 2);
    seek_soundtrack(-350);
    EXPECT_NEAR(sample(), 0, 2);
    seek_soundtrack(141000);
    double seeked = wall_ms();
    sleep_ms(50);
    int late = sample();
    EXPECT_GE(late, 141050);
    EXPECT_LE(late, 141000 + static_cast<int>(wall_ms() - seeked) + 2);
}

TEST_F(Soundtrack, WithoutUsableMusicTheShowRunsSilentOnARealTimeClock) {
    const char* missing = "Error!\nFile Not Found\n";
    const struct {
        const char* name;
        std::function<void()> arrange;
        bool no_device;
        const char* stdout_text; // the missing-file lines
        const char* stderr_has;  // the one line on standard error, if any
    } cases[] = {
        {"missing file", [] {}, false, missing, nullptr},
        {"a directory in its place", [] { mkdir("data/music.mp3", 0755); }, false, missing,
         nullptr},
        {"empty file", [] { write_file("data/music.mp3", {}); }, false, "", "data/music.mp3"},
        {"not an MP3",
         [] {
             write_file("data/music.mp3", {'n', 'o', 't', ' ', 'm', 'p', '3'});
         },
         false, "", "data/music.mp3"},
        {"no audio device", [] { write_file("data/music.mp3", test_mp3()); }, true, "",
         "without sound"},
        {"no audio device and no file", [] {}, true, missing, nullptr},
    };
    const std::string driver = getenv("SDL_AUDIODRIVER") ? getenv("SDL_AUDIODRIVER") : "";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        setenv("SDL_AUDIODRIVER", c.no_device ? "no-such-driver" : driver.c_str(), 1);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        start_soundtrack();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.stdout_text);
        std::string err = testing::internal::GetCapturedStderr();
        if (c.stderr_has) {
            EXPECT_NE(err.find(c.stderr_has), std::string::npos) << err;
            EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        }
        EXPECT_EQ(sound_buffer_frames(), 0) << "the sound system is left open";
        expect_silent_clock_runs();
        stop_and_clear();
    }
    setenv("SDL_AUDIODRIVER", driver.c_str(), 1);
}

TEST_F(Soundtrack, MusicDrivesTheClockThroughRestartsSeeksAndItsEnd) {
    ASSERT_TRUE(write_file("data/music.mp3", test_mp3())); // 4 s
    testing::internal::CaptureStdout();
    start_soundtrack();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_GT(sound_buffer_frames(), 0);
    EXPECT_EQ(sample(), 0);

    // A fullscreen toggle runs scene setup, and with it start_soundtrack, again: the
    // music and the clock go on as if nothing happened.
    sleep_ms(300);
    int before = sample();
    EXPECT_GT(before, 150);
    double restarted = wall_ms();
    start_soundtrack();
    int last = before;
    for (int frame = 0; frame < 20; ++frame) {
        sleep_ms(5);
        int now = sample();
        EXPECT_GE(now, last);
        last = now;
    }
    double restarted_for = wall_ms() - restarted;
    EXPECT_GT(last, before + restarted_for / 4) << "the music restarted or stalled";
    EXPECT_LE(last, before + restarted_for + 5);

    // M held: 400 ms from the last frame's time, every frame.
    for (int frame = 0; frame < 3; ++frame) {
        int at = sample();
        seek_soundtrack(at + 400);
        EXPECT_NEAR(sample(), at + 400, 1);
    }
    // N pressed early: the request is negative and lands at 0.
    seek_soundtrack(-250);
    EXPECT_EQ(sample(), 0);

    // Past the end of the 4 s track the clock runs on through silence.
    seek_soundtrack(3900);
    double seeked = wall_ms();
    sleep_ms(500);
    int past = sample();
    EXPECT_GT(past, 3900 + static_cast<int>(wall_ms() - seeked) / 4);

    // Stopping closes the sound; the clock keeps its last value.
    stop_soundtrack();
    EXPECT_EQ(sound_buffer_frames(), 0);
    sleep_ms(50);
    EXPECT_EQ(sample(), past);
}

} // namespace
