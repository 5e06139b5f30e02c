// The soundtrack as the loop drives it, without a window: the clock sampled every 20 ms
// and printed with the time of the sample and how long the soundtrack's calls kept the
// loop since the last line ("clock MS AT_MS TOOK_MS"), the seek keys taken from standard
// input ("m", "n", or "sMS" for a seek to MS), and the end of the show ending the run with
// status 0, as the demo ends. Run from the repository root (data/music.mp3).
#include "host/clock.h"
#include "scene/scene.h"
#include "sound/soundtrack.h"

#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main() {
    start_soundtrack();
    std::string command;
    double took_ms = 0;
    auto timed = [&took_ms](auto call) {
        const int64_t before_ns = monotonic_ns();
        call();
        took_ms += static_cast<double>(monotonic_ns() - before_ns) / 1e6;
    };
    for (;;) {
        timed(sample_demo_clock);
        std::printf("clock %.0f %.1f %.1f\n", demo_time_ms, monotonic_ns() / 1e6, took_ms);
        took_ms = 0;
        std::fflush(stdout);
        if (show_is_over(demo_time_ms))
            break;
        pollfd input = {STDIN_FILENO, POLLIN, 0};
        constexpr int frame_ms = 20;
        if (poll(&input, 1, frame_ms) != 1)
            continue;
        char c;
        if (read(STDIN_FILENO, &c, 1) != 1)
            break; // input closed: stop here, as Escape does
        if (c != '\n') {
            command += c;
            continue;
        }
        const int now_ms = static_cast<int>(demo_time_ms);
        if (command == "m" || command == "n")
            timed([&] { seek_soundtrack(now_ms + (command == "m" ? 400 : -400)); });
        else if (command[0] == 's')
            timed([&] { seek_soundtrack(std::atoi(command.c_str() + 1)); });
        command.clear();
    }
    if (!stop_soundtrack())
        _exit(0); // its sound thread is still held in a driver, as the demo leaves it
    return 0;
}
