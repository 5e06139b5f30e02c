// `vornhal-capture frame` run as a user runs it, from the source tree with its data/.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <png.h>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& path) {
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
    void TearDown() override { fs::remove_all(dir); }

    // Runs the tool in the source tree after env_prefix; exit status, stdout, stderr.
    int capture(const std::string& args, const std::string& env_prefix = "") {
        const std::string command = "cd '" SOURCE_ROOT "' && " + env_prefix +
                                    " '" CAPTURE_BINARY "' " + args + " >'" + dir.string() +
                                    "/stdout' 2>'" + dir.string() + "/stderr'";
        const int status = std::system(command.c_str());
        out = slurp(dir / "stdout");
        err = slurp(dir / "stderr");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path dir;
    std::string out, err; // of the last run
};

// An 800 x 600 plain RGB file, top row first; empty when it is anything else.
std::vector<unsigned char> read_png(const fs::path& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    std::vector<unsigned char> rgb;
    if (png_image_begin_read_from_file(&image, path.c_str())) {
        if (image.format == PNG_FORMAT_RGB && image.width == 800 && image.height == 600) {
            rgb.resize(PNG_IMAGE_SIZE(image));
            if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr))
                rgb.clear();
        }
        png_image_free(&image);
    }
    return rgb;
}

// Each run overwrites the same file with that moment's picture; a second run at the
// last moment gives the same bytes.
TEST_F(CaptureFrameTest, RendersTheLetterboxedPictureTheSameOnEveryRun) {
    std::string previous;
    for (int ms : {0, 60000, 141999}) {
        SCOPED_TRACE(ms);
        // No display and no driver named: the tool finds its offscreen driver itself.
        ASSERT_EQ(capture("frame " + std::to_string(ms) + " '" + (dir / "f.png").string() + "'",
                          "env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER"),
                  0)
            << err;
        EXPECT_FALSE(slurp(dir / "f.png") == previous);
        previous = slurp(dir / "f.png");
        const std::vector<unsigned char> rgb = read_png(dir / "f.png");
        ASSERT_FALSE(rgb.empty());
        long band_sum = 0, strip_sum = 0, strip_bright = 0;
        for (int y = 0; y < 600; ++y)
            for (int x = 0; x < 800; ++x) {
                const int value = rgb[(y * 800 + x) * 3] + rgb[(y * 800 + x) * 3 + 1] +
                                  rgb[(y * 800 + x) * 3 + 2];
                if (y < 225 || y >= 375) {
                    band_sum += value;
                } else {
                    strip_sum += value;
                    strip_bright += value > 3 * 128;
                }
            }
        EXPECT_EQ(band_sum, 0); // rows 0-224 and 375-599 exactly black
        // A visible picture in the strip: lit on average, with bright parts.
        EXPECT_GT(strip_sum / (800 * 150), 20);
        EXPECT_GT(strip_bright, 500);
    }
    ASSERT_EQ(capture("frame 141999 '" + (dir / "g.png").string() + "'"), 0);
    EXPECT_TRUE(slurp(dir / "g.png") == previous);
}

TEST_F(CaptureFrameTest, BadArgumentsAndUnwritableOutputsFailWithOneLine) {
    fs::create_directory(dir / "a-directory");
    const std::string target = " '" + (dir / "out.png").string() + "'";
    for (const std::string& args : std::vector<std::string>{
             "frame", "frame 100", "frame abc" + target, "frame -5" + target, "frame 1.5" + target,
             "frame 12x" + target, "frame 99999999999" + target, "frame 16777217" + target,
             "frame 100" + target + " extra", "frame 100 ''",
             "frame 100 '" + (dir / "no-such-directory/out.png").string() + "'",
             "frame 100 '" + (dir / "a-directory").string() + "'", "nonsense"}) {
        SCOPED_TRACE(args);
        EXPECT_EQ(capture(args), 1);
        EXPECT_TRUE(out.empty());
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(err.rfind("vornhal-capture: ", 0), 0u) << err;
    }
    EXPECT_EQ(capture(""), 1) << "the bare command prints its usage";
    // Nothing was left behind: no output, no half-written temporary file.
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_TRUE(entry.path().filename().string().rfind("std", 0) == 0 ||
                    entry.path().filename() == "a-directory")
            << entry.path();
    EXPECT_TRUE(fs::is_directory(dir / "a-directory"));
}

TEST_F(CaptureFrameTest, HelpExplainsTheCommands) {
    EXPECT_EQ(capture("--help"), 0);
    EXPECT_NE(out.find("frame MS OUT.png"), std::string::npos);
    EXPECT_NE(out.find("video"), std::string::npos);
    EXPECT_EQ(capture("frame --help"), 0);
    EXPECT_NE(out.find("milliseconds"), std::string::npos);
    EXPECT_TRUE(err.empty());
}

} // namespace
