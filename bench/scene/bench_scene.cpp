// What one frame of the scene costs: the whole frame through the program's own frame
// function and present step, onto an 800 x 600, a 1920 x 1080 and a 3840 x 2160
// drawable, and the glow alone. glFinish sits inside each timed iteration so the GL work
// is counted, not just its submission. At the end the drawables are timed alternately,
// round by round, so that a noisy machine weighs on all alike, and what the larger ones
// add printed. Frames are never paced to a display here.
// Run from the repository root to draw the real images from data/.
#include "host/clock.h"
#include "platform/gl_surface.h"
#include "scene/scene_internal.h"
#include "sound/soundtrack.h"

#include <SDL.h>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <iterator>
#include <vector>

namespace {

struct drawable {
    int width_px, height_px;
    SDL_Window* window; // hidden, of that size; the one context is made current on it
};
struct bench_state {
    drawable sizes[3] = {
        {screen_width, screen_height, nullptr}, {1920, 1080, nullptr}, {3840, 2160, nullptr}};
    SDL_GLContext context = nullptr;
};
bench_state bench;

// The one context on the 800 x 600 window, and windows of the larger sizes to make it
// current on.
bool open_bench_context() {
    if (!open_offscreen_gl("vornhal-bench-scene", screen_width, screen_height))
        return false;
    bench.context = SDL_GL_GetCurrentContext();
    bench.sizes[0].window = SDL_GL_GetCurrentWindow();
    for (drawable& d : bench.sizes)
        if (!d.window &&
            !(d.window = SDL_CreateWindow("vornhal-bench-scene", 0, 0, d.width_px, d.height_px,
                                          SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN))) {
            std::fprintf(stderr, "vornhal-bench-scene: %s\n", SDL_GetError());
            return false;
        }
    hold_demo_clock(0);
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
BENCHMARK_CAPTURE(whole_frame, onto_800x600, &bench.sizes[0])
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(whole_frame, onto_1920x1080, &bench.sizes[1])
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(whole_frame, onto_3840x2160, &bench.sizes[2])
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void glow_alone(benchmark::State& state) {
    SDL_GL_MakeCurrent(bench.sizes[0].window, bench.context);
    hold_demo_clock(60000);
    draw_frame();
    glFinish();
    for (auto _ : state) {
        apply_glow(3.0f, 1.0f, 5.0f, 1.0f);
        glFinish();
    }
}
BENCHMARK(glow_alone)->Unit(benchmark::kMillisecond)->UseRealTime();

// The GL work alone: the frame drawn straight into an 800 x 600 window and nothing
// presented, either as the show draws it (only the rows that can reach the letterbox's
// strip) or over the whole frame, as the prescribed steps were drawn before.
void bare_frame(int& ms, row_band visible) {
    hold_demo_clock(next_frame_ms(ms));
    draw_frame_rows(visible);
    glFinish();
}

// Milliseconds a frame over rounds of frames, the whole-frame reference, the bare frame
// and the drawables taking turns.
void compare_drawables() {
    constexpr int rounds = 25;
    constexpr int frames_per_round = 10;
    const size_t drawables = std::size(bench.sizes);
    std::vector<double> frame_ms[std::size(bench.sizes)], bare_ms, whole_ms;
    int ms = 0;
    for (int round = 0; round < rounds; ++round)
        for (size_t i = 0; i < drawables + 2; ++i) {
            const bool bare = i >= drawables, whole = i == drawables + 1;
            const drawable& onto = bench.sizes[bare ? 0 : i];
            SDL_GL_MakeCurrent(onto.window, bench.context);
            if (bare)
                aim_frame(onto.width_px, onto.height_px);
            const int64_t start_ns = monotonic_ns();
            for (int f = 0; f < frames_per_round; ++f)
                if (bare)
                    bare_frame(ms, whole ? whole_frame_rows : letterbox_lit_rows());
                else
                    present_one_frame(onto, ms);
            (whole  ? whole_ms
             : bare ? bare_ms
                    : frame_ms[i])
                .push_back((monotonic_ns() - start_ns) / 1e6 / frames_per_round);
        }
    // The best round of each shows the work itself, least disturbed by the machine.
    auto best = [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); };
    const double base = best(frame_ms[0]), bare = best(bare_ms), whole = best(whole_ms);
    std::printf("whole-frame GL work: %.2f ms; bare GL work: %.2f ms (%.3f x the whole frame, "
                "%.0f frames a second)\n",
                whole, bare, bare / whole, 1000.0 / bare);
    std::printf("frame onto 800x600: %.2f ms (%.3f x the bare work)", base, base / bare);
    for (size_t i = 1; i < drawables; ++i) {
        const double cost = best(frame_ms[i]);
        std::printf(", onto %dx%d: %.2f ms (%+.1f %%)", bench.sizes[i].width_px,
                    bench.sizes[i].height_px, cost, 100.0 * (cost / base - 1.0));
    }
    std::printf(" (best of %d alternated rounds of %d)\n", rounds, frames_per_round);
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
    for (drawable& d : bench.sizes)
        SDL_DestroyWindow(d.window);
    SDL_Quit();
    return 0;
}
