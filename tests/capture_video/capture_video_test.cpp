// vornhal-capture video and frames, end to end: the built program runs in a scratch
// directory holding its own data/, and what it writes is read back with ffprobe and
// ffmpeg and checked against `vornhal-capture frame` and an independent MP3 decode.
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int width_px = 800;
constexpr int height_px = 600;
constexpr int rate_hz = 44100;

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

std::string capture_program() {
    const char* path = std::getenv("VORNHAL_CAPTURE");
    return path ? path : "vornhal-capture";
}

// Starts args in cwd with extra NAME=VALUE environment entries, output to log.
pid_t start_program(const std::vector<std::string>& args, const fs::path& cwd,
                    const std::vector<std::string>& env, const fs::path& log) {
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        for (const std::string& entry : env)
            putenv(const_cast<char*>(entry.c_str()));
        FILE* out = std::fopen(log.c_str(), "w");
        if (out == nullptr)
            _exit(126);
        dup2(fileno(out), 1);
        dup2(fileno(out), 2);
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

run_result finish_program(pid_t pid, const fs::path& log) {
    int status = 0;
    waitpid(pid, &status, 0);
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return {code, read_file(log)};
}

// Lines of text that are not blank.
std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line))
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
    double mse = squared / a.size();
    return mse == 0 ? 1000 : 10 * std::log10(255.0 * 255.0 / mse);
}

std::vector<int16_t> as_samples(const std::string& bytes) {
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
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
        // The demo's own images when they are there; test patterns otherwise, so the
        // pictures are never trivially black.
        const char* source = std::getenv("VORNHAL_DATA_DIR");
        for (const char* image : {"bg.png", "fg.png", "trelm.png"}) {
            fs::path original = source ? fs::path(source) / image : fs::path();
            if (source && fs::exists(original)) {
                fs::create_symlink(original, dir / "data" / image);
            } else {
                ASSERT_EQ(
                    tool({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc2=s=256x256:d=1",
                          "-frames:v", "1", (dir / "data" / image).string()})
                        .exit_code,
                    0);
            }
        }
        // A chirp: a span shifted by a few milliseconds no longer correlates with it.
        ASSERT_EQ(tool({"ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                        "aevalsrc=0.5*sin(2*PI*(200*t+150*t*t))|0.4*sin(2*PI*(300*t+100*t*t)):"
                        "s=44100:d=5",
                        "-c:a", "libmp3lame", "-b:a", "192k", music().string()})
                      .exit_code,
                  0);
    }

    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    fs::path music() const { return dir / "data" / "music.mp3"; }

    run_result tool(const std::vector<std::string>& args,
                    const std::vector<std::string>& env = {}) {
        fs::path log = dir.parent_path() / (dir.filename().string() + ".log");
        run_result result = finish_program(start_program(args, dir, env, log), log);
        fs::remove(log);
        return result;
    }

    run_result capture(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
        args.insert(args.begin(), capture_program());
        return tool(args, env);
    }

    // ffprobe's view of one stream ("v:0", "a:0") as key=value pairs.
    std::map<std::string, std::string> probe(const std::string& file, const char* stream) {
        run_result result =
            tool({"ffprobe", "-v", "error", "-select_streams", stream, "-show_entries",
                  "stream=codec_name,pix_fmt,width,height,r_frame_rate,nb_frames,duration,"
                  "sample_rate,channels",
                  "-of", "default=noprint_wrappers=1", file});
        std::map<std::string, std::string> fields;
        for (const std::string& line : lines_of(result.output)) {
            size_t equals = line.find('=');
            if (equals != std::string::npos)
                fields[line.substr(0, equals)] = line.substr(equals + 1);
        }
        return fields;
    }

    // Frame index of a video, or any picture file, as RGB bytes top row first. Colour
    // is upsampled with proper interpolation, as players do, not ffmpeg's quick default.
    std::string decode_rgb(const std::string& file, int index = 0) {
        fs::path raw = dir / "decoded.rgb";
        EXPECT_EQ(tool({"ffmpeg", "-v", "error", "-y", "-i", file, "-vf",
                        "select=eq(n\\," + std::to_string(index) +
                            "),scale=flags=bicubic+accurate_rnd+full_chroma_int",
                        "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", raw.string()})
                      .exit_code,
                  0);
        std::string rgb = read_file(raw);
        fs::remove(raw);
        return rgb;
    }

    // The audio of a file as 44100 Hz interleaved stereo int16, decoded by ffmpeg.
    std::vector<int16_t> decode_audio(const std::string& file) {
        fs::path raw = dir / "decoded.pcm";
        EXPECT_EQ(tool({"ffmpeg", "-v", "error", "-y", "-i", file, "-map", "0:a:0", "-f", "s16le",
                        "-ac", "2", "-ar", "44100", raw.string()})
                      .exit_code,
                  0);
        std::vector<int16_t> samples = as_samples(read_file(raw));
        fs::remove(raw);
        return samples;
    }

    // A fake ffmpeg first on PATH running the given shell body.
    std::vector<std::string> fake_ffmpeg(const std::string& body) {
        fs::path bin = dir / ("fakebin-" + std::to_string(fakes++));
        fs::create_directories(bin);
        fs::path script = bin / "ffmpeg";
        write_file(script, "#!/bin/sh\n" + body + "\n");
        fs::permissions(script, fs::perms::owner_all);
        return {"PATH=" + bin.string() + ":" + std::getenv("PATH")};
    }
};

// One second at 30 fps from 1.5 s: the container holds what a browser plays, each
// frame is the picture `frame` renders at that frame's moment, and the sound is the
// soundtrack's own span.
TEST_F(capture_test, short_video_holds_the_frames_and_the_soundtrack_span) {
    constexpr int fps = 30;
    constexpr int from_ms = 1500;
    run_result run = capture({"video", "out.mp4", "--fps", "30", "--from", "1500", "--to", "2500"});
    ASSERT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(names_in(dir), (std::set<std::string>{"data", "out.mp4"}))
        << "temporary files left behind";

    std::map<std::string, std::string> video = probe("out.mp4", "v:0");
    EXPECT_EQ(video["codec_name"], "h264");
    EXPECT_EQ(video["pix_fmt"], "yuv420p");
    EXPECT_EQ(video["width"], "800");
    EXPECT_EQ(video["height"], "600");
    EXPECT_EQ(video["r_frame_rate"], "30/1");
    EXPECT_EQ(video["nb_frames"], "30");
    std::map<std::string, std::string> audio = probe("out.mp4", "a:0");
    EXPECT_EQ(audio["codec_name"], "aac");
    EXPECT_EQ(audio["sample_rate"], "44100");
    EXPECT_EQ(audio["channels"], "2");
    EXPECT_NEAR(std::atof(audio["duration"].c_str()), std::atof(video["duration"].c_str()),
                1.0 / fps);

    // The index comes first, so playback can start before the whole file is there.
    std::string bytes = read_file(dir / "out.mp4");
    ASSERT_NE(bytes.find("moov"), std::string::npos);
    EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));

    // Frames against single renders at their moments, t = from + floor(i * 1000 / fps);
    // the frame before or after matches no better (where the picture moves, worse).
    for (int index : {0, 17, 29}) {
        SCOPED_TRACE("frame " + std::to_string(index));
        const int ms = from_ms + index * 1000 / fps;
        const std::string png = "at-" + std::to_string(ms) + ".png";
        ASSERT_EQ(capture({"frame", std::to_string(ms), png}).exit_code, 0);
        std::string expected = decode_rgb(png);
        ASSERT_EQ(expected.size(), size_t{width_px} * height_px * 3);
        const double match_db = psnr_db(decode_rgb("out.mp4", index), expected);
        EXPECT_GT(match_db, 35.0);
        constexpr double noise_db = 0.5;
        for (int neighbour : {index - 1, index + 1}) {
            if (neighbour < 0 || neighbour >= fps)
                continue;
            EXPECT_LT(psnr_db(decode_rgb("out.mp4", neighbour), expected), match_db + noise_db)
                << "frame " << neighbour;
        }
    }

    // The sound against the MP3 decoded by ffmpeg, from round(1500 * 44.1) on.
    std::vector<int16_t> reference = decode_audio(music().string());
    const size_t first = static_cast<size_t>(from_ms) * rate_hz / 1000 * 2;
    ASSERT_GT(reference.size(), first + rate_hz * 2);
    std::vector<int16_t> span(reference.begin() + first, reference.begin() + first + rate_hz * 2);
    std::vector<int16_t> muxed = decode_audio("out.mp4");
    EXPECT_NEAR(static_cast<double>(muxed.size()) / 2, rate_hz, rate_hz / fps);
    EXPECT_GT(correlation(muxed, span, 0), 0.9);
    // A span off by 10 ms would not match.
    EXPECT_LT(std::fabs(correlation(muxed, span, 441)), 0.5);
    EXPECT_LT(std::fabs(correlation(muxed, span, -441)), 0.5);
}

// Without the music the video is still made, with a track of silence of the same
// length, and the user is told once.
TEST_F(capture_test, video_is_silent_with_one_warning_when_the_music_is_unusable) {
    const struct {
        const char* name;
        const char* contents; // null: no file at all
    } cases[] = {{"missing", nullptr}, {"not an MP3", "this is not an MP3 file\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(music());
        if (c.contents)
            write_file(music(), c.contents);
        run_result run = capture({"video", "quiet.mp4", "--fps", "10", "--to", "500"});
        ASSERT_EQ(run.exit_code, 0) << run.output;
        int warnings = 0;
        for (const std::string& line : lines_of(run.output))
            warnings += line.find("warning") != std::string::npos &&
                        line.find("music.mp3") != std::string::npos;
        EXPECT_EQ(warnings, 1) << run.output;

        std::map<std::string, std::string> video = probe("quiet.mp4", "v:0");
        std::map<std::string, std::string> audio = probe("quiet.mp4", "a:0");
        EXPECT_EQ(video["nb_frames"], "5");
        EXPECT_NEAR(std::atof(audio["duration"].c_str()), 0.5, 0.1);
        std::vector<int16_t> samples = decode_audio("quiet.mp4");
        ASSERT_FALSE(samples.empty());
        int loudest = 0;
        for (int16_t s : samples)
            loudest = std::max(loudest, std::abs(int(s)));
        EXPECT_LE(loudest, 1);
    }
}

// Frame counts for rates that do not divide a second, and the show's end: the last
// frame is the last one before 142 s.
TEST_F(capture_test, frames_writes_one_file_per_frame_the_demo_presents) {
    const struct {
        std::vector<std::string> args;
        int count;
    } cases[] = {
        {{"--fps", "24", "--to", "1000"}, 24},
        {{"--fps", "30", "--from", "141500"}, 15}, // 141500 + floor(14 * 1000 / 30) = 141966
        {{"--fps", "24", "--from", "141500"}, 12}, // 141500 + floor(11 * 1000 / 24) = 141958
        {{"--fps", "7", "--from", "141990", "--to", "150000"}, 1},
    };
    int run_number = 0;
    for (const auto& c : cases) {
        const std::string out = "frames-" + std::to_string(run_number++);
        SCOPED_TRACE(out);
        std::vector<std::string> args = {"frames", out};
        args.insert(args.end(), c.args.begin(), c.args.end());
        run_result run = capture(args);
        ASSERT_EQ(run.exit_code, 0) << run.output;
        std::set<std::string> expected;
        for (int i = 0; i < c.count; i++) {
            char name[32];
            std::snprintf(name, sizeof name, "frame-%06d.png", i);
            expected.insert(name);
        }
        EXPECT_EQ(names_in(dir / out), expected);
    }
}

// The same frames twice give the same bytes, and the same bytes as a single render of
// that moment in a fresh process.
TEST_F(capture_test, frames_are_byte_identical_across_runs) {
    const std::vector<std::string> span = {"--fps", "30", "--from", "141700"};
    std::vector<std::string> first = {"frames", "first"}, second = {"frames", "second"};
    first.insert(first.end(), span.begin(), span.end());
    second.insert(second.end(), span.begin(), span.end());
    ASSERT_EQ(capture(first).exit_code, 0);
    ASSERT_EQ(capture(second).exit_code, 0);
    std::set<std::string> names = names_in(dir / "first");
    ASSERT_EQ(names.size(), 9u); // 141700 .. 141966 at 30 fps
    EXPECT_EQ(names_in(dir / "second"), names);
    for (const std::string& name : names)
        EXPECT_TRUE(read_file(dir / "first" / name) == read_file(dir / "second" / name)) << name;

    // Frame 5 is the moment 141700 + floor(5000 / 30) = 141866.
    ASSERT_EQ(capture({"frame", "141866", "single.png"}).exit_code, 0);
    EXPECT_TRUE(read_file(dir / "single.png") == read_file(dir / "first" / "frame-000005.png"));
}

// Every failure: one clear line, exit status 1, and nothing under the output's name
// that could pass for a finished file; an earlier file of that name is kept.
TEST_F(capture_test, failures_say_why_and_leave_no_finished_looking_output) {
    fs::create_directories(dir / "ok");
    write_file(dir / "plain-file", "x");
    const std::string nothing_on_path = "PATH=" + (dir / "empty").string();
    fs::create_directories(dir / "empty");
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::vector<std::string> env;
        const char* message;
    } cases[] = {
        {"no output", {"video"}, {}, "missing the output file"},
        {"no directory", {"frames", "--fps", "10"}, {}, "missing the output directory"},
        {"empty name", {"video", "", "--to", "500"}, {}, "name is empty"},
        {"zero fps", {"video", "ok/out.mp4", "--fps", "0"}, {}, "--fps needs a whole number"},
        {"fps not a number", {"video", "ok/out.mp4", "--fps", "6o"}, {}, "not '6o'"},
        {"negative start", {"video", "ok/out.mp4", "--from", "-5"}, {}, "--from needs"},
        {"end before start",
         {"video", "ok/out.mp4", "--from", "900", "--to", "800"},
         {},
         "must be later than --from"},
        {"value missing", {"video", "ok/out.mp4", "--to"}, {}, "--to needs a value"},
        {"unknown option", {"video", "ok/out.mp4", "--fast"}, {}, "unknown option '--fast'"},
        {"two outputs", {"video", "ok/out.mp4", "ok/other.mp4"}, {}, "unexpected argument"},
        {"after the end", {"video", "ok/out.mp4", "--from", "142000"}, {}, "nothing to capture"},
        {"missing directory", {"video", "gone/out.mp4", "--to", "500"}, {}, "cannot write"},
        {"directory is a file", {"video", "plain-file/out.mp4", "--to", "500"}, {}, "cannot write"},
        {"frames under a file",
         {"frames", "plain-file/frames", "--to", "500"},
         {},
         "cannot create"},
        {"output is a directory", {"video", "ok", "--to", "500"}, {}, "is a directory"},
        {"no ffmpeg",
         {"video", "ok/out.mp4", "--to", "500"},
         {nothing_on_path},
         "ffmpeg was not found on PATH"},
        {"encoder fails",
         {"video", "ok/out.mp4", "--fps", "30", "--to", "3000"},
         fake_ffmpeg("head -c 2000000 >/dev/null; echo 'no room for the video' >&2; exit 1"),
         "ffmpeg exited with status 1: no room for the video"},
        {"encoder killed",
         {"video", "ok/out.mp4", "--fps", "30", "--to", "3000"},
         fake_ffmpeg("head -c 2000000 >/dev/null; kill -KILL $$"),
         "ffmpeg was killed by signal 9"},
        {"encoder quits early",
         {"video", "ok/out.mp4", "--fps", "30", "--to", "3000"},
         fake_ffmpeg("head -c 2000000 >/dev/null; exit 0"),
         "stopped reading frames"},
        {"encoder writes nothing",
         {"video", "ok/out.mp4", "--fps", "10", "--to", "300"},
         fake_ffmpeg("cat >/dev/null; exit 0"),
         "without writing the video"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write_file(dir / "ok" / "out.mp4", "an earlier video");
        run_result run = capture(c.args, c.env);
        EXPECT_EQ(run.exit_code, 1) << run.output;
        std::vector<std::string> lines = lines_of(run.output);
        std::string last = lines.empty() ? "" : lines.back();
        // The usage line may follow an argument error; the reason is on the line before.
        if (last.rfind("usage:", 0) == 0 && lines.size() > 1)
            last = lines[lines.size() - 2];
        EXPECT_NE(last.find(c.message), std::string::npos) << run.output;
        EXPECT_EQ(last.rfind("vornhal-capture: ", 0), 0u) << last;
        EXPECT_EQ(names_in(dir / "ok"), std::set<std::string>{"out.mp4"});
        EXPECT_EQ(read_file(dir / "ok" / "out.mp4"), "an earlier video");
        EXPECT_FALSE(fs::exists(dir / "gone"));
    }
}

// Ctrl-C stops the capture and removes what it had written so far.
TEST_F(capture_test, interrupted_capture_leaves_nothing_behind) {
    fs::create_directories(dir / "ok");
    fs::path log = dir / "interrupt.log";
    pid_t pid = start_program(
        {capture_program(), "video", "ok/out.mp4", "--fps", "30", "--to", "60000"}, dir, {}, log);
    // Wait until frames are flowing (or give up after a while and interrupt anyway).
    for (int tries = 0; tries < 100; tries++) {
        if (read_file(log).find("frame 1 of") != std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(pid, SIGINT);
    run_result run = finish_program(pid, log);
    EXPECT_EQ(run.exit_code, 130) << run.output;
    EXPECT_NE(run.output.find("interrupted"), std::string::npos) << run.output;
    EXPECT_TRUE(names_in(dir / "ok").empty());
}

// The render-only pass writes nothing at all.
TEST_F(capture_test, null_capture_renders_and_writes_nothing) {
    run_result run = capture({"video", "--null", "--fps", "10", "--to", "500"});
    ASSERT_EQ(run.exit_code, 0) << run.output;
    EXPECT_NE(run.output.find("rendered 5 frames"), std::string::npos) << run.output;
    EXPECT_EQ(names_in(dir), std::set<std::string>{"data"});
}

} // namespace
