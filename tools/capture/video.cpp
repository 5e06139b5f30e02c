// vornhal-capture video and frames: the show's frames at a fixed rate, encoded with
// the soundtrack into an MP4, or written as numbered PNG files.
//
// The main thread renders (--jobs 1) or collects the render workers' frames in order;
// a writer thread hands each finished frame to ffmpeg's pipe (or to a PNG file)
// through a short queue, so rendering and encoding overlap and the renderer waits
// only when the queue is full.
#include "capture.h"
#include "encoder.h"
#include "platform/host.h"
#include "scene/scene.h"
#include "stream/mp3_decode.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

// What one command asks for.
struct capture_request {
    const char* output = nullptr; // OUT.mp4 or DIR; null for a render-only run
    int fps = 60;
    int from_ms = 0;
    int to_ms = -1;           // -1: up to the show's end
    bool null_output = false; // render only, write nothing
    int jobs = 0;             // rendering processes; 0 until settled (one per core)
};

struct queued_frame {
    int64_t index;
    std::vector<unsigned char> rgb;
};

// Frames at most waiting for the writer: enough to ride out a slow frame of either
// side, small enough that the renderer cannot run far ahead of the encoder.
constexpr size_t queue_depth = 3;

static struct {
    // The frame queue between the renderer (main thread) and the writer thread.
    std::mutex lock;
    std::condition_variable changed;
    std::deque<queued_frame> queued;               // main appends, writer takes
    std::vector<std::vector<unsigned char>> spare; // writer returns written buffers, main reuses
    bool no_more = false;                          // main: the last frame is queued
    bool failed = false;                           // writer: a frame was not written; stop
    bool producer_failed = false; // main: a render worker failed (said); abandon the run
    // Set by main before the writer starts: what writing a frame means.
    bool (*write_frame)(int64_t index, const std::vector<unsigned char>& rgb) = nullptr;
    std::string frames_dir; // main, before the writer starts: where `frames` writes

    // Progress on standard error; main thread only.
    int64_t started_ns = 0;
    int64_t last_report_ns = 0;
    bool to_terminal = false; // standard error is a terminal: one line updated in place
    bool line_open = false;   // a progress line without its newline is on the terminal

    volatile std::sig_atomic_t interrupted = 0; // signal handler: Ctrl-C or SIGTERM arrived
} capture;

// ---------------------------------------------------------------------------------
// Arguments

static const char video_help[] =
    "usage: vornhal-capture video OUT.mp4 [--fps N] [--from MS] [--to MS] [--jobs N] [--null]\n"
    "Renders the show with no display, N frames a second (default 60) from MS\n"
    "milliseconds (default 0) up to --to or the show's end, and encodes it with its\n"
    "soundtrack into an H.264/AAC MP4 through ffmpeg, which must be on PATH.\n"
    "--jobs N renders in N processes at once (default: one per CPU core), each with\n"
    "LP_NUM_THREADS set to share the cores unless the environment sets it; the frames\n"
    "are the same bytes whatever N. --jobs 1 renders in this process alone.\n"
    "--null renders the same frames and writes nothing: a baseline for speed.\n"
    "Reads data/ below the working directory.\n";

static const char frames_help[] =
    "usage: vornhal-capture frames DIR [--fps N] [--from MS] [--to MS] [--jobs N]\n"
    "Renders the same frames as video and writes them to DIR (created if missing) as\n"
    "frame-000000.png, frame-000001.png, ... (800 x 600 RGB).\n"
    "Reads data/ below the working directory.\n";

static bool asks_for_help(int argc, char** argv) {
    for (int i = 1; i < argc; i++)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return true;
    return false;
}

static bool parse_whole_number(const char* option, const char* text, long low, long high,
                               int& value) {
    char* end = nullptr;
    errno = 0;
    long parsed = text ? std::strtol(text, &end, 10) : 0;
    if (text == nullptr || *text == '\0' || *end != '\0' || errno != 0 || parsed < low ||
        parsed > high) {
        std::fprintf(stderr, "vornhal-capture: %s needs a whole number from %ld to %ld, not '%s'\n",
                     option, low, high, text ? text : "");
        return false;
    }
    value = static_cast<int>(parsed);
    return true;
}

// Reads "OUT [--fps N] [--from MS] [--to MS] [--null]" (argv[0] is the subcommand).
// One line to standard error and false for anything it cannot take.
static bool parse_request(int argc, char** argv, bool allow_null, capture_request& request) {
    constexpr int max_fps = 1000;
    constexpr int max_jobs = 256;
    const char* command = argv[0];
    const char* usage = allow_null ? "usage: vornhal-capture video OUT.mp4 [--fps N] [--from MS] "
                                     "[--to MS] [--jobs N] [--null]"
                                   : "usage: vornhal-capture frames DIR [--fps N] [--from MS] "
                                     "[--to MS] [--jobs N]";
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        std::string name = arg, value_text;
        bool inline_value = false;
        size_t equals = arg.find('=');
        if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = arg.substr(0, equals);
            value_text = arg.substr(equals + 1);
            inline_value = true;
        }
        if (name == "--fps" || name == "--from" || name == "--to" || name == "--jobs") {
            if (!inline_value) {
                if (i + 1 >= argc) {
                    std::fprintf(stderr, "vornhal-capture: %s needs a value\n%s\n", name.c_str(),
                                 usage);
                    return false;
                }
                value_text = argv[++i];
            }
            const char* text = value_text.c_str();
            bool parsed =
                name == "--fps"    ? parse_whole_number("--fps", text, 1, max_fps, request.fps)
                : name == "--from" ? parse_whole_number("--from", text, 0, INT_MAX, request.from_ms)
                : name == "--to"   ? parse_whole_number("--to", text, 1, INT_MAX, request.to_ms)
                                   : parse_whole_number("--jobs", text, 1, max_jobs, request.jobs);
            if (!parsed)
                return false;
        } else if (arg == "--null" && allow_null) {
            request.null_output = true;
        } else if (arg.rfind("-", 0) == 0 && arg.size() > 1) {
            std::fprintf(stderr, "vornhal-capture: %s: unknown option '%s'\n%s\n", command,
                         arg.c_str(), usage);
            return false;
        } else if (request.output == nullptr) {
            request.output = argv[i];
        } else {
            std::fprintf(stderr, "vornhal-capture: %s: unexpected argument '%s'\n%s\n", command,
                         arg.c_str(), usage);
            return false;
        }
    }
    if (request.output == nullptr && !request.null_output) {
        std::fprintf(stderr, "vornhal-capture: %s: missing the output %s\n%s\n", command,
                     allow_null ? "file" : "directory", usage);
        return false;
    }
    if (request.output != nullptr && request.output[0] == '\0') {
        std::fprintf(stderr, "vornhal-capture: %s: the output %s name is empty\n", command,
                     allow_null ? "file" : "directory");
        return false;
    }
    if (request.to_ms >= 0 && request.to_ms <= request.from_ms) {
        std::fprintf(stderr, "vornhal-capture: --to (%d) must be later than --from (%d)\n",
                     request.to_ms, request.from_ms);
        return false;
    }
    if (request.jobs == 0)
        request.jobs = usable_cores();
    return true;
}

// ---------------------------------------------------------------------------------
// Which frames

// The frames to capture: those before --to that the demo would still present, that
// is frames with from + floor(i * 1000 / fps) < end, or i * 1000 < (end - from) * fps.
static frame_span plan_frames(const capture_request& request) {
    const int64_t end_ms =
        request.to_ms >= 0 ? std::min(request.to_ms, show_length_ms) : show_length_ms;
    const int64_t count =
        end_ms > request.from_ms ? ((end_ms - request.from_ms) * request.fps + 999) / 1000 : 0;
    return {request.from_ms, request.fps, count};
}

// ---------------------------------------------------------------------------------
// Progress

static void end_progress_line() {
    if (capture.line_open)
        std::fputc('\n', stderr);
    capture.line_open = false;
}

// "frame 1234 of 8520, 57.3 fps, 2:07 left": in place on a terminal (a few times a
// second), otherwise a plain line a second so that logs stay readable.
static void report_progress(int64_t done, int64_t total) {
    constexpr int64_t terminal_interval_ns = 200000000;
    constexpr int64_t log_interval_ns = 1000000000;
    const int64_t now_ns = monotonic_ns();
    // The first frame is reported at once: the capture is under way.
    if (done > 1 && done < total &&
        now_ns - capture.last_report_ns <
            (capture.to_terminal ? terminal_interval_ns : log_interval_ns))
        return;
    capture.last_report_ns = now_ns;
    double elapsed_s = static_cast<double>(now_ns - capture.started_ns) / 1e9;
    double fps = elapsed_s > 0 ? done / elapsed_s : 0;
    long left_s = fps > 0 ? static_cast<long>((total - done) / fps + 0.5) : 0;
    char line[160];
    std::snprintf(
        line, sizeof line, "vornhal-capture: frame %lld of %lld, %.1f fps, %ld:%02ld left",
        static_cast<long long>(done), static_cast<long long>(total), fps, left_s / 60, left_s % 60);
    if (capture.to_terminal) {
        std::fprintf(stderr, "\r%s\033[K", line);
        capture.line_open = true;
    } else {
        std::fprintf(stderr, "%s\n", line);
    }
    std::fflush(stderr);
}

// ---------------------------------------------------------------------------------
// The frame queue

static void run_writer() {
    std::unique_lock<std::mutex> hold(capture.lock);
    for (;;) {
        capture.changed.wait(hold, [] { return !capture.queued.empty() || capture.no_more; });
        if (capture.queued.empty())
            return;
        queued_frame frame = std::move(capture.queued.front());
        capture.queued.pop_front();
        hold.unlock();
        bool written = capture.write_frame(frame.index, frame.rgb);
        hold.lock();
        capture.spare.push_back(std::move(frame.rgb));
        if (!written) {
            capture.failed = true;
            capture.queued.clear();
            capture.changed.notify_all();
            return;
        }
        capture.changed.notify_all();
    }
}

static void on_interrupt(int) {
    capture.interrupted = 1;
}

// Opens this process's context (--jobs 1) or starts the render workers. False when
// neither can render (said already).
static bool start_rendering(const capture_request& request, const frame_span& span) {
    if (request.jobs == 1)
        return open_capture_context();
    return start_render_workers(span,
                                static_cast<int>(std::min<int64_t>(request.jobs, span.count)));
}

// Closes the context or ends the workers, killing them when abandon is set. False when
// a worker failed (one line said).
static bool stop_rendering(const capture_request& request, bool abandon) {
    if (request.jobs == 1) {
        close_capture_context();
        return true;
    }
    return stop_render_workers(abandon);
}

// Frame index, rendered here or received from its worker. False when a worker failed
// (one line said) or the run was interrupted.
static bool produce_frame(const capture_request& request, const frame_span& span, int64_t index,
                          std::vector<unsigned char>& rgb) {
    if (request.jobs == 1) {
        render_capture_frame(frame_time_ms(span, index), rgb);
        return true;
    }
    return receive_worker_frame(index, rgb, capture.interrupted);
}

// Renders the span's frames and hands them to the writer, in order. False when a
// worker or the writer failed (its reason is already out) or the run was interrupted
// (said here).
static bool render_all_frames(const capture_request& request, const frame_span& span,
                              void (*abandon)()) {
    const int64_t count = span.count;
    capture.queued.clear();
    capture.no_more = false;
    capture.failed = false;
    capture.producer_failed = false;
    std::thread writer(run_writer);

    bool rendered_all = true;
    for (int64_t index = 0; index < count; index++) {
        std::vector<unsigned char> rgb;
        {
            std::unique_lock<std::mutex> hold(capture.lock);
            // Wake now and then to notice an interrupt while the encoder is slow.
            while (!capture.failed && capture.queued.size() >= queue_depth && !capture.interrupted)
                capture.changed.wait_for(hold, std::chrono::milliseconds(100));
            if (capture.failed || capture.interrupted) {
                rendered_all = false;
                break;
            }
            if (!capture.spare.empty()) {
                rgb = std::move(capture.spare.back());
                capture.spare.pop_back();
            }
        }
        if (!produce_frame(request, span, index, rgb)) {
            capture.producer_failed = !capture.interrupted;
            rendered_all = false;
            break;
        }
        {
            std::lock_guard<std::mutex> hold(capture.lock);
            capture.queued.push_back({index, std::move(rgb)});
        }
        capture.changed.notify_all();
        report_progress(index + 1, count);
    }

    // Unblocks a writer stuck on a full pipe. A writer that failed has its own reason,
    // which stopping the encoder now could mask.
    if ((capture.interrupted || capture.producer_failed) && abandon != nullptr)
        abandon();
    {
        std::lock_guard<std::mutex> hold(capture.lock);
        capture.no_more = true;
        if (!rendered_all)
            capture.queued.clear();
    }
    capture.changed.notify_all();
    writer.join();
    end_progress_line();
    capture.spare.clear();
    if (capture.interrupted) {
        std::fprintf(stderr, "vornhal-capture: interrupted\n");
        return false;
    }
    return rendered_all && !capture.failed;
}

// Ctrl-C and SIGTERM stop the capture cleanly (temporaries removed); a vanished
// encoder shows up as EPIPE rather than killing us.
static void install_signal_handlers() {
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction action = {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    capture.interrupted = 0;
}

static void start_progress() {
    capture.to_terminal = isatty(STDERR_FILENO) == 1;
    capture.line_open = false;
    capture.started_ns = monotonic_ns();
    capture.last_report_ns = capture.started_ns;
}

static double seconds_since_start() {
    return static_cast<double>(monotonic_ns() - capture.started_ns) / 1e9;
}

// ---------------------------------------------------------------------------------
// Temporary files, next to the output so that the final rename cannot cross devices.

// Creates an empty file named after base with a unique suffix. False with errno set.
static bool make_temporary(const std::string& base, const char* suffix, std::string& path) {
    // "./" keeps a name such as "-" from reading as an option to ffmpeg.
    std::string pattern = (base[0] == '/' ? "" : "./") + base + ".partial-XXXXXX" + suffix;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemps(name.data(), static_cast<int>(std::strlen(suffix)));
    if (fd < 0)
        return false;
    close(fd);
    path = name.data();
    return true;
}

// Gives a finished file the permissions a plainly created one would have (mkstemp
// makes it private) and moves it to its final name.
static bool publish(const std::string& temporary, const std::string& final_path) {
    mode_t mask = umask(0);
    umask(mask);
    chmod(temporary.c_str(), 0666 & ~mask);
    if (std::rename(temporary.c_str(), final_path.c_str()) != 0) {
        std::fprintf(stderr, "vornhal-capture: cannot move the finished file to %s: %s\n",
                     final_path.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------
// video

static bool write_to_encoder(int64_t, const std::vector<unsigned char>& rgb) {
    return write_encoder_frame(rgb);
}

static bool discard_frame(int64_t, const std::vector<unsigned char>&) {
    return true;
}

// The music file the demo plays, relative to the working directory.
static const char* const music_path = "data/music.mp3";

// One line and true when the span holds no frame.
static bool nothing_to_capture(const capture_request& request, const frame_span& span) {
    if (span.count > 0)
        return false;
    std::fprintf(stderr, "vornhal-capture: nothing to capture: the show is over at %d ms\n",
                 request.from_ms);
    return true;
}

static bool capture_video(const capture_request& request, const std::string& ffmpeg,
                          const std::string& video_path, const std::string& audio_path) {
    const frame_span span = plan_frames(request);
    // Workers start first: they render while the soundtrack is decoded, and hold none
    // of the encoder's descriptors.
    if (nothing_to_capture(request, span) || !start_rendering(request, span))
        return false;

    start_progress();
    bool rendered = false, done = false;
    if (request.null_output) {
        capture.write_frame = discard_frame;
        done = rendered = render_all_frames(request, span, nullptr);
    } else {
        // The soundtrack span as the demo plays it from the first frame's moment, exactly
        // as long as the frames last.
        const int64_t first_sample = mp3_frame_at_ms(request.from_ms);
        const int64_t sample_count = (span.count * mp3_rate_hz + request.fps / 2) / request.fps;
        std::vector<int16_t> pcm;
        std::string reason;
        if (!decode_soundtrack_span(music_path, first_sample, sample_count, pcm, reason))
            std::fprintf(stderr, "vornhal-capture: warning: %s; the video will be silent\n",
                         reason.c_str());
        bool ready = write_wav(audio_path.c_str(), pcm);
        pcm = {};
        encoder_settings settings = {ffmpeg,       video_path,    audio_path,
                                     screen_width, screen_height, request.fps};
        if (ready && start_encoder(settings)) {
            capture.write_frame = write_to_encoder;
            rendered = render_all_frames(request, span, stop_encoder);
            // A writer that failed means ffmpeg failed; finish_encoder says how.
            done = finish_encoder(!capture.interrupted && !capture.producer_failed) && rendered;
        }
    }
    done = stop_rendering(request, !rendered) && done;
    if (!done)
        return false;

    double wall_s = seconds_since_start();
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

int run_video_command(int argc, char** argv) {
    if (asks_for_help(argc, argv)) {
        std::fputs(video_help, stdout);
        return 0;
    }
    capture_request request;
    if (!parse_request(argc, argv, true, request))
        return 1;
    install_signal_handlers();
    if (request.null_output)
        return capture_video(request, {}, {}, {}) ? 0 : capture.interrupted ? 130 : 1;

    const std::string ffmpeg = find_on_path("ffmpeg");
    if (ffmpeg.empty()) {
        std::fprintf(stderr, "vornhal-capture: ffmpeg was not found on PATH; install the ffmpeg "
                             "package to make videos\n");
        return 1;
    }
    const std::string output = request.output;
    struct stat info;
    if (stat(output.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fprintf(stderr, "vornhal-capture: %s is a directory, not a file name\n",
                     output.c_str());
        return 1;
    }
    // ffmpeg writes under temporary names; the MP4 appears under its own name only
    // once it is complete.
    std::string video_path, audio_path;
    if (!make_temporary(output, ".mp4", video_path)) {
        std::fprintf(stderr, "vornhal-capture: cannot write %s: %s\n", output.c_str(),
                     std::strerror(errno));
        return 1;
    }
    if (!make_temporary(output, ".wav", audio_path)) {
        std::fprintf(stderr, "vornhal-capture: cannot write %s: %s\n", output.c_str(),
                     std::strerror(errno));
        unlink(video_path.c_str());
        return 1;
    }
    bool done = capture_video(request, ffmpeg, video_path, audio_path);
    unlink(audio_path.c_str());
    if (done)
        done = publish(video_path, output);
    if (!done) {
        unlink(video_path.c_str());
        return capture.interrupted ? 130 : 1;
    }
    std::fprintf(stderr, "vornhal-capture: wrote %s\n", output.c_str());
    return 0;
}

// ---------------------------------------------------------------------------------
// frames

static std::string frame_file_name(int64_t index) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%06lld.png", static_cast<long long>(index));
    return name;
}

// write_rgb_png writes beside the target and renames, so a file with a frame's name
// is always a complete picture.
static bool write_frame_png(int64_t index, const std::vector<unsigned char>& rgb) {
    const std::string path = capture.frames_dir + "/" + frame_file_name(index);
    return write_rgb_png(path.c_str(), rgb.data(), screen_width, screen_height);
}

int run_frames_command(int argc, char** argv) {
    if (asks_for_help(argc, argv)) {
        std::fputs(frames_help, stdout);
        return 0;
    }
    capture_request request;
    if (!parse_request(argc, argv, false, request))
        return 1;
    install_signal_handlers();

    std::string dir = request.output;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "vornhal-capture: cannot create %s: %s\n", dir.c_str(),
                     std::strerror(errno));
        return 1;
    }
    // Find out now, not after the first frame, whether the directory takes files.
    std::string probe;
    if (!make_temporary(dir + "/frame", ".png", probe)) {
        std::fprintf(stderr, "vornhal-capture: cannot write into %s: %s\n", dir.c_str(),
                     std::strerror(errno));
        return 1;
    }
    unlink(probe.c_str());

    const frame_span span = plan_frames(request);
    if (nothing_to_capture(request, span) || !start_rendering(request, span))
        return 1;
    start_progress();
    capture.frames_dir = dir;
    capture.write_frame = write_frame_png;
    const bool rendered = render_all_frames(request, span, nullptr);
    if (!stop_rendering(request, !rendered) || !rendered)
        return capture.interrupted ? 130 : 1;
    const int64_t count = span.count;

    double wall_s = seconds_since_start();
    std::fprintf(stderr, "vornhal-capture: wrote %lld frames to %s/ in %.2f s, %.1f fps\n",
                 static_cast<long long>(count), dir.c_str(), wall_s, count / wall_s);
    // Frames left over from a longer earlier run would join this sequence in an editor.
    const std::string next = dir + "/" + frame_file_name(count);
    if (access(next.c_str(), F_OK) == 0)
        std::fprintf(stderr,
                     "vornhal-capture: warning: %s and any later frames are from an earlier run\n",
                     next.c_str());
    return 0;
}
