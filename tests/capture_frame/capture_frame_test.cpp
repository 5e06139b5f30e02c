// `vornhal-capture frame` run as a user runs it, from the source tree with its data/.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <png.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct run_result {
    int status = -1;
    std::string out, err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CaptureFrameTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/vornhal-capture-test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    // Runs the tool in the source tree. env_prefix adjusts the child's environment.
    run_result capture(const std::string& args, const std::string& env_prefix = "") {
        const std::string command = "cd '" SOURCE_ROOT "' && " + env_prefix +
                                    " '" CAPTURE_BINARY "' " + args + " >'" + dir + "/stdout' 2>'" +
                                    dir + "/stderr'";
        run_result result;
        const int status = std::system(command.c_str());
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = slurp(dir + "/stdout");
        result.err = slurp(dir + "/stderr");
        return result;
    }

    std::string dir;
};

struct rgb_picture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
};

bool read_png(const std::string& path, rgb_picture& picture) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    if (image.format != PNG_FORMAT_RGB) { // the file itself must be plain RGB
        png_image_free(&image);
        return false;
    }
    picture.width = image.width;
    picture.height = image.height;
    picture.rgb.resize(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr);
}

TEST_F(CaptureFrameTest, RendersTheLetterboxedPictureWithoutADisplay) {
    for (int ms : {0, 60000, 141999}) {
        SCOPED_TRACE(ms);
        const std::string out = dir + "/frame.png";
        // No display and no driver named: the tool finds its offscreen driver itself.
        const run_result run = capture("frame " + std::to_string(ms) + " '" + out + "'",
                                       "env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER");
        ASSERT_EQ(run.status, 0) << run.err;
        rgb_picture picture;
        ASSERT_TRUE(read_png(out, picture));
        ASSERT_EQ(picture.width, 800);
        ASSERT_EQ(picture.height, 600);
        long band_sum = 0, strip_sum = 0;
        int strip_dark = 0, strip_bright = 0;
        for (int y = 0; y < 600; ++y)
            for (int x = 0; x < 800; ++x) {
                const unsigned char* p = &picture.rgb[(y * 800 + x) * 3];
                const int value = p[0] + p[1] + p[2];
                if (y < 225 || y >= 375) {
                    band_sum += value;
                } else {
                    strip_sum += value;
                    strip_dark += value < 3 * 64;
                    strip_bright += value > 3 * 128;
                }
            }
        EXPECT_EQ(band_sum, 0); // rows 0-224 and 375-599 exactly black
        // A visible picture: lit on average, with both dark and bright parts.
        EXPECT_GT(strip_sum / (800 * 150), 20);
        EXPECT_GT(strip_dark + strip_bright, 0);
        EXPECT_GT(strip_bright, 500);
    }
}

TEST_F(CaptureFrameTest, WritesTheSameBytesOnEveryRun) {
    const std::string first = dir + "/first.png", second = dir + "/second.png";
    ASSERT_EQ(capture("frame 77777 '" + first + "'").status, 0);
    ASSERT_EQ(capture("frame 77777 '" + second + "'").status, 0);
    const std::string a = slurp(first), b = slurp(second);
    EXPECT_GT(a.size(), 1000u);
    EXPECT_TRUE(a == b);
    ASSERT_EQ(capture("frame 77000 '" + second + "'").status, 0); // and overwrites
    EXPECT_FALSE(slurp(second) == a);
}

TEST_F(CaptureFrameTest, BadArgumentsAndUnwritableOutputsFailWithOneLine) {
    mkdir((dir + "/a-directory").c_str(), 0755);
    const std::string out = "'" + dir + "/out.png'";
    const std::string cases[] = {
        "",
        "frame",
        "frame 100",
        "frame abc " + out,
        "frame -5 " + out,
        "frame 1.5 " + out,
        "frame 12x " + out,
        "frame 99999999999 " + out,
        "frame 16777217 " + out,
        "frame 100 " + out + " extra",
        "frame 100 ''",
        "frame 100 '" + dir + "/no-such-directory/out.png'",
        "frame 100 '" + dir + "/a-directory'",
        "nonsense",
    };
    for (const std::string& args : cases) {
        SCOPED_TRACE(args);
        const run_result run = capture(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.out.empty());
        if (!args.empty()) { // the bare command prints its usage instead
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
            EXPECT_EQ(run.err.rfind("vornhal-capture: ", 0), 0u) << run.err;
        }
    }
    // Nothing was left behind: no output, no half-written temporary file.
    struct stat info;
    EXPECT_NE(stat((dir + "/out.png").c_str(), &info), 0);
    EXPECT_EQ(
        std::system(
            ("test -z \"$(ls '" + dir + "' | grep -v -e '^std' -e '^a-directory$')\"").c_str()),
        0);
    EXPECT_EQ(stat((dir + "/a-directory").c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
}

TEST_F(CaptureFrameTest, HelpExplainsTheCommands) {
    const run_result top = capture("--help");
    EXPECT_EQ(top.status, 0);
    EXPECT_NE(top.out.find("frame MS OUT.png"), std::string::npos);
    EXPECT_NE(top.out.find("video"), std::string::npos);
    const run_result frame = capture("frame --help");
    EXPECT_EQ(frame.status, 0);
    EXPECT_NE(frame.out.find("milliseconds"), std::string::npos);
    EXPECT_TRUE(frame.err.empty());
}

} // namespace
