// The committed images: what the scene needs of them, and that they are what the
// generator paints today.
#include "pngload/png_decode.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace {

png_pixels load_image(const std::string& path) {
    constexpr double display_gamma = 2.2;
    constexpr uint32_t generous_side = 65536;
    png_pixels image = {};
    const char* reason = nullptr;
    EXPECT_TRUE(decode_png_file(path.c_str(), display_gamma, generous_side, &image, &reason))
        << path << ": " << reason;
    return image;
}

png_pixels load_data(const std::string& name) {
    return load_image(std::string(VORNHAL_DATA_DIR) + "/" + name);
}

// Mean absolute difference between two columns.
double column_difference(const png_pixels& image, uint32_t a, uint32_t b) {
    double sum = 0;
    for (size_t row = 0; row < size_t(image.height) * image.width; row += image.width) {
        for (uint32_t c = 0; c < 3; ++c) {
            sum += std::abs(int(image.bytes[(row + a) * image.components + c]) -
                            int(image.bytes[(row + b) * image.components + c]));
        }
    }
    return sum / (image.height * 3.0);
}

// The mean light of the rows whose centres lie in [first, last) as fractions of the
// height, and of the other rows: each pixel's alpha where the image has one, else its
// brightest colour channel, 0-1.
std::pair<double, double> strip_light(const png_pixels& image, double first, double last) {
    double sum[2] = {}, count[2] = {};
    for (uint32_t y = 0; y < image.height; ++y) {
        const double t = (y + 0.5) / image.height;
        const int outside = t < first || t >= last;
        for (uint32_t x = 0; x < image.width; ++x, ++count[outside]) {
            const uint8_t* p = &image.bytes[(size_t(y) * image.width + x) * image.components];
            sum[outside] += (image.components == 4 ? p[3] : std::max({p[0], p[1], p[2]})) / 255.0;
        }
    }
    return {sum[0] / count[0], sum[1] / count[1]};
}

// Only rows 0.41-0.59 of the background and 0.36-0.64 of the overlays are ever seen.
TEST(Images, EightBitPowerOfTwoImagesWithTheirDetailInTheVisibleStrip) {
    const struct {
        const char* name;
        uint32_t components;
        bool tiles;
        double first, last;
    } images[] = {{"bg.png", 3, true, 0.41, 0.59},
                  {"fg.png", 4, false, 0.36, 0.64},
                  {"trelm.png", 3, true, 0.36, 0.64}};
    for (const auto& i : images) {
        SCOPED_TRACE(i.name);
        const png_pixels image = load_data(i.name);
        EXPECT_EQ(image.file_depth, 8u);
        EXPECT_EQ(image.components, i.components);
        EXPECT_EQ(image.width & (image.width - 1), 0u);
        EXPECT_EQ(image.height & (image.height - 1), 0u);
        // Dim enough that the glow, which whitens every level from one half up, leaves
        // a picture; at least twice as much light in the strip as outside it.
        const auto [inside, outside] = strip_light(image, i.first, i.last);
        EXPECT_LT(inside, 0.4);
        EXPECT_GT(inside, 2 * outside);
        if (i.tiles) {
            // The step from the last column back to the first is no rougher than the
            // steps between neighbouring columns elsewhere.
            double interior = 0;
            for (uint32_t x = 0; x + 1 < image.width; ++x)
                interior += column_difference(image, x, x + 1) / (image.width - 1);
            EXPECT_LE(column_difference(image, image.width - 1, 0), 2 * interior + 1);
        }
    }
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
        const png_pixels committed = load_data(name);
        EXPECT_EQ(fresh.width, committed.width);
        EXPECT_EQ(fresh.height, committed.height);
        EXPECT_TRUE(fresh.bytes == committed.bytes) << "stale: run make images";
    }
    std::filesystem::remove_all(dir);
}

} // namespace
