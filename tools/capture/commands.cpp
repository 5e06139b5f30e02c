// vornhal-capture's commands: one frame as a PNG, the show as an MP4 with its
// soundtrack, or the show as numbered PNGs. Each relays the workers' frames in order to
// where they go; on failure or interrupt nothing is left under the output's name.
#include "capture.h"

#include "host/clock.h"
#include "scene/scene.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int exit_failed = 1;
constexpr int exit_interrupted = 130;

struct relay_state {
    std::string frames_dir; // frames: where the pictures go
    bool worker_failed;     // a worker died or sent a short frame (said)
    // Progress on standard error.
    int64_t started_ns, last_report_ns;
    bool to_terminal; // one line updated in place rather than a line a second
    bool line_open;   // a progress line without its newline is on the terminal
};
relay_state relay;

using frame_writer = bool (*)(const capture_request& request, int64_t index,
                              const std::vector<unsigned char>& rgb);

int failure_status() {
    return capture_interrupted ? exit_interrupted : exit_failed;
}

double seconds_since_start() {
    return static_cast<double>(monotonic_ns() - relay.started_ns) / 1e9;
}

// "frame 1234 of 8520, 57.3 fps, 2:07 left": in place on a terminal (a few times a
// second), otherwise a plain line a second so that logs stay readable.
void report_progress(int64_t done, int64_t total) {
    constexpr int64_t terminal_interval_ns = 200000000;
    constexpr int64_t log_interval_ns = 1000000000;
    const int64_t now_ns = monotonic_ns();
    // The first frame is reported at once: the capture is under way.
    if (done > 1 && done < total &&
        now_ns - relay.last_report_ns <
            (relay.to_terminal ? terminal_interval_ns : log_interval_ns))
        return;
    relay.last_report_ns = now_ns;
    const double elapsed_s = seconds_since_start();
    const double fps = elapsed_s > 0 ? done / elapsed_s : 0;
    const long left_s = fps > 0 ? static_cast<long>((total - done) / fps + 0.5) : 0;
    char line[160];
    std::snprintf(
        line, sizeof line, "vornhal-capture: frame %lld of %lld, %.1f fps, %ld:%02ld left",
        static_cast<long long>(done), static_cast<long long>(total), fps, left_s / 60, left_s % 60);
    if (relay.to_terminal)
        std::fprintf(stderr, "\r%s\033[K", line);
    else
        std::fprintf(stderr, "%s\n", line);
    relay.line_open = relay.to_terminal;
    std::fflush(stderr);
}

// The frames to capture: those before --to that the demo would still present, that
// is frames with from + floor(i * 1000 / fps) < end, or i * 1000 < (end - from) * fps.
frame_span plan_frames(const capture_request& request) {
    const int64_t end_ms =
        request.to_ms >= 0 ? std::min(request.to_ms, show_length_ms) : show_length_ms;
    const int64_t count =
        end_ms > request.from_ms ? ((end_ms - request.from_ms) * request.fps + 999) / 1000 : 0;
    return {request.from_ms, request.fps, count};
}

// Starts the workers for the span; one line and false when it holds no frame or they
// cannot start.
bool start_span(const capture_request& request, const frame_span& span) {
    if (span.count == 0) {
        std::fprintf(stderr, "vornhal-capture: nothing to capture: the show is over at %d ms\n",
                     request.from_ms);
        return false;
    }
    relay = {};
    relay.to_terminal = isatty(STDERR_FILENO) == 1;
    relay.started_ns = relay.last_report_ns = monotonic_ns();
    const int jobs = request.jobs > 0 ? request.jobs : usable_cores();
    return start_render_workers(request, span,
                                static_cast<int>(std::min<int64_t>(jobs, span.count)));
}

// Every frame of the span, in order, from the workers to write. False when a worker or
// the writer failed (said) or the run was interrupted (said here).
bool relay_frames(const capture_request& request, const frame_span& span, frame_writer write) {
    std::vector<unsigned char> rgb;
    bool relayed = true;
    for (int64_t index = 0; index < span.count && relayed; index++) {
        relay.worker_failed = !receive_frame(index, rgb) && !capture_interrupted;
        relayed = !relay.worker_failed && !capture_interrupted && write(request, index, rgb);
        if (relayed)
            report_progress(index + 1, span.count);
    }
    if (relay.line_open)
        std::fputc('\n', stderr);
    if (capture_interrupted)
        std::fprintf(stderr, "vornhal-capture: interrupted\n");
    return relayed;
}

bool discard_frame(const capture_request&, int64_t, const std::vector<unsigned char>&) {
    return true;
}

bool encode_frame(const capture_request&, int64_t, const std::vector<unsigned char>& rgb) {
    return write_encoder_frame(rgb);
}

std::string frame_file_name(int64_t index) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%06lld.png", static_cast<long long>(index));
    return name;
}

bool write_frame_png(const capture_request& request, int64_t index,
                     const std::vector<unsigned char>& rgb) {
    return write_png("vornhal-capture", relay.frames_dir + "/" + frame_file_name(index), rgb.data(),
                     request.width_px, request.height_px, 3);
}

// Renders and encodes into video_path. False when anything failed (said).
bool capture_video(const capture_request& request, const std::string& ffmpeg,
                   const std::string& video_path, const std::string& audio_path) {
    const frame_span span = plan_frames(request);
    // Workers start first: they render while the soundtrack is decoded.
    if (!start_span(request, span))
        return false;
    bool relayed = false, done = false;
    if (request.null_output) {
        done = relayed = relay_frames(request, span, discard_frame);
    } else if (write_soundtrack_span(request, span, audio_path) &&
               start_encoder(request, ffmpeg, video_path, audio_path)) {
        relayed = relay_frames(request, span, encode_frame);
        // A frame the encoder would not take means ffmpeg failed: finishing says how.
        done = finish_encoder(!relayed && (relay.worker_failed || capture_interrupted),
                              !relay.worker_failed && !capture_interrupted) &&
               relayed;
    }
    done = stop_render_workers(!relayed) && done;
    if (!done)
        return false;
    const double wall_s = seconds_since_start();
    const long long count = static_cast<long long>(span.count);
    if (request.null_output)
        std::fprintf(stderr, "vornhal-capture: rendered %lld frames in %.2f s, %.1f fps\n", count,
                     wall_s, count / wall_s);
    else
        std::fprintf(stderr,
                     "vornhal-capture: %lld frames (%.2f s of video) encoded in %.2f s, %.1f fps\n",
                     count, static_cast<double>(count) / request.fps, wall_s, count / wall_s);
    return true;
}

} // namespace

int run_frame_command(const capture_request& request) {
    const frame_span span = {request.frame_ms, 1, 1};
    capture_request one = request;
    one.jobs = 1;
    std::vector<unsigned char> rgb;
    const bool rendered = start_span(one, span) && receive_frame(0, rgb);
    if (!stop_render_workers(!rendered) || !rendered)
        return failure_status();
    return write_png("vornhal-capture", request.output, rgb.data(), request.width_px,
                     request.height_px, 3)
               ? 0
               : exit_failed;
}

int run_video_command(const capture_request& request) {
    if (request.null_output)
        return capture_video(request, {}, {}, {}) ? 0 : failure_status();
    const std::string ffmpeg = find_on_path("ffmpeg");
    if (ffmpeg.empty()) {
        std::fprintf(stderr, "vornhal-capture: ffmpeg was not found on PATH; install the ffmpeg "
                             "package to make videos\n");
        return exit_failed;
    }
    const std::string output = request.output;
    struct stat info;
    if (stat(output.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fprintf(stderr, "vornhal-capture: %s is a directory, not a file name\n",
                     output.c_str());
        return exit_failed;
    }
    // ffmpeg writes under a temporary name; the MP4 appears under its own name only
    // once it is complete.
    std::string video_path, audio_path;
    if (!make_temporary(output, ".mp4", video_path) ||
        !make_temporary(output, ".wav", audio_path)) {
        std::fprintf(stderr, "vornhal-capture: cannot write %s: %s\n", output.c_str(),
                     std::strerror(errno));
        if (!video_path.empty())
            unlink(video_path.c_str());
        return exit_failed;
    }
    bool done = capture_video(request, ffmpeg, video_path, audio_path);
    unlink(audio_path.c_str());
    if (done && !publish(video_path, output)) {
        std::fprintf(stderr, "vornhal-capture: cannot move the finished file to %s: %s\n",
                     output.c_str(), std::strerror(errno));
        done = false;
    }
    if (!done) {
        unlink(video_path.c_str());
        return failure_status();
    }
    std::fprintf(stderr, "vornhal-capture: wrote %s\n", output.c_str());
    return 0;
}

int run_frames_command(const capture_request& request) {
    std::string dir = request.output;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    // Find out now, not after the first frame, whether the directory takes files.
    std::string probe;
    if ((mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) ||
        !make_temporary(dir + "/frame", ".png", probe)) {
        std::fprintf(stderr, "vornhal-capture: cannot write into %s: %s\n", dir.c_str(),
                     std::strerror(errno));
        return exit_failed;
    }
    unlink(probe.c_str());

    const frame_span span = plan_frames(request);
    if (!start_span(request, span))
        return exit_failed;
    relay.frames_dir = dir;
    const bool relayed = relay_frames(request, span, write_frame_png);
    if (!stop_render_workers(!relayed) || !relayed)
        return failure_status();

    const double wall_s = seconds_since_start();
    std::fprintf(stderr, "vornhal-capture: wrote %lld frames to %s/ in %.2f s, %.1f fps\n",
                 static_cast<long long>(span.count), dir.c_str(), wall_s, span.count / wall_s);
    // Frames left over from a longer earlier run would join this sequence in an editor.
    const std::string next = dir + "/" + frame_file_name(span.count);
    if (access(next.c_str(), F_OK) == 0)
        std::fprintf(stderr,
                     "vornhal-capture: warning: %s and any later frames are from an earlier run\n",
                     next.c_str());
    return 0;
}
