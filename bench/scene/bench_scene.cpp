// What one frame of the scene costs at 800 x 600: the whole frame, the four layers
// alone and the glow alone. glFinish sits inside each timed iteration so the GL work
// is counted, not just its submission. Run from the repository root to draw the real
// images from data/.
#include "platform/host.h"
#include "scene/scene.h"
#include "sound/soundtrack.h"

#include <SDL.h>
#include <benchmark/benchmark.h>
#include <cstdio>

static struct {
    SDL_Window* window = nullptr;    // hidden render window, written by open_bench_context
    SDL_GLContext context = nullptr; // its context, current for every benchmark
} bench;

static bool open_bench_context() {
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "vornhal-bench-scene: %s\n", SDL_GetError());
        return false;
    }
    set_gl_surface_attributes();
    bench.window = SDL_CreateWindow("vornhal-bench-scene", 0, 0, screen_width, screen_height,
                                    SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (bench.window)
        bench.context = SDL_GL_CreateContext(bench.window);
    if (!bench.context) {
        std::fprintf(stderr, "vornhal-bench-scene: %s\n", SDL_GetError());
        return false;
    }
    hold_demo_clock(0);
    set_perspective_view(screen_width, screen_height);
    setup_scene();
    std::printf("GL renderer: %s, %d x %d\n", glGetString(GL_RENDERER), screen_width,
                screen_height);
    return true;
}

// Steps through the show in 25 fps frames so every layer moves as it does live.
static int next_frame_ms(int& ms) {
    constexpr int frame_step_ms = 40;
    ms = (ms + frame_step_ms) % show_length_ms;
    return ms;
}

static void whole_frame(benchmark::State& state) {
    int ms = 0;
    for (auto _ : state) {
        hold_demo_clock(next_frame_ms(ms));
        draw_frame();
        glFinish();
    }
}
BENCHMARK(whole_frame)->Unit(benchmark::kMillisecond)->UseRealTime();

static void layers_alone(benchmark::State& state) {
    int ms = 0;
    for (auto _ : state) {
        hold_demo_clock(next_frame_ms(ms));
        sample_demo_clock();
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        draw_background();
        draw_bars();
        draw_fg_overlay();
        draw_scroll_overlay();
        glFinish();
    }
}
BENCHMARK(layers_alone)->Unit(benchmark::kMillisecond)->UseRealTime();

static void glow_alone(benchmark::State& state) {
    hold_demo_clock(60000);
    draw_frame();
    glFinish();
    for (auto _ : state) {
        apply_glow(3.0f, 1.0f, 5.0f, 1.0f);
        glFinish();
    }
}
BENCHMARK(glow_alone)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!open_bench_context())
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    SDL_GL_DeleteContext(bench.context);
    SDL_DestroyWindow(bench.window);
    SDL_Quit();
    return 0;
}
