// The ffmpeg side of vornhal-capture: the encoder child and its pipe, and the
// soundtrack span decoded for muxing.
#include "encoder.h"

#include "platform/host.h"
#include "stream/mp3_decode.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <atomic>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

static struct {
    pid_t pid = -1;              // the running ffmpeg; main thread writes
    int frame_fd = -1;           // write end of its standard input; main thread opens/closes
    FILE* diagnostics = nullptr; // ffmpeg's standard error, kept to quote on failure; main
    std::string output_path;     // the file ffmpeg was asked to write; main
    std::atomic<bool> stopped_reading{false}; // a frame write failed; writer thread sets
} encoder;

std::string find_on_path(const char* name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr)
        return {};
    std::string dirs = path;
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        // An empty entry means the current directory.
        std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        std::string candidate = dir + "/" + name;
        struct stat info;
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

// Starts argv[0] reading in_fd, writing nothing, its errors to err_fd (-1: nowhere),
// in a process group of its own so that a Ctrl-C at the terminal reaches only
// vornhal-capture, which then decides what becomes of the child. The child dies with
// vornhal-capture even when that is killed outright.
static bool spawn_process(const std::vector<std::string>& args, int in_fd, int err_fd, pid_t& pid) {
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    const pid_t parent = getpid();
    pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls until exec: the renderer's threads may hold locks.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        const int null_fd = open("/dev/null", O_RDWR);
        if (in_fd == STDIN_FILENO)
            fcntl(in_fd, F_SETFD, 0); // dup2 onto itself would keep close-on-exec
        dup2(in_fd, STDIN_FILENO);
        dup2(null_fd, STDOUT_FILENO);
        dup2(err_fd >= 0 ? err_fd : null_fd, STDERR_FILENO);
        // The child starts with default signal handling even though we ignore SIGPIPE.
        struct sigaction default_action = {};
        default_action.sa_handler = SIG_DFL;
        for (int sig : {SIGPIPE, SIGINT, SIGTERM})
            sigaction(sig, &default_action, nullptr);
        execve(argv[0], argv.data(), environ);
        _exit(127);
    }
    if (pid < 0) {
        std::fprintf(stderr, "vornhal-capture: cannot run %s: %s\n", argv[0], std::strerror(errno));
        return false;
    }
    setpgid(pid, pid); // as the child does, whichever comes first
    return true;
}

std::string wait_for_exit(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return std::string("lost track of it: ") + std::strerror(errno);
    }
    char text[64];
    if (WIFEXITED(status)) {
        if (WEXITSTATUS(status) == 0)
            return {};
        std::snprintf(text, sizeof text, "exited with status %d", WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
        std::snprintf(text, sizeof text, "was killed by signal %d (%s)", WTERMSIG(status),
                      strsignal(WTERMSIG(status)));
    } else {
        std::snprintf(text, sizeof text, "ended with wait status %d", status);
    }
    return text;
}

std::string last_line_of(FILE* file) {
    if (file == nullptr)
        return {};
    std::fflush(file);
    std::rewind(file);
    std::string last, line;
    int c;
    while ((c = std::fgetc(file)) != EOF) {
        if (c == '\n' || c == '\r') {
            if (!line.empty())
                last = line;
            line.clear();
        } else {
            line += static_cast<char>(c);
        }
    }
    if (!line.empty())
        last = line;
    return last;
}

bool decode_soundtrack_span(const char* mp3_path, int64_t first_sample, int64_t sample_count,
                            std::vector<int16_t>& pcm, std::string& reason) {
    pcm.assign(static_cast<size_t>(sample_count) * mp3_channels, 0);

    // The whole file in memory, as the demo holds it.
    constexpr size_t max_music_bytes = 256u << 20;
    std::vector<unsigned char> mp3;
    errno = 0;
    if (!read_whole_file(mp3_path, mp3, max_music_bytes)) {
        reason = std::string("cannot read ") + mp3_path +
                 (errno ? std::string(": ") + std::strerror(errno) : std::string());
        return false;
    }

    const char* why = nullptr;
    mp3_decoder* decoder = open_mp3_decoder(mp3.data(), mp3.size(), &why);
    if (decoder == nullptr) {
        reason = std::string("cannot decode ") + mp3_path + (why ? std::string(": ") + why : "");
        return false;
    }
    // Past the music's end the demo plays silence, which pcm already holds.
    if (first_sample < mp3_decoder_length(decoder) && seek_mp3_decoder(decoder, first_sample))
        read_mp3_frames(decoder, pcm.data(), static_cast<size_t>(sample_count));
    close_mp3_decoder(decoder);
    return true;
}

static void put_le(std::vector<unsigned char>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; i++)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

bool write_wav(const char* path, const std::vector<int16_t>& pcm) {
    constexpr int channels = mp3_channels;
    constexpr int bits = 16;
    const uint32_t data_bytes = static_cast<uint32_t>(pcm.size() * sizeof(int16_t));
    std::vector<unsigned char> header;
    header.insert(header.end(), {'R', 'I', 'F', 'F'});
    put_le(header, 36 + data_bytes, 4);
    header.insert(header.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put_le(header, 16, 4); // format chunk size
    put_le(header, 1, 2);  // integer PCM
    put_le(header, channels, 2);
    put_le(header, mp3_rate_hz, 4);
    put_le(header, mp3_rate_hz * channels * bits / 8, 4);
    put_le(header, channels * bits / 8, 2);
    put_le(header, bits, 2);
    header.insert(header.end(), {'d', 'a', 't', 'a'});
    put_le(header, data_bytes, 4);

    // WAV is little-endian, like every machine this runs on.
    FILE* file = std::fopen(path, "wb");
    bool written = file != nullptr &&
                   std::fwrite(header.data(), 1, header.size(), file) == header.size() &&
                   std::fwrite(pcm.data(), sizeof(int16_t), pcm.size(), file) == pcm.size();
    if (file != nullptr && std::fclose(file) != 0)
        written = false;
    if (!written)
        std::fprintf(stderr, "vornhal-capture: cannot write %s: %s\n", path, std::strerror(errno));
    return written;
}

bool start_encoder(const encoder_settings& settings) {
    int frames[2];
    if (pipe2(frames, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "vornhal-capture: cannot make a pipe: %s\n", std::strerror(errno));
        return false;
    }
    // A bigger pipe lets the renderer run ahead by more than a sliver of a frame.
    constexpr int pipe_bytes = 1 << 20;
    fcntl(frames[1], F_SETPIPE_SZ, pipe_bytes);

    encoder.diagnostics = std::tmpfile();
    std::string size = std::to_string(settings.width_px) + "x" + std::to_string(settings.height_px);
    std::string rate = std::to_string(settings.fps);
    // x264 at "veryfast" keeps well ahead of the renderer on two cores while giving
    // near-transparent pictures at CRF 18. BT.709, limited range, tagged so that
    // players convert back with the same matrix. faststart puts the index first so
    // browsers can start playing before the whole file has arrived.
    std::vector<std::string> args = {
        settings.ffmpeg_path, "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
        // The frames, through the pipe.
        "-f", "rawvideo", "-pix_fmt", "rgb24", "-video_size", size, "-framerate", rate, "-i",
        "pipe:0",
        // The soundtrack span, exactly as long as the frames.
        "-i", settings.audio_path, "-map", "0:v:0", "-map", "1:a:0",
        // Picture.
        "-vf", "scale=out_color_matrix=bt709:out_range=tv", "-c:v", "libx264", "-preset",
        "veryfast", "-crf", "18", "-pix_fmt", "yuv420p", "-colorspace", "bt709", "-color_primaries",
        "bt709", "-color_trc", "bt709", "-color_range", "tv",
        // Sound.
        "-c:a", "aac", "-b:a", "192k",
        // Container.
        "-movflags", "+faststart", "-f", "mp4", settings.output_path};

    pid_t pid;
    bool started =
        spawn_process(args, frames[0], encoder.diagnostics ? fileno(encoder.diagnostics) : -1, pid);
    close(frames[0]);
    if (!started) {
        close(frames[1]);
        if (encoder.diagnostics)
            std::fclose(encoder.diagnostics);
        encoder.diagnostics = nullptr;
        return false;
    }
    encoder.pid = pid;
    encoder.output_path = settings.output_path;
    encoder.frame_fd = frames[1];
    encoder.stopped_reading = false;
    return true;
}

bool write_encoder_frame(const std::vector<unsigned char>& rgb) {
    const unsigned char* bytes = rgb.data();
    size_t left = rgb.size();
    while (left > 0) {
        ssize_t wrote = write(encoder.frame_fd, bytes, left);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            // EPIPE: ffmpeg has gone. SIGPIPE is ignored, so we learn it here.
            encoder.stopped_reading = true;
            return false;
        }
        bytes += wrote;
        left -= static_cast<size_t>(wrote);
    }
    return true;
}

void stop_encoder() {
    if (encoder.pid > 0)
        kill(encoder.pid, SIGTERM);
}

bool finish_encoder(bool report) {
    if (encoder.pid < 0)
        return false;
    // End of input: ffmpeg flushes, writes the index and moves it to the front.
    close(encoder.frame_fd);
    encoder.frame_fd = -1;
    std::string ended = wait_for_exit(encoder.pid);
    encoder.pid = -1;
    std::string complaint = last_line_of(encoder.diagnostics);
    if (encoder.diagnostics)
        std::fclose(encoder.diagnostics);
    encoder.diagnostics = nullptr;
    if (!report)
        return false;

    struct stat written;
    if (ended.empty() && encoder.stopped_reading)
        ended = "stopped reading frames before the end";
    else if (ended.empty() &&
             (stat(encoder.output_path.c_str(), &written) != 0 || written.st_size == 0))
        ended = "finished without writing the video";
    if (ended.empty())
        return true;
    std::fprintf(stderr, "vornhal-capture: ffmpeg %s%s%s\n", ended.c_str(),
                 complaint.empty() ? "" : ": ", complaint.c_str());
    return false;
}
