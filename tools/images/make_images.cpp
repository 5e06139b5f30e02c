// vornhal-make-images DIR: paints the demo's three images and writes them as
// DIR/bg.png, DIR/fg.png and DIR/trelm.png (8-bit, not interlaced). Everything is
// computed from fixed seeds, so the same program always writes the same bytes.
//
// Only a horizontal strip of each image is ever seen (the letterbox covers the rest):
// rows 0.41-0.59 of the background's height and 0.36-0.64 of the overlays', so that is
// where the detail goes. The glow turns anything brighter than half into white bloom:
// the background stays dark to mid, with a few bright accents.
#include "output_file.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct colour {
    float r, g, b;
};

colour operator+(colour a, colour b) {
    return {a.r + b.r, a.g + b.g, a.b + b.b};
}
colour operator*(colour a, float k) {
    return {a.r * k, a.g * k, a.b * k};
}
colour mix(colour a, colour b, float t) {
    return a * (1 - t) + b * t;
}

float clamp01(float v) {
    return std::min(1.0f, std::max(0.0f, v));
}
float smoothstep(float edge0, float edge1, float v) {
    const float t = clamp01((v - edge0) / (edge1 - edge0));
    return t * t * (3 - 2 * t);
}
uint8_t to_byte(float v) {
    return uint8_t(std::lround(clamp01(v) * 255.0f));
}

// An RGB or RGBA picture being painted, rows top first.
struct picture {
    int width;
    int height;
    int components;
    std::vector<uint8_t> bytes;
};

picture make_picture(int width, int height, int components) {
    return {width, height, components, std::vector<uint8_t>(size_t(width) * height * components)};
}

void put_pixel(picture* p, int x, int y, colour c, float alpha = 1) {
    uint8_t* px = &p->bytes[(size_t(y) * p->width + x) * p->components];
    px[0] = to_byte(c.r);
    px[1] = to_byte(c.g);
    px[2] = to_byte(c.b);
    if (p->components == 4) {
        px[3] = to_byte(alpha);
    }
}

// Integer hash to [0, 1): the only source of randomness.
float hash01(int x, int y, int seed) {
    uint32_t h = uint32_t(x) * 374761393u + uint32_t(y) * 668265263u + uint32_t(seed) * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return float(h & 0xffffff) / float(0x1000000);
}

// Value noise on a lattice that repeats every `period` cells sideways, so whatever is
// built from it tiles seamlessly left to right.
float tiled_noise(float x, float y, int period, int seed) {
    const float fx = std::floor(x), fy = std::floor(y);
    const int ix = int(fx), iy = int(fy);
    const float tx = x - fx, ty = y - fy;
    const float sx = tx * tx * (3 - 2 * tx), sy = ty * ty * (3 - 2 * ty);
    auto at = [&](int cx, int cy) { return hash01(((cx % period) + period) % period, cy, seed); };
    const float top = at(ix, iy) + (at(ix + 1, iy) - at(ix, iy)) * sx;
    const float bottom = at(ix, iy + 1) + (at(ix + 1, iy + 1) - at(ix, iy + 1)) * sx;
    return top + (bottom - top) * sy;
}

// Fractal sum over u in [0, 1) (tiles sideways) and v, starting at `cells` across.
float tiled_fbm(float u, float v, int cells, int octaves, int seed) {
    float sum = 0, weight = 0.5f, total = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += weight * tiled_noise(u * cells, v * cells, cells, seed + o);
        total += weight;
        weight *= 0.5f;
        cells *= 2;
    }
    return sum / total;
}

// Sideways distance on a circle of circumference 1.
float wrapped_distance(float a, float b) {
    const float d = std::fabs(a - b);
    return std::min(d, 1 - d);
}

// The background: dusk over two ranges of hills, a valley of scattered lights and a
// low moon. Its first file row lies along the bottom of its quad, so row r is painted
// at height r / height above the bottom edge.
picture paint_background() {
    constexpr int size_px = 512;
    constexpr int seed = 11;
    constexpr float far_ridge_height = 0.505f, near_ridge_height = 0.47f;
    constexpr float moon_u = 0.62f, moon_h = 0.555f, moon_radius = 0.012f;
    const colour zenith = {0.03f, 0.02f, 0.10f};
    const colour dusk = {0.22f, 0.09f, 0.22f};
    const colour horizon_glow = {0.25f, 0.11f, 0.10f};
    const colour far_hills = {0.08f, 0.06f, 0.16f};
    const colour near_hills = {0.025f, 0.02f, 0.05f};
    const colour moon = {1.0f, 0.93f, 0.80f};

    picture p = make_picture(size_px, size_px, 3);
    for (int r = 0; r < size_px; ++r) {
        const float h = (r + 0.5f) / size_px;
        for (int x = 0; x < size_px; ++x) {
            const float u = (x + 0.5f) / size_px;
            // Sky: dark overhead, warm towards the hills, with thin drifting cloud.
            const float sky_t = smoothstep(0.75f, far_ridge_height, h);
            colour c = mix(zenith, dusk, sky_t);
            c = c + horizon_glow * std::pow(smoothstep(0.60f, far_ridge_height - 0.01f, h), 3.0f);
            const float cloud = tiled_fbm(u, h * 6, 4, 5, seed);
            const float streak = smoothstep(0.55f, 0.75f, cloud) * smoothstep(0.66f, 0.54f, h) *
                                 smoothstep(0.50f, 0.53f, h);
            c = mix(c, colour{0.30f, 0.16f, 0.26f}, streak * 0.6f);

            // Stars above the haze: sparse, a few of them bright.
            const float star = hash01(x, r, seed + 1);
            if (h > 0.53f && star > 0.9965f) {
                const float brightness = 0.25f + 0.6f * hash01(x, r, seed + 2);
                c = c +
                    colour{brightness, brightness, brightness * 1.1f} * smoothstep(0.53f, 0.56f, h);
            }

            // The moon, low over the far hills, with a faint halo.
            const float du = wrapped_distance(u, moon_u), dh = h - moon_h;
            const float moon_distance = std::sqrt(du * du + dh * dh);
            c = c + colour{0.20f, 0.15f, 0.12f} * std::exp(-moon_distance * 40.0f);
            if (moon_distance < moon_radius) {
                const float crater = tiled_fbm(u * 3, h * 3, 16, 2, seed + 3);
                c = mix(c, moon * (0.85f + 0.2f * crater),
                        smoothstep(moon_radius, moon_radius * 0.85f, moon_distance));
            }

            // Far hills, hazed and lit from behind along their crest.
            const float far_edge =
                far_ridge_height + 0.035f * (tiled_fbm(u, 0.0f, 3, 5, seed + 4) - 0.5f) * 2;
            if (h < far_edge) {
                const float depth = far_edge - h;
                c = mix(far_hills, c, 0.25f) + horizon_glow * (0.35f * std::exp(-depth * 250.0f));
            }

            // Near hills, almost black, and the valley lights on their slopes.
            const float near_edge =
                near_ridge_height + 0.05f * (tiled_fbm(u, 0.5f, 2, 6, seed + 5) - 0.5f) * 2;
            if (h < near_edge) {
                c = near_hills + colour{0.03f, 0.02f, 0.06f} * tiled_fbm(u, h * 8, 8, 3, seed + 6);
                const float town = smoothstep(0.55f, 0.7f, tiled_fbm(u, h * 3, 6, 3, seed + 7));
                const float lamp = hash01(x, r, seed + 8);
                if (near_edge - h > 0.004f && lamp > 1.0f - 0.05f * town) {
                    const float warmth = hash01(x, r, seed + 9);
                    c = mix(colour{0.95f, 0.55f, 0.18f}, colour{0.9f, 0.85f, 0.6f}, warmth) *
                        (0.45f + 0.5f * hash01(x, r, seed + 10));
                }
            }
            put_pixel(&p, x, r, c);
        }
    }
    return p;
}

// The foreground overlay: a ring sight of thin cyan circles and tick marks with a
// horizontal flare through it, soft-edged by its alpha. It is added to the picture,
// so colour and alpha both scale what it adds.
picture paint_foreground() {
    constexpr int width_px = 512, height_px = 256;
    constexpr int seed = 23;
    const colour cyan = {0.35f, 0.95f, 1.0f};
    const colour violet = {0.75f, 0.45f, 1.0f};
    const float centre_x = width_px * 0.5f, centre_y = height_px * 0.5f;

    picture p = make_picture(width_px, height_px, 4);
    for (int y = 0; y < height_px; ++y) {
        for (int x = 0; x < width_px; ++x) {
            const float dx = x + 0.5f - centre_x, dy = y + 0.5f - centre_y;
            const float radius = std::sqrt(dx * dx + dy * dy);
            const float angle = std::atan2(dy, dx);
            float glow = 0;
            colour tint = cyan;

            // Thin rings, the middle one broken into dashes.
            const float rings[] = {14.0f, 24.0f, 33.0f};
            for (int i = 0; i < 3; ++i) {
                const float line = std::exp(-std::pow((radius - rings[i]) / 0.9f, 2.0f));
                const float dashes = i == 1 ? (std::sin(angle * 24) > -0.2f ? 1.0f : 0.0f) : 1.0f;
                glow += line * dashes * (i == 2 ? 0.7f : 1.0f);
            }
            // Tick marks around the outer ring every 15 degrees.
            const float tick_phase = std::fabs(std::remainder(angle, float(M_PI) / 12));
            if (radius > 35 && radius < 41 && tick_phase * radius < 0.8f) {
                glow += 0.8f;
            }
            // Horizontal flare through the centre, fading sideways.
            const float flare = std::exp(-std::pow(dy / 1.4f, 2.0f)) *
                                std::exp(-std::fabs(dx) / (width_px * 0.22f));
            glow += flare * 1.2f;
            // A violet haze behind it, shaped by noise, only inside the visible strip.
            const float haze = tiled_fbm(x / float(width_px), y / float(height_px) * 2, 5, 4, seed);
            const float strip = std::exp(-std::pow(dy / 30.0f, 2.0f));
            const float haze_amount = smoothstep(0.45f, 0.8f, haze) * strip * 0.45f;
            if (haze_amount > glow) {
                tint = mix(cyan, violet, 0.8f);
            }
            glow += haze_amount;
            // A bright core.
            glow += std::exp(-radius / 3.0f);

            const float alpha = clamp01(glow);
            put_pixel(
                &p, x, y,
                mix(tint, colour{1, 1, 1}, clamp01(glow - 1) * 0.5f + (radius < 4 ? 0.5f : 0.0f)),
                alpha);
        }
    }
    return p;
}

// The scrolling overlay: fine horizontal streaks that rush sideways (the image moves
// a whole width every 200 ms). Each streak has a bright head and a fading tail, and
// wraps around the right edge so the image tiles.
picture paint_streaks() {
    constexpr int width_px = 512, height_px = 256;
    constexpr int seed = 37;
    constexpr int streaks_per_row = 3;
    std::vector<colour> light(size_t(width_px) * height_px, colour{0, 0, 0});
    for (int y = 0; y < height_px; ++y) {
        // Streaks gather towards the middle rows, where they can be seen.
        const float centre = std::fabs((y + 0.5f) / height_px - 0.5f);
        const float density = 0.15f + 0.85f * std::exp(-std::pow(centre / 0.16f, 2.0f));
        for (int s = 0; s < streaks_per_row; ++s) {
            if (hash01(y, s, seed) > density) {
                continue;
            }
            const int head = int(hash01(y, s, seed + 1) * width_px);
            const int length = 20 + int(hash01(y, s, seed + 2) * 180);
            const float brightness = 0.35f + 0.65f * hash01(y, s, seed + 3);
            const float hue = hash01(y, s, seed + 4);
            const colour tint = hue < 0.6f    ? colour{0.55f, 0.85f, 1.0f}
                                : hue < 0.85f ? colour{1.0f, 1.0f, 1.0f}
                                              : colour{0.95f, 0.55f, 1.0f};
            for (int i = 0; i < length; ++i) {
                const int x = ((head - i) % width_px + width_px) % width_px;
                const float fade = std::pow(1.0f - float(i) / length, 2.0f);
                light[size_t(y) * width_px + x] =
                    light[size_t(y) * width_px + x] + tint * (brightness * fade);
            }
        }
    }
    picture p = make_picture(width_px, height_px, 3);
    for (int y = 0; y < height_px; ++y) {
        for (int x = 0; x < width_px; ++x) {
            put_pixel(&p, x, y, light[size_t(y) * width_px + x]);
        }
    }
    return p;
}

bool write_picture(const std::string& path, const picture& p) {
    constexpr int smallest = 9; // the committed files are as small as zlib makes them
    return write_png("vornhal-make-images", path, p.bytes.data(), p.width, p.height, p.components,
                     smallest);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const bool written = write_picture(dir + "/bg.png", paint_background()) &&
                         write_picture(dir + "/fg.png", paint_foreground()) &&
                         write_picture(dir + "/trelm.png", paint_streaks());
    return written ? 0 : 1;
}
