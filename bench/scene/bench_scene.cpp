// What one frame of the scene costs: the whole frame through the program's own frame
// function and present step, onto an 800 x 600 and a 1920 x 1080 drawable, and the glow
// alone. glFinish sits inside each timed iteration so the GL work is counted, not just
// its submission. At the end the two drawables are timed alternately, round by round,
// so that a noisy machine weighs on both alike, and the present step's share printed.
// Run from the repository root to draw the real images from data/.
#include "platform/host.h"
#include "scene/scene.h"
#include "sound/soundtrack.h"

#include <SDL.h>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <vector>

namespace {

struct drawable {
    int width_px, height_px;
    SDL_Window* window; // hidden, of that size; the one context is made current on it
};
struct bench_state {
    drawable small = {screen_width, screen_height, nullptr};
    drawable large = {1920, 1080, nullptr};
    SDL_GLContext context = nullptr;
};
bench_state bench;

bool open_bench_context() {
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "vornhal-bench-scene: %s\n", SDL_GetError());
        return false;
    }
    set_gl_surface_attributes();
    for (drawable* d : {&bench.small, &bench.large})
        d->window = SDL_CreateWindow("vornhal-bench-scene", 0, 0, d->width_px, d->height_px,
                                     SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (bench.small.window && bench.large.window)
        bench.context = SDL_GL_CreateContext(bench.small.window);
    if (!bench.context) {
        std::fprintf(stderr, "vornhal-bench-scene: %s\n", SDL_GetError());
        return false;
    }
    hold_demo_clock(0);
    set_perspective_view(screen_width, screen_height);
    setup_scene();
    std::printf("GL renderer: %s, render size %d x %d\n", glGetString(GL_RENDERER), screen_width,
                screen_height);
    return true;
}

// Steps through the show in 25 fps frames so every layer moves as it does live.
int next_frame_ms(int& ms) {
    constexpr int frame_step_ms = 40;
    ms = (ms + frame_step_ms) % show_length_ms;
    return ms;
}

// One frame as the window shows it: drawn, presented onto the drawable, finished.
void present_one_frame(const drawable& onto, int& ms) {
    hold_demo_clock(next_frame_ms(ms));
    aim_frame(onto.width_px, onto.height_px);
    draw_frame();
    present_frame(onto.width_px, onto.height_px);
    glFinish();
}

void whole_frame(benchmark::State& state, const drawable* onto) {
    SDL_GL_MakeCurrent(onto->window, bench.context);
    int ms = 0;
    for (auto _ : state)
        present_one_frame(*onto, ms);
}
BENCHMARK_CAPTURE(whole_frame, onto_800x600, &bench.small)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(whole_frame, onto_1920x1080, &bench.large)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void glow_alone(benchmark::State& state) {
    SDL_GL_MakeCurrent(bench.small.window, bench.context);
    hold_demo_clock(60000);
    draw_frame();
    glFinish();
    for (auto _ : state) {
        apply_glow(3.0f, 1.0f, 5.0f, 1.0f);
        glFinish();
    }
}
BENCHMARK(glow_alone)->Unit(benchmark::kMillisecond)->UseRealTime();

// Median milliseconds a frame over rounds of frames, the two drawables taking turns.
void compare_drawables() {
    constexpr int rounds = 15;
    constexpr int frames_per_round = 20;
    std::vector<double> small_ms, large_ms;
    int ms = 0;
    for (int round = 0; round < rounds; ++round)
        for (const drawable* d : {&bench.small, &bench.large}) {
            SDL_GL_MakeCurrent(d->window, bench.context);
            const int64_t start_ns = monotonic_ns();
            for (int i = 0; i < frames_per_round; ++i)
                present_one_frame(*d, ms);
            const double frame_ms = (monotonic_ns() - start_ns) / 1e6 / frames_per_round;
            (d == &bench.small ? small_ms : large_ms).push_back(frame_ms);
        }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const double small = median(small_ms), large = median(large_ms);
    std::printf("frame onto 800x600: %.2f ms, onto 1920x1080: %.2f ms (median of %d alternated "
                "rounds of %d): the larger drawable adds %+.1f %%\n",
                small, large, rounds, frames_per_round, 100.0 * (large / small - 1.0));
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!open_bench_context())
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    compare_drawables();
    benchmark::Shutdown();
    SDL_GL_DeleteContext(bench.context);
    for (drawable* d : {&bench.small, &bench.large})
        SDL_DestroyWindow(d->window);
    SDL_Quit();
    return 0;
}
