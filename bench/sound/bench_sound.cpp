// vornhal-bench-sound: figures for the soundtrack and its clock, on the committed
// music, run from the repository root (make bench).
//
//   start:   time start_soundtrack takes on the main thread, until the clock moves, and
//            (when run by with-sound-server.sh, which records the sink) until the music
//            reaches the sink
//   jitter:  the clock read every millisecond for 10 s against a line fitted to wall
//            time: RMS and largest distance, backward steps
//   seek:    what the clock reads right after a seek, against the target; and frames
//            that differ between a decode after a seek and the decode from the start
//   decode:  how much faster than real time the whole file decodes, and files at other
//            rates, converted to 44100 Hz on the way
//   heard:   with --heard SECONDS alone (after start), when a recording is made: where
//            in the music the first sound heard lies, runs of digital silence of 1 ms or
//            more in what the sink played while the show went on for that long (the
//            committed music has none), and how far the music skipped forward
//            (bench-gaps.sh runs it on each sound server with both cores busy); with
//            --heard-other SECONDS the same of what another player played meanwhile,
//            the show's own sound left off
//   first:   with --first-note SECONDS alone, the monotonic time (ms) at which the
//            recording first holds sound, looked at every millisecond for up to that
//            long; bench-first.sh sets it against the show's first presented frame
#include "mp3_encode.h"
#include "host/clock.h"
#include "host/files.h"
#include "sound/soundtrack.h"
#include "stream/mp3_decode.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <thread>
#include <vector>

using namespace std::chrono;

static double wall_ms() {
    return monotonic_ns() * 1e-6;
}

static int sample_ms() {
    sample_demo_clock();
    return static_cast<int>(demo_time_ms);
}

// Whether the recording (raw 16-bit stereo, written by parec) has grown by sound, not
// silence, since it was last looked at: offset is how far it was read.
static bool recording_heard_sound(FILE* recording, long& offset) {
    unsigned char bytes[4096];
    bool heard = false;
    fseek(recording, offset, SEEK_SET);
    size_t got;
    while ((got = fread(bytes, 1, sizeof bytes, recording)) > 0) {
        offset += long(got);
        heard = heard || std::any_of(bytes, bytes + got, [](unsigned char b) { return b != 0; });
    }
    clearerr(recording);
    return heard;
}

// What a viewer gets: the clock moving, and the music arriving at the sink. The sink is
// seen only through a recording of its monitor (VORNHAL_RECORDING, set by
// with-sound-server.sh), which is read as it grows; what it shows comes a recorder's
// fragment (10 ms) late at least.
static void report_start() {
    const char* recording_path = getenv("VORNHAL_RECORDING");
    FILE* recording = recording_path ? fopen(recording_path, "rb") : nullptr;
    long offset = 0;
    if (recording)
        recording_heard_sound(recording, offset); // what came before is silence
    double before = wall_ms();
    start_soundtrack();
    double started = wall_ms();
    int first = sample_ms();
    double moving = 0, heard = 0;
    while ((!moving || (recording && !heard)) && wall_ms() - started < 3000) {
        if (!moving && sample_ms() != first)
            moving = wall_ms();
        if (recording && !heard && recording_heard_sound(recording, offset))
            heard = wall_ms();
        std::this_thread::sleep_for(microseconds(200));
    }
    printf("start:  start_soundtrack %.1f ms on the main thread; clock moving %.1f ms after",
           started - before, moving ? moving - started : -1.0);
    if (recording) {
        printf("; music seen at the sink's monitor %.1f ms after", heard ? heard - started : -1.0);
        fclose(recording);
    }
    printf("\n");
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

// Decodes all of mp3, timed; the whole decode in out.
static void time_decode(const char* what, const std::vector<unsigned char>& mp3,
                        std::vector<int16_t>& out) {
    double before = wall_ms();
    mp3_decoder* decoder = open_mp3_decoder(mp3.data(), mp3.size(), nullptr);
    if (!decoder) {
        printf("decode: %s does not open\n", what);
        return;
    }
    double opened = wall_ms();
    out.assign(static_cast<size_t>(mp3_decoder_length(decoder)) * 2, 0);
    size_t frames = read_mp3_frames(decoder, out.data(), out.size() / 2);
    double decoded = wall_ms();
    double seconds = frames / 44100.0;
    printf("decode: %s: open and scan %.1f ms; %.1f s in %.0f ms (%.0fx real time)\n", what,
           opened - before, seconds, decoded - opened, seconds * 1000.0 / (decoded - opened));
    close_mp3_decoder(decoder);
}

static void report_decode(const std::vector<unsigned char>& mp3) {
    std::vector<int16_t> whole;
    time_decode("data/music.mp3", mp3, whole);
    if (whole.empty())
        return;
    mp3_decoder* decoder = open_mp3_decoder(mp3.data(), mp3.size(), nullptr);
    const int64_t frames = int64_t(whole.size() / 2);

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

    // The music's first 30 s at other rates: its left channel taken at 48000 and
    // 22050 Hz by picking samples (the content does not matter to the speed).
    for (auto [rate_hz, channels] : {std::pair{48000, 2}, {22050, 1}}) {
        std::vector<int16_t> pcm(size_t(30 * rate_hz * channels));
        for (size_t i = 0; i < pcm.size(); ++i)
            pcm[i] = whole[2 * size_t(double(i / channels) * 44100 / rate_hz)];
        std::vector<unsigned char> other;
        encode_mp3(pcm, rate_hz, rate_hz > 24000 ? 192 : 64, other, channels);
        char what[64];
        snprintf(what, sizeof what, "%d Hz %s, converted", rate_hz,
                 channels == 1 ? "mono" : "stereo");
        std::vector<int16_t> converted;
        time_decode(what, other, converted);
    }
}

// Zero runs of at least a millisecond in the recording between offset and its end,
// after the first sound there: each one a moment the sink ran dry.
// Where in the music the recorded frames from p on are: the decode frame they match
// (256 frames, to a step of rounding), searched from f_from to f_to; -1 if nowhere.
static int64_t find_in_music(const std::vector<int16_t>& played, size_t p,
                             const std::vector<int16_t>& music, int64_t f_from, int64_t f_to) {
    constexpr size_t span = 256;
    if (2 * (p + span) > played.size())
        return -1;
    f_from = std::max<int64_t>(f_from, 0);
    f_to = std::min<int64_t>(f_to, int64_t(music.size() / 2 - span));
    for (int64_t f = f_from; f < f_to; ++f) {
        size_t i = 0;
        while (i < 2 * span && std::abs(played[2 * p + i] - music[2 * size_t(f) + i]) <= 2)
            ++i;
        if (i == 2 * span)
            return f;
    }
    return -1;
}

// The recording since offset against the music, after the show ran for seconds: where
// in the music the first sound heard lies, the runs of digital silence of 1 ms or more
// inserted after it, and how far the music jumped forward past what was played.
static void report_heard(const std::vector<unsigned char>& mp3, long offset, double seconds) {
    const char* recording_path = getenv("VORNHAL_RECORDING");
    const double until = wall_ms() + seconds * 1000.0;
    while (wall_ms() < until) {
        sample_ms();
        std::this_thread::sleep_for(milliseconds(16)); // a frame at 60 Hz
    }
    std::this_thread::sleep_for(milliseconds(500)); // what the recorder still holds
    FILE* recording = recording_path ? fopen(recording_path, "rb") : nullptr;
    if (!recording) {
        printf("heard:  no recording (run under scripts/with-sound-server.sh)\n");
        return;
    }
    fseek(recording, offset, SEEK_SET);
    std::vector<int16_t> played;
    int16_t frame[2];
    while (fread(frame, sizeof frame, 1, recording) == 1)
        played.insert(played.end(), frame, frame + 2);
    fclose(recording);
    mp3_decoder* decoder = open_mp3_decoder(mp3.data(), mp3.size(), nullptr);
    std::vector<int16_t> music(size_t(seconds + 15) * 44100 * 2);
    music.resize(2 * read_mp3_frames(decoder, music.data(), music.size() / 2));
    close_mp3_decoder(decoder);

    const size_t n = played.size() / 2;
    size_t first = 0;
    while (first < n && !played[2 * first] && !played[2 * first + 1])
        ++first;
    // The recorder's first fragment may be garbled: the first frames that match place it.
    int64_t at = -1;
    size_t p = first;
    for (; at < 0 && p < first + 8 * 1024 && p < n; p += 1024)
        at = find_in_music(played, p, music, 0, 10 * 44100);
    p -= 1024;
    constexpr size_t min_gap_frames = 44; // 1 ms
    size_t run = 0, gaps = 0, total = 0, sounding_frames = 0, last_sound = p;
    for (size_t i = p; i < n; ++i) {
        if (played[2 * i] != 0 || played[2 * i + 1] != 0) {
            if (run >= min_gap_frames) {
                ++gaps;
                total += run;
            }
            run = 0;
            last_sound = i;
            ++sounding_frames;
        } else {
            ++run;
        }
    }
    // The last stretch of sound, against where the music would be had nothing been skipped.
    const int64_t expected = at + int64_t(sounding_frames);
    const size_t last = last_sound > 1024 ? last_sound - 1024 : p;
    const int64_t last_at =
        at < 0 ? -1
               : find_in_music(played, last, music, expected - int64_t(last_sound - last) - 441000,
                               expected - int64_t(last_sound - last) + 441000);
    const double skip_ms =
        last_at < 0 ? -1 : (last_at - (expected - int64_t(last_sound - last))) / 44.1;
    double load[1] = {0};
    getloadavg(load, 1);
    printf("heard:  first sound %.0f ms into the music; %zu gaps over %.0f s of show (%.1f ms "
           "of silence inserted); music skipped forward %.0f ms; load %.1f\n",
           at < 0 ? -1.0 : (at - double(p - first)) / 44.1, gaps, seconds, total / 44.1, skip_ms,
           load[0]);
}

int main(int argc, char** argv) {
    std::vector<unsigned char> mp3;
    if (!read_whole_file("data/music.mp3", mp3, size_t(256) << 20)) {
        fprintf(stderr, "vornhal-bench-sound: run from the repository root (data/music.mp3)\n");
        return 1;
    }
    const char* recording_path = getenv("VORNHAL_RECORDING");
    FILE* recording = recording_path ? fopen(recording_path, "rb") : nullptr;
    long offset = 0;
    if (recording) {
        fseek(recording, 0, SEEK_END);
        offset = ftell(recording);
        fclose(recording);
    }
    if (argc == 3 && strcmp(argv[1], "--first-note") == 0) {
        recording = recording_path ? fopen(recording_path, "rb") : nullptr;
        if (!recording) {
            fprintf(stderr,
                    "vornhal-bench-sound: no recording (run under a sound server of its own)\n");
            return 1;
        }
        const double until = wall_ms() + atof(argv[2]) * 1000.0;
        while (!recording_heard_sound(recording, offset) && wall_ms() < until)
            std::this_thread::sleep_for(milliseconds(1));
        printf("first note %.1f\n", wall_ms() < until ? wall_ms() : -1.0);
        fclose(recording);
        return 0;
    }
    if (argc == 3 && strcmp(argv[1], "--heard-other") == 0) {
        report_heard(mp3, offset, atof(argv[2]));
        return 0;
    }
    report_start();
    if (argc == 3 && strcmp(argv[1], "--heard") == 0) {
        report_heard(mp3, offset, atof(argv[2]));
        stop_soundtrack();
        return 0;
    }
    std::this_thread::sleep_for(milliseconds(300));
    report_jitter(10.0);
    report_seek_clock();
    stop_soundtrack();
    report_decode(mp3);
    return 0;
}
