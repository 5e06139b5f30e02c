// The committed images: what the scene needs of them, and that they are what the
// generator paints today.
#include "pngload/png_decode.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace {

constexpr double display_gamma = 2.2;
constexpr uint32_t generous_side = 65536;

png_pixels load_image(const std::string& path) {
    png_pixels image = {};
    const char* reason = nullptr;
    EXPECT_TRUE(decode_png_file(path.c_str(), display_gamma, generous_side, &image, &reason))
        << path << ": " << reason;
    return image;
}

// Mean absolute difference between two columns, over the rows [first, last).
double column_difference(const png_pixels& image, uint32_t a, uint32_t b, uint32_t first,
                         uint32_t last) {
    double sum = 0;
    for (uint32_t y = first; y < last; ++y) {
        for (uint32_t c = 0; c < 3; ++c) {
            const size_t row = size_t(y) * image.width;
            sum += std::abs(int(image.bytes[(row + a) * image.components + c]) -
                            int(image.bytes[(row + b) * image.components + c]));
        }
    }
    return sum / ((last - first) * 3.0);
}

// Tiling sideways: the step from the last column back to the first is no rougher than
// the steps between neighbouring columns elsewhere.
void expect_tiles_sideways(const png_pixels& image) {
    double interior = 0;
    for (uint32_t x = 0; x + 1 < image.width; ++x) {
        interior += column_difference(image, x, x + 1, 0, image.height);
    }
    interior /= image.width - 1;
    EXPECT_LE(column_difference(image, image.width - 1, 0, 0, image.height), 2 * interior + 1);
}

struct strip_light {
    double mean;         // of the brightest channel, 0-1
    double bright_share; // of pixels with a channel at half or more
};

strip_light measure_strip(const png_pixels& image, double first_row, double last_row) {
    strip_light light = {0, 0};
    const uint32_t first = uint32_t(first_row * image.height);
    const uint32_t last = uint32_t(last_row * image.height);
    for (uint32_t y = first; y < last; ++y) {
        for (uint32_t x = 0; x < image.width; ++x) {
            const uint8_t* p = &image.bytes[(size_t(y) * image.width + x) * image.components];
            const int brightest = std::max({p[0], p[1], p[2]});
            light.mean += brightest / 255.0;
            light.bright_share += brightest >= 128 ? 1 : 0;
        }
    }
    const double count = double(last - first) * image.width;
    light.mean /= count;
    light.bright_share /= count;
    return light;
}

TEST(Images, EachIsAnEightBitPowerOfTwoImageOfModestSize) {
    const struct {
        const char* name;
        uint32_t components;
    } images[] = {{"bg.png", 3}, {"fg.png", 4}, {"trelm.png", 3}};
    for (const auto& i : images) {
        SCOPED_TRACE(i.name);
        const std::string path = std::string(VORNHAL_DATA_DIR) + "/" + i.name;
        const png_pixels image = load_image(path);
        EXPECT_EQ(image.file_depth, 8u);
        EXPECT_EQ(image.components, i.components);
        EXPECT_EQ(image.width & (image.width - 1), 0u);
        EXPECT_EQ(image.height & (image.height - 1), 0u);
        EXPECT_LT(std::filesystem::file_size(path), 1u << 20);
        std::ifstream file(path, std::ios::binary);
        char header[29] = {};
        file.read(header, sizeof header);
        EXPECT_EQ(header[28], 0) << "interlaced";
    }
}

TEST(Images, BackgroundAndStreaksTileSideways) {
    expect_tiles_sideways(load_image(std::string(VORNHAL_DATA_DIR) + "/bg.png"));
    expect_tiles_sideways(load_image(std::string(VORNHAL_DATA_DIR) + "/trelm.png"));
}

// Only rows 0.41-0.59 of the background and 0.36-0.64 of the overlays are ever seen.
TEST(Images, DetailSitsInTheVisibleStripAndTheBackgroundStaysDark) {
    const png_pixels bg = load_image(std::string(VORNHAL_DATA_DIR) + "/bg.png");
    const strip_light bg_strip = measure_strip(bg, 0.41, 0.59);
    EXPECT_LT(bg_strip.mean, 0.4);
    EXPECT_GT(bg_strip.mean, 0.05);
    EXPECT_GT(bg_strip.bright_share, 0.0) << "a few bright accents";
    EXPECT_LT(bg_strip.bright_share, 0.05);

    const png_pixels streaks = load_image(std::string(VORNHAL_DATA_DIR) + "/trelm.png");
    EXPECT_GT(measure_strip(streaks, 0.36, 0.64).mean, 2 * measure_strip(streaks, 0.0, 0.3).mean);

    const png_pixels fg = load_image(std::string(VORNHAL_DATA_DIR) + "/fg.png");
    double inside = 0, outside = 0;
    for (uint32_t y = 0; y < fg.height; ++y) {
        const double t = (y + 0.5) / fg.height;
        for (uint32_t x = 0; x < fg.width; ++x) {
            const double alpha = fg.bytes[(size_t(y) * fg.width + x) * 4 + 3];
            (t > 0.36 && t < 0.64 ? inside : outside) += alpha;
        }
    }
    EXPECT_GT(inside, 4 * outside);
}

TEST(Images, CommittedFilesAreWhatTheGeneratorPaints) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("vornhal-images-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string command = std::string(VORNHAL_MAKE_IMAGES) + " " + dir.string();
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    for (const char* name : {"bg.png", "fg.png", "trelm.png"}) {
        SCOPED_TRACE(name);
        const png_pixels fresh = load_image((dir / name).string());
        const png_pixels committed = load_image(std::string(VORNHAL_DATA_DIR) + "/" + name);
        EXPECT_EQ(fresh.width, committed.width);
        EXPECT_EQ(fresh.height, committed.height);
        EXPECT_TRUE(fresh.bytes == committed.bytes)
            << "data/" << name << " is stale: run make images";
    }
    std::filesystem::remove_all(dir);
}

} // namespace
