// vornhal-capture video and frames, end to end: the built program runs in a scratch
// directory holding its own data/, and what it writes is read back with ffprobe and
// ffmpeg and checked against `vornhal-capture frame` and an independent MP3 decode.
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct run_result {
    int exit_code;      // 128 + signal when killed
    std::string output; // standard output and error together
};

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

void write_file(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Starts a shell command line in cwd, its standard output and error going to log.
pid_t start_program(const std::string& command, const fs::path& cwd, const fs::path& log) {
    const std::string line =
        "cd '" + cwd.string() + "' && exec " + command + " >'" + log.string() + "' 2>&1";
    pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

run_result finish_program(pid_t pid, const fs::path& log) {
    int status = 0;
    waitpid(pid, &status, 0);
    run_result result{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
                      read_file(log)};
    fs::remove(log);
    return result;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

std::set<std::string> names_in(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

double psnr_db(const std::string& a, const std::string& b) {
    if (a.size() != b.size() || a.empty())
        return 0;
    double squared = 0;
    for (size_t i = 0; i < a.size(); i++) {
        double d = static_cast<unsigned char>(a[i]) - static_cast<unsigned char>(b[i]);
        squared += d * d;
    }
    return squared == 0 ? 1000 : 10 * std::log10(255.0 * 255.0 * a.size() / squared);
}

// Normalised correlation of a against b shifted by lag stereo frames, over the frames
// both cover.
double correlation(const std::vector<int16_t>& a, const std::vector<int16_t>& b, int lag) {
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < a.size(); i++) {
        long j = static_cast<long>(i) + 2L * lag;
        if (j < 0 || j >= static_cast<long>(b.size()))
            continue;
        ab += double(a[i]) * b[j];
        aa += double(a[i]) * a[i];
        bb += double(b[j]) * b[j];
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

class capture_test : public ::testing::Test {
  protected:
    fs::path dir;  // the scratch working directory, with data/ below it
    int fakes = 0; // fake encoders made so far

    void SetUp() override {
        char pattern[] = "/tmp/vornhal-capture-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        fs::create_directory(dir / "data");
        for (const char* image : {"bg.png", "fg.png", "trelm.png"})
            fs::create_symlink(fs::path(DATA_DIR) / image, dir / "data" / image);
        // A chirp: a span shifted by a few milliseconds no longer correlates with it.
        ASSERT_EQ(tool("ffmpeg -v error -f lavfi -i "
                       "'aevalsrc=0.5*sin(2*PI*(200*t+150*t*t))|0.4*sin(2*PI*(300*t+100*t*t)):"
                       "s=44100:d=5' -c:a libmp3lame -b:a 192k data/music.mp3")
                      .exit_code,
                  0);
    }

    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    fs::path music() const { return dir / "data" / "music.mp3"; }

    run_result tool(const std::string& command) {
        const fs::path log = dir.string() + ".log";
        return finish_program(start_program(command, dir, log), log);
    }

    // vornhal-capture with args, after env (e.g. "env PATH=...") when given.
    run_result capture(const std::string& args, const std::string& env = "") {
        return tool(env + " '" CAPTURE_BINARY "' " + args);
    }

    // ffprobe's values of entries for one stream ("v:0", "a:0"), comma-separated in
    // ffprobe's own order.
    std::string probe(const std::string& file, const std::string& stream, const char* entries) {
        std::string out = tool("ffprobe -v error -of csv=p=0 -select_streams " + stream +
                               " -show_entries stream=" + entries + " " + file)
                              .output;
        return out.substr(0, out.find('\n'));
    }

    // What ffmpeg decodes from file with the given output options, as raw bytes.
    std::string decode(const std::string& file, const std::string& options) {
        run_result run = tool("ffmpeg -v error -i " + file + " " + options + " -");
        EXPECT_EQ(run.exit_code, 0);
        return run.output;
    }

    // Frame index of a video, or any picture file, as RGB bytes top row first. Colour
    // is upsampled with proper interpolation, as players do, not ffmpeg's quick default.
    std::string decode_rgb(const std::string& file, int index = 0) {
        return decode(file, "-vf 'select=eq(n\\," + std::to_string(index) +
                                "),scale=flags=bicubic+accurate_rnd+full_chroma_int' "
                                "-frames:v 1 -f rawvideo -pix_fmt rgb24");
    }

    // The audio of a file as 44100 Hz interleaved stereo int16.
    std::vector<int16_t> decode_audio(const std::string& file) {
        std::string bytes = decode(file, "-map 0:a:0 -f s16le -ac 2 -ar 44100");
        std::vector<int16_t> samples(bytes.size() / 2);
        std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
        return samples;
    }

    // An environment with a fake ffmpeg first on PATH, running the given shell body.
    std::string fake_ffmpeg(const std::string& body) {
        fs::path bin = dir / ("fakebin-" + std::to_string(fakes++));
        fs::create_directories(bin);
        write_file(bin / "ffmpeg", "#!/bin/sh\n" + body + "\n");
        fs::permissions(bin / "ffmpeg", fs::perms::owner_all);
        return "env PATH=" + bin.string() + ":" + std::getenv("PATH");
    }
};

// One second at 30 fps from 1.5 s: the container holds what a browser plays, each
// frame is the picture `frame` renders at that frame's moment, and the sound is the
// soundtrack's own span.
TEST_F(capture_test, short_video_holds_the_frames_and_the_soundtrack_span) {
    constexpr int fps = 30, from_ms = 1500, rate_hz = 44100;
    run_result run = capture("video out.mp4 --fps 30 --from 1500 --to 2500");
    ASSERT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(names_in(dir), (std::set<std::string>{"data", "out.mp4"})) << "temporaries left";

    EXPECT_EQ(probe("out.mp4", "v:0", "codec_name,width,height,pix_fmt,r_frame_rate,nb_frames"),
              "h264,800,600,yuv420p,30/1,30");
    EXPECT_EQ(probe("out.mp4", "a:0", "codec_name,sample_rate,channels"), "aac,44100,2");
    EXPECT_NEAR(std::stod(probe("out.mp4", "a:0", "duration")),
                std::stod(probe("out.mp4", "v:0", "duration")), 1.0 / fps);

    // The index comes first, so playback can start before the whole file is there.
    std::string bytes = read_file(dir / "out.mp4");
    ASSERT_NE(bytes.find("moov"), std::string::npos);
    EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));

    // Frames against single renders at their moments, t = from + floor(i * 1000 / fps);
    // the frame before or after matches no better (where the picture moves, worse).
    for (int index : {0, 17, 29}) {
        SCOPED_TRACE("frame " + std::to_string(index));
        ASSERT_EQ(
            capture("frame " + std::to_string(from_ms + index * 1000 / fps) + " at.png").exit_code,
            0);
        std::string expected_rgb = decode_rgb("at.png");
        ASSERT_EQ(expected_rgb.size(), 800u * 600 * 3);
        const double match_db = psnr_db(decode_rgb("out.mp4", index), expected_rgb);
        EXPECT_GT(match_db, 35.0);
        for (int neighbour : {index - 1, index + 1})
            if (neighbour >= 0 && neighbour < fps) {
                EXPECT_LT(psnr_db(decode_rgb("out.mp4", neighbour), expected_rgb), match_db + 0.5)
                    << "frame " << neighbour;
            }
    }

    // The sound against the MP3 decoded by ffmpeg, from round(1500 * 44.1) on; a span
    // off by 10 ms would not match.
    std::vector<int16_t> reference = decode_audio("data/music.mp3");
    const size_t first = size_t{from_ms} * rate_hz / 1000 * 2;
    ASSERT_GT(reference.size(), first + rate_hz * 2);
    std::vector<int16_t> span(reference.begin() + first, reference.begin() + first + rate_hz * 2);
    std::vector<int16_t> muxed = decode_audio("out.mp4");
    EXPECT_NEAR(muxed.size() / 2.0, rate_hz, rate_hz / fps);
    EXPECT_GT(correlation(muxed, span, 0), 0.9);
    for (int lag : {441, -441})
        EXPECT_LT(std::fabs(correlation(muxed, span, lag)), 0.5) << lag;
}

// Without the music the video is still made, with a track of silence of the same
// length, and the user is told once.
TEST_F(capture_test, video_is_silent_with_one_warning_when_the_music_is_unusable) {
    for (const char* contents : {"", "this is not an MP3 file\n"}) { // "": no file at all
        SCOPED_TRACE(contents);
        fs::remove(music());
        if (*contents)
            write_file(music(), contents);
        run_result run = capture("video quiet.mp4 --fps 10 --to 500");
        ASSERT_EQ(run.exit_code, 0) << run.output;
        int warnings = 0;
        for (const std::string& line : lines_of(run.output))
            warnings += line.find("warning") != std::string::npos &&
                        line.find("music.mp3") != std::string::npos;
        EXPECT_EQ(warnings, 1) << run.output;

        EXPECT_EQ(probe("quiet.mp4", "v:0", "nb_frames"), "5");
        EXPECT_NEAR(std::stod(probe("quiet.mp4", "a:0", "duration")), 0.5, 0.1);
        std::vector<int16_t> samples = decode_audio("quiet.mp4");
        ASSERT_FALSE(samples.empty());
        for (int16_t s : samples)
            ASSERT_LE(std::abs(int(s)), 1);
    }
}

// Frame counts for rates that do not divide a second and at the show's end (the last
// frame is the last one before 142 s); the same frames twice are the same bytes, and
// the same bytes as a single render of that moment in a fresh process.
TEST_F(capture_test, frames_writes_the_frames_the_demo_presents_identically_every_run) {
    const std::pair<const char*, int> cases[] = {
        {"--fps 24 --to 1000", 24},
        {"--fps 30 --from 141500", 15}, // 141500 + floor(14 * 1000 / 30) = 141966
        {"--fps 24 --from 141500", 12}, // 141500 + floor(11 * 1000 / 24) = 141958
        {"--fps 7 --from 141990 --to 150000", 1},
        {"--fps 30 --from 141500", 15}, // again, to compare with the first run
    };
    for (size_t n = 0; n < std::size(cases); n++) {
        SCOPED_TRACE(cases[n].first);
        run_result run = capture("frames out-" + std::to_string(n) + " " + cases[n].first);
        ASSERT_EQ(run.exit_code, 0) << run.output;
        std::set<std::string> expected;
        for (int i = 0; i < cases[n].second; i++) {
            char name[32];
            std::snprintf(name, sizeof name, "frame-%06d.png", i);
            expected.insert(name);
        }
        EXPECT_EQ(names_in(dir / ("out-" + std::to_string(n))), expected);
    }
    for (const std::string& name : names_in(dir / "out-1"))
        EXPECT_TRUE(read_file(dir / "out-1" / name) == read_file(dir / "out-4" / name)) << name;
    // Frame 5 is the moment 141500 + floor(5000 / 30) = 141666.
    ASSERT_EQ(capture("frame 141666 single.png").exit_code, 0);
    EXPECT_TRUE(read_file(dir / "single.png") == read_file(dir / "out-1/frame-000005.png"));
}

// Every failure: one clear line, exit status 1, and nothing under the output's name
// that could pass for a finished file; an earlier file of that name is kept.
TEST_F(capture_test, failures_say_why_and_leave_no_finished_looking_output) {
    fs::create_directories(dir / "ok");
    fs::create_directories(dir / "empty");
    write_file(dir / "plain-file", "x");
    const char* long_run = "video ok/out.mp4 --fps 30 --to 3000";
    const struct {
        std::string args, env, message;
    } cases[] = {
        {"video", "", "missing the output file"},
        {"video '' --to 500", "", "name is empty"},
        {"video ok/out.mp4 --fps 0", "", "--fps needs a whole number"},
        {"video ok/out.mp4 --fps 6o", "", "not '6o'"},
        {"video ok/out.mp4 --from -5", "", "--from needs"},
        {"video ok/out.mp4 --from 900 --to 800", "", "must be later than --from"},
        {"video ok/out.mp4 --fast", "", "unknown option '--fast'"},
        {"video ok/out.mp4 ok/other.mp4", "", "unexpected argument"},
        {"video ok/out.mp4 --from 142000", "", "nothing to capture"},
        {"video gone/out.mp4 --to 500", "", "cannot write"},
        {"video plain-file/out.mp4 --to 500", "", "cannot write"},
        {"frames plain-file/frames --to 500", "", "cannot create"},
        {"video ok --to 500", "", "is a directory"},
        {"video ok/out.mp4 --to 500", "env PATH=" + (dir / "empty").string(),
         "ffmpeg was not found on PATH"},
        {long_run, fake_ffmpeg("head -c 2000000 >/dev/null; echo 'no room' >&2; exit 1"),
         "ffmpeg exited with status 1: no room"},
        {long_run, fake_ffmpeg("head -c 2000000 >/dev/null; kill -KILL $$"),
         "ffmpeg was killed by signal 9"},
        {long_run, fake_ffmpeg("head -c 2000000 >/dev/null; exit 0"), "stopped reading frames"},
        {"video ok/out.mp4 --fps 10 --to 300", fake_ffmpeg("cat >/dev/null; exit 0"),
         "without writing the video"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        write_file(dir / "ok" / "out.mp4", "an earlier video");
        run_result run = capture(c.args, c.env);
        EXPECT_EQ(run.exit_code, 1) << run.output;
        std::vector<std::string> lines = lines_of(run.output);
        // The usage line may follow an argument error; the reason is on the line before.
        if (!lines.empty() && lines.back().rfind("usage:", 0) == 0)
            lines.pop_back();
        const std::string last = lines.empty() ? "" : lines.back();
        EXPECT_NE(last.find(c.message), std::string::npos) << run.output;
        EXPECT_EQ(last.rfind("vornhal-capture: ", 0), 0u) << last;
        EXPECT_EQ(names_in(dir / "ok"), std::set<std::string>{"out.mp4"});
        EXPECT_EQ(read_file(dir / "ok" / "out.mp4"), "an earlier video");
        EXPECT_FALSE(fs::exists(dir / "gone"));
    }
}

// Ctrl-C stops the capture and removes what it had written so far; the render-only
// pass writes nothing at all.
TEST_F(capture_test, interrupted_and_null_captures_leave_nothing_behind) {
    fs::create_directories(dir / "ok");
    const fs::path log = dir.string() + ".interrupt.log";
    pid_t pid =
        start_program("'" CAPTURE_BINARY "' video ok/out.mp4 --fps 30 --to 60000", dir, log);
    // Wait until frames are flowing (or give up after a while and interrupt anyway).
    for (int tries = 0; tries < 100 && read_file(log).find("frame 1 of") == std::string::npos;
         tries++)
        usleep(100000);
    kill(pid, SIGINT);
    run_result run = finish_program(pid, log);
    EXPECT_EQ(run.exit_code, 130) << run.output;
    EXPECT_NE(run.output.find("interrupted"), std::string::npos) << run.output;
    EXPECT_TRUE(names_in(dir / "ok").empty());

    run = capture("video --null --fps 10 --to 500");
    ASSERT_EQ(run.exit_code, 0) << run.output;
    EXPECT_NE(run.output.find("rendered 5 frames"), std::string::npos) << run.output;
    EXPECT_EQ(names_in(dir), (std::set<std::string>{"data", "ok"}));
}

} // namespace
