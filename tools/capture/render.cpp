// Rendering for vornhal-capture. llvmpipe spreads one small frame over its threads
// poorly, but frames are pure functions of their time, so the capture forks worker
// processes, each with an offscreen context of its own, each rendering every Nth frame
// and writing it whole to its standard output.
// The pipe and the one frame a worker may hold while it waits bound the memory however
// long the show.
#include "capture.h"

#include "datafiles/data_files.h"
#include "platform/gl_surface.h"
#include "scene/scene.h"
#include "sound/soundtrack.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace {

struct render_worker {
    pid_t pid;         // the child; -1 once reaped
    int frame_fd;      // read end of its standard output
    FILE* diagnostics; // its standard error, quoted when it fails
};

struct render_state {
    std::vector<render_worker> workers; // start fills, stop empties
    size_t frame_bytes;                 // the size of every frame; written by start
};
render_state pool;

// The picture the demo presents when its clock reads ms, on a drawable of the output
// size, read back top row first.
void render_frame(int ms, int width_px, int height_px, std::vector<unsigned char>& rgb) {
    hold_demo_clock(ms);
    aim_frame(width_px, height_px);
    draw_frame();
    present_frame(width_px, height_px);
    const size_t row_bytes = static_cast<size_t>(width_px) * 3;
    rgb.resize(row_bytes * height_px);
    read_presented_frame(width_px, height_px, rgb.data());
    for (int top = 0, bottom = height_px - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(rgb.begin() + top * row_bytes, rgb.begin() + (top + 1) * row_bytes,
                         rgb.begin() + bottom * row_bytes);
}

// Worker process: an offscreen context of the output size with the demo's scene on it,
// the clock held (no sound output), then frames first, first + stride, ... of the span
// written whole to standard output. Returns the process exit status.
int render_share(const capture_request& request, const frame_span& span, int64_t first,
                 int stride) {
    if (!open_offscreen_gl(program_name(), request.width_px, request.height_px))
        return 1;
    hold_demo_clock(0);
    setup_scene();
    std::vector<unsigned char> rgb;
    for (int64_t index = first; index < span.count; index += stride) {
        render_frame(frame_time_ms(span, index), request.width_px, request.height_px, rgb);
        if (!write_whole(STDOUT_FILENO, rgb.data(), rgb.size()))
            return 1; // the capture stopped reading: it is abandoning the run
    }
    return 0;
}

} // namespace

int usable_cores() {
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) == 0)
        return std::max(1, CPU_COUNT(&cpus));
    return static_cast<int>(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
}

bool start_render_workers(const capture_request& request, const frame_span& span, int jobs) {
    pool.frame_bytes = frame_bytes(request);
    // One process per core renders faster than one spreading each frame over every
    // core; a value from the environment wins.
    setenv("LP_NUM_THREADS", std::to_string(std::max(1, usable_cores() / jobs)).c_str(), 0);
    for (int k = 0; k < jobs; k++) {
        const std::string name = "render worker " + std::to_string(k + 1);
        int frames[2];
        FILE* diagnostics = open_diagnostics();
        pid_t pid = -1;
        const bool piped = diagnostics && pipe2(frames, O_CLOEXEC) == 0;
        if (!piped)
            std::fprintf(stderr, "vornhal-capture: cannot start %s: %s\n", name.c_str(),
                         std::strerror(errno));
        const bool started = piped && start_child(
                                          name.c_str(),
                                          [&request, &span, k, jobs] {
                                              return render_share(request, span, k, jobs);
                                          },
                                          -1, frames[1], fileno(diagnostics), pid);
        if (piped)
            close(frames[1]);
        if (!started) {
            if (piped)
                close(frames[0]);
            if (diagnostics)
                std::fclose(diagnostics);
            stop_render_workers(true);
            return false;
        }
        // The capture's side of the pipe holds most of a frame.
        constexpr int pipe_bytes = 1 << 20;
        fcntl(frames[0], F_SETPIPE_SZ, pipe_bytes);
        pool.workers.push_back({pid, frames[0], diagnostics});
    }
    return true;
}

bool receive_frame(int64_t index, std::vector<unsigned char>& rgb) {
    const size_t k = static_cast<size_t>(index % static_cast<int64_t>(pool.workers.size()));
    render_worker& worker = pool.workers[k];
    rgb.resize(pool.frame_bytes);
    size_t got = 0;
    while (got < rgb.size() && !capture_interrupted) {
        const ssize_t read_now = read(worker.frame_fd, rgb.data() + got, rgb.size() - got);
        if (read_now < 0 && errno == EINTR)
            continue;
        if (read_now <= 0)
            break;
        got += static_cast<size_t>(read_now);
    }
    if (capture_interrupted)
        return false;
    if (got == rgb.size()) {
        // Every worker loads the same images: the first one speaks for all, once.
        if (index == 0) {
            std::fflush(worker.diagnostics);
            std::rewind(worker.diagnostics);
            char line[512];
            while (std::fgets(line, sizeof line, worker.diagnostics))
                std::fputs(line, stderr);
        }
        return true;
    }
    const std::string ended = wait_for_exit(worker.pid);
    worker.pid = -1;
    const std::string complaint = last_line_of(worker.diagnostics);
    std::fprintf(stderr,
                 "vornhal-capture: render worker %zu of %zu %s; frame %lld came short (%zu of "
                 "%zu bytes)%s%s\n",
                 k + 1, pool.workers.size(), ended.empty() ? "exited" : ended.c_str(),
                 static_cast<long long>(index), got, rgb.size(), complaint.empty() ? "" : ": ",
                 complaint.c_str());
    return false;
}

bool stop_render_workers(bool abandon) {
    bool ok = true;
    for (render_worker& worker : pool.workers)
        if (abandon && worker.pid > 0)
            kill(worker.pid, SIGKILL);
    for (size_t k = 0; k < pool.workers.size(); k++) {
        render_worker& worker = pool.workers[k];
        close(worker.frame_fd); // a worker still writing then ends on EPIPE
        const std::string ended = worker.pid > 0 ? wait_for_exit(worker.pid) : std::string();
        if (!abandon && !ended.empty() && ok) {
            std::fprintf(stderr, "vornhal-capture: render worker %zu of %zu %s\n", k + 1,
                         pool.workers.size(), ended.c_str());
            ok = false;
        }
        std::fclose(worker.diagnostics);
    }
    pool.workers.clear();
    return ok;
}
