// Render workers for vornhal-capture --jobs N. llvmpipe spreads one small frame over
// its threads poorly, but frames are pure functions of their time, so N processes
// with a context each, every one rendering every Nth frame, keep N cores busy. Each
// frame travels whole down its worker's pipe; the pipe and the one frame a worker may
// hold while it waits bound the memory however long the show.
#include "capture.h"
#include "encoder.h"
#include "scene/scene.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>

struct render_worker {
    pid_t pid = -1;              // the child; -1 once reaped
    int frame_fd = -1;           // read end of its frame pipe
    FILE* diagnostics = nullptr; // its standard error, quoted when it fails
};

static struct {
    std::vector<render_worker> workers; // main thread: start fills, stop empties
} pool;

static size_t frame_bytes() {
    return static_cast<size_t>(screen_width) * screen_height * 3;
}

int usable_cores() {
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) == 0)
        return std::max(1, CPU_COUNT(&cpus));
    return std::max(1L, sysconf(_SC_NPROCESSORS_ONLN));
}

static bool write_whole(int fd, const unsigned char* bytes, size_t left) {
    while (left > 0) {
        ssize_t wrote = write(fd, bytes, left);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        bytes += wrote;
        left -= static_cast<size_t>(wrote);
    }
    return true;
}

// The worker's whole life, in the child. It sits in a process group of its own, so
// that a Ctrl-C at the terminal reaches only the capture, which then ends it; it dies
// with the capture too (PR_SET_PDEATHSIG, even if the capture is killed outright), or
// when its pipe is closed.
[[noreturn]] static void run_worker(const frame_span& span, int first, int stride, int frame_fd,
                                    int diagnostics_fd, pid_t capture_pid, int rasterizer_threads) {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != capture_pid)
        _exit(1);
    for (int sig : {SIGINT, SIGTERM, SIGPIPE})
        std::signal(sig, SIG_DFL);
    dup2(diagnostics_fd, STDERR_FILENO);
    // Nothing of the capture's but the own pipe: another worker's pipe held open here
    // would hide that worker's death from the capture.
    if (frame_fd != 3) {
        dup2(frame_fd, 3);
        frame_fd = 3;
    }
    close_range(4, ~0U, 0);
    // One process per core renders faster than one process spreading each frame over
    // every core; a value from the environment wins.
    setenv("LP_NUM_THREADS", std::to_string(rasterizer_threads).c_str(), 0);

    if (!open_capture_context())
        _exit(1);
    std::vector<unsigned char> rgb;
    for (int64_t index = first; index < span.count; index += stride) {
        render_capture_frame(frame_time_ms(span, index), rgb);
        if (!write_whole(frame_fd, rgb.data(), rgb.size()))
            _exit(1); // the capture stopped reading: it is abandoning the run
    }
    close_capture_context();
    _exit(0);
}

bool start_render_workers(const frame_span& span, int jobs) {
    const int rasterizer_threads = std::max(1, usable_cores() / jobs);
    const pid_t capture_pid = getpid();
    std::fflush(nullptr); // nothing buffered here may be written twice
    for (int k = 0; k < jobs; k++) {
        int frames[2];
        FILE* diagnostics = std::tmpfile();
        if (diagnostics == nullptr || pipe2(frames, O_CLOEXEC) != 0) {
            std::fprintf(stderr, "vornhal-capture: cannot start render worker %d: %s\n", k + 1,
                         std::strerror(errno));
            if (diagnostics)
                std::fclose(diagnostics);
            stop_render_workers(true);
            return false;
        }
        fcntl(fileno(diagnostics), F_SETFD, FD_CLOEXEC);
        const pid_t pid = fork();
        if (pid == 0)
            run_worker(span, k, jobs, frames[1], fileno(diagnostics), capture_pid,
                       rasterizer_threads);
        if (pid > 0)
            setpgid(pid, pid); // as the child does, whichever comes first
        close(frames[1]);
        if (pid < 0) {
            std::fprintf(stderr, "vornhal-capture: cannot start render worker %d: %s\n", k + 1,
                         std::strerror(errno));
            close(frames[0]);
            std::fclose(diagnostics);
            stop_render_workers(true);
            return false;
        }
        // The capture's own copy of the pipe: enough to hold most of a frame.
        constexpr int pipe_bytes = 1 << 20;
        fcntl(frames[0], F_SETPIPE_SZ, pipe_bytes);
        pool.workers.push_back({pid, frames[0], diagnostics});
    }
    return true;
}

// Passes the worker's own messages on (the warnings of its scene setup), once.
static void pass_on_diagnostics(FILE* diagnostics) {
    std::fflush(diagnostics);
    std::rewind(diagnostics);
    char line[512];
    while (std::fgets(line, sizeof line, diagnostics))
        std::fputs(line, stderr);
}

bool receive_worker_frame(int64_t index, std::vector<unsigned char>& rgb,
                          const volatile std::sig_atomic_t& interrupted) {
    const size_t k = static_cast<size_t>(index % static_cast<int64_t>(pool.workers.size()));
    render_worker& worker = pool.workers[k];
    rgb.resize(frame_bytes());
    size_t got = 0;
    while (got < rgb.size()) {
        // Wakes now and then to notice an interrupt while the worker renders.
        pollfd ready = {worker.frame_fd, POLLIN, 0};
        constexpr int interrupt_check_ms = 100;
        if (interrupted)
            return false;
        if (poll(&ready, 1, interrupt_check_ms) <= 0)
            continue;
        ssize_t read_now = read(worker.frame_fd, rgb.data() + got, rgb.size() - got);
        if (read_now < 0 && errno == EINTR)
            continue;
        if (read_now <= 0)
            break;
        got += static_cast<size_t>(read_now);
    }
    if (got == rgb.size()) {
        // Every worker loads the same images: the first one speaks for all.
        if (index == 0)
            pass_on_diagnostics(worker.diagnostics);
        return true;
    }
    std::string ended = wait_for_exit(worker.pid);
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
        if (worker.pid > 0) {
            const std::string ended = wait_for_exit(worker.pid);
            if (!abandon && !ended.empty() && ok) {
                std::fprintf(stderr, "vornhal-capture: render worker %zu of %zu %s\n", k + 1,
                             pool.workers.size(), ended.c_str());
                ok = false;
            }
        }
        std::fclose(worker.diagnostics);
    }
    pool.workers.clear();
    return ok;
}
