// vornhal-bench-sound: figures for the soundtrack and its clock, on the committed
// music, run from the repository root (make bench).
//
//   start:   time start_soundtrack takes on the main thread, and until the clock moves
//   jitter:  the clock read every millisecond for 10 s against a line fitted to wall
//            time: RMS and largest distance, backward steps
//   seek:    what the clock reads right after a seek, against the target; and frames
//            that differ between a decode after a seek and the decode from the start
//   decode:  how much faster than real time the whole file decodes
#include "sound/soundtrack.h"
#include "stream/mp3_decode.h"
#include "stream/sound_stream.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

using namespace std::chrono;

static double wall_ms() {
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

static int sample_ms() {
    sample_demo_clock();
    return static_cast<int>(demo_time_ms);
}

static void report_start() {
    double before = wall_ms();
    start_soundtrack();
    double started = wall_ms();
    int first = sample_ms();
    while (sample_ms() == first && wall_ms() - started < 2000)
        std::this_thread::sleep_for(microseconds(200));
    double moving = wall_ms();
    printf("start:  start_soundtrack %.1f ms on the main thread; clock moving %.1f ms after "
           "(first sound heard)\n",
           started - before, moving - started);
}

struct line_fit {
    double slope, rms_ms, max_ms;
};

// Least-squares line through (wall, clock) over [from, to), and the distances from it.
static line_fit fit_line(const std::vector<double>& wall, const std::vector<double>& clock,
                         size_t from, size_t to) {
    double n = static_cast<double>(to - from), mean_w = 0, mean_c = 0;
    for (size_t i = from; i < to; ++i) {
        mean_w += wall[i] / n;
        mean_c += clock[i] / n;
    }
    double sww = 0, swc = 0;
    for (size_t i = from; i < to; ++i) {
        sww += (wall[i] - mean_w) * (wall[i] - mean_w);
        swc += (wall[i] - mean_w) * (clock[i] - mean_c);
    }
    line_fit fit = {swc / sww, 0, 0};
    double sum_sq = 0;
    for (size_t i = from; i < to; ++i) {
        double off = clock[i] - (mean_c + fit.slope * (wall[i] - mean_w));
        sum_sq += off * off;
        fit.max_ms = std::max(fit.max_ms, std::fabs(off));
    }
    fit.rms_ms = std::sqrt(sum_sq / n);
    return fit;
}

static void report_jitter(double seconds) {
    std::vector<double> wall, clock;
    int backward_steps = 0, last = sample_ms();
    double until = wall_ms() + seconds * 1000.0;
    // A reading during which this thread lost the processor says nothing about the
    // clock: its wall time is unknown. Those are counted and left out of the fit.
    constexpr double max_reading_ms = 0.25;
    int preempted = 0;
    while (wall_ms() < until) {
        double before = wall_ms();
        int reading = sample_ms();
        double after = wall_ms();
        backward_steps += reading < last;
        last = reading;
        if (after - before > max_reading_ms) {
            ++preempted;
        } else {
            wall.push_back(0.5 * (before + after));
            clock.push_back(reading);
        }
        std::this_thread::sleep_for(milliseconds(1));
    }
    double load[1] = {0};
    getloadavg(load, 1);
    line_fit whole = fit_line(wall, clock, 0, wall.size());
    printf("jitter: %zu readings over %.0f s (%d left out, preempted; load %.1f): RMS %.3f ms, "
           "max %.3f ms from the fitted line (slope %.5f), %d backward steps\n",
           wall.size(), seconds, preempted, load[0], whole.rms_ms, whole.max_ms, whole.slope,
           backward_steps);
    // On a busy machine the dummy driver's thread is late now and then and the device
    // itself slows down; lines fitted to each second apart show the clock's own
    // smoothness with that taken out.
    double sum_sq = 0, worst = 0;
    size_t counted = 0;
    for (size_t from = 0; from < wall.size();) {
        size_t to = from;
        while (to < wall.size() && wall[to] < wall[from] + 1000.0)
            ++to;
        if (to - from > 100) {
            line_fit part = fit_line(wall, clock, from, to);
            sum_sq += part.rms_ms * part.rms_ms * (to - from);
            counted += to - from;
            worst = std::max(worst, part.max_ms);
        }
        from = to;
    }
    printf("jitter: against lines fitted to each second: RMS %.3f ms, max %.3f ms\n",
           std::sqrt(sum_sq / counted), worst);
}

static void report_seek_clock() {
    const int targets[] = {30000, 500, 90000, 141000, 60000, 12345, 0, 100000};
    int worst = 0;
    for (int target : targets) {
        seek_soundtrack(target);
        worst = std::max(worst, std::abs(sample_ms() - target));
        std::this_thread::sleep_for(milliseconds(80));
    }
    printf("seek:   clock right after 8 seeks: worst %d ms from the target\n", worst);
}

static void report_decode(const std::vector<unsigned char>& mp3) {
    double before = wall_ms();
    mp3_decoder* decoder = open_mp3_decoder(mp3.data(), mp3.size(), nullptr);
    if (!decoder) {
        printf("decode: data/music.mp3 does not open\n");
        return;
    }
    double opened = wall_ms();
    std::vector<int16_t> whole(static_cast<size_t>(mp3_decoder_length(decoder)) * 2);
    size_t frames = read_mp3_frames(decoder, whole.data(), whole.size() / 2);
    double decoded = wall_ms();
    double seconds = frames / 44100.0;
    printf("decode: open and scan %.1f ms; %.1f s of music in %.0f ms (%.0fx real time)\n",
           opened - before, seconds, decoded - opened, seconds * 1000.0 / (decoded - opened));

    // Seeks to odd frames all through the piece, each compared with the whole decode.
    int64_t differing = 0, seeks = 0;
    uint32_t x = 2024;
    std::vector<int16_t> got(4096 * 2);
    double seek_ms = 0;
    for (int i = 0; i < 200; ++i) {
        x = x * 1664525u + 1013904223u;
        int64_t target = static_cast<int64_t>(x % (frames - 4096));
        double t0 = wall_ms();
        seek_mp3_decoder(decoder, target);
        size_t n = read_mp3_frames(decoder, got.data(), 4096);
        seek_ms += wall_ms() - t0;
        for (size_t f = 0; f < n; ++f)
            differing += memcmp(&got[f * 2], &whole[(target + f) * 2], 4) != 0;
        ++seeks;
    }
    printf("seek:   %lld random seeks, %lld frames differing from the decode from the start; "
           "%.2f ms per seek and 4096 frames\n",
           static_cast<long long>(seeks), static_cast<long long>(differing), seek_ms / seeks);
    close_mp3_decoder(decoder);
}

int main() {
    std::ifstream in("data/music.mp3", std::ios::binary);
    std::vector<unsigned char> mp3((std::istreambuf_iterator<char>(in)), {});
    if (mp3.empty()) {
        fprintf(stderr, "vornhal-bench-sound: run from the repository root (data/music.mp3)\n");
        return 1;
    }
    report_start();
    std::this_thread::sleep_for(milliseconds(300));
    report_jitter(10.0);
    report_seek_clock();
    stop_soundtrack();
    report_decode(mp3);
    return 0;
}
