// The ffmpeg side of vornhal-capture: the soundtrack span it muxes in, and the encoder
// child fed raw RGB frames through a pipe.
#include "capture.h"

#include "datafiles/data_files.h"
#include "host/files.h"
#include "stream/mp3_decode.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct encoder_state {
    pid_t pid = -1;               // the running ffmpeg
    int frame_fd = -1;            // write end of its standard input
    FILE* diagnostics = nullptr;  // its standard error, quoted on failure
    std::string output_path;      // the file it was asked to write
    bool stopped_reading = false; // a frame write failed
};
encoder_state encoder;

// The soundtrack from first_sample on, sample_count stereo frames at 44.1 kHz as the
// demo plays it; silence past the music's end. False, with pcm all silence and the
// reason, when the music cannot be read or decoded.
bool decode_span(const std::string& mp3_path, int64_t first_sample, int64_t sample_count,
                 std::vector<int16_t>& pcm, std::string& reason) {
    pcm.assign(static_cast<size_t>(sample_count) * mp3_channels, 0);
    std::vector<unsigned char> mp3;
    errno = 0;
    if (!read_whole_file(mp3_path.c_str(), mp3, max_music_bytes)) {
        reason =
            "cannot read " + mp3_path + (errno ? std::string(": ") + std::strerror(errno) : "");
        return false;
    }
    const char* why = nullptr;
    mp3_decoder* decoder = open_mp3_decoder(mp3.data(), mp3.size(), &why);
    if (decoder == nullptr) {
        reason = "cannot decode " + mp3_path + (why ? std::string(": ") + why : "");
        return false;
    }
    if (first_sample < mp3_decoder_length(decoder) && seek_mp3_decoder(decoder, first_sample))
        read_mp3_frames(decoder, pcm.data(), static_cast<size_t>(sample_count));
    close_mp3_decoder(decoder);
    return true;
}

void put_le(std::vector<unsigned char>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; i++)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

} // namespace

bool write_soundtrack_span(const capture_request& request, const frame_span& span,
                           const std::string& audio_path) {
    const int64_t first_sample = mp3_frame_at_ms(request.from_ms);
    const int64_t sample_count = (span.count * mp3_rate_hz + request.fps / 2) / request.fps;
    std::vector<int16_t> pcm;
    std::string reason;
    if (!decode_span(data_file_path(music_file_name), first_sample, sample_count, pcm, reason))
        std::fprintf(stderr, "vornhal-capture: warning: %s; the video will be silent\n",
                     reason.c_str());

    constexpr int bits = 16;
    const uint32_t data_bytes = static_cast<uint32_t>(pcm.size() * sizeof(int16_t));
    std::vector<unsigned char> header = {'R', 'I', 'F', 'F'};
    put_le(header, 36 + data_bytes, 4);
    header.insert(header.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put_le(header, 16, 4); // format chunk size
    put_le(header, 1, 2);  // integer PCM
    put_le(header, mp3_channels, 2);
    put_le(header, mp3_rate_hz, 4);
    put_le(header, mp3_rate_hz * mp3_channels * bits / 8, 4);
    put_le(header, mp3_channels * bits / 8, 2);
    put_le(header, bits, 2);
    header.insert(header.end(), {'d', 'a', 't', 'a'});
    put_le(header, data_bytes, 4);
    // WAV is little-endian, like every machine this runs on.
    FILE* file = std::fopen(audio_path.c_str(), "wb");
    bool written = file != nullptr &&
                   std::fwrite(header.data(), 1, header.size(), file) == header.size() &&
                   std::fwrite(pcm.data(), sizeof(int16_t), pcm.size(), file) == pcm.size();
    if (file != nullptr && std::fclose(file) != 0)
        written = false;
    if (!written)
        std::fprintf(stderr, "vornhal-capture: cannot write %s: %s\n", audio_path.c_str(),
                     std::strerror(errno));
    return written;
}

bool start_encoder(const capture_request& request, const std::string& ffmpeg,
                   const std::string& video_path, const std::string& audio_path) {
    int frames[2];
    if (pipe2(frames, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "vornhal-capture: cannot make a pipe: %s\n", std::strerror(errno));
        return false;
    }
    // A bigger pipe lets the relay run ahead by more than a sliver of a frame.
    constexpr int pipe_bytes = 1 << 20;
    fcntl(frames[1], F_SETPIPE_SZ, pipe_bytes);

    const std::string size =
        std::to_string(request.width_px) + "x" + std::to_string(request.height_px);
    // x264 at "veryfast" keeps well ahead of the renderer on two cores while giving
    // near-transparent pictures at CRF 18. BT.709, limited range, tagged so that
    // players convert back with the same matrix. faststart puts the index first so
    // browsers can start playing before the whole file has arrived.
    const std::vector<std::string> args = {
        ffmpeg, "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
        // The frames, through the pipe.
        "-f", "rawvideo", "-pix_fmt", "rgb24", "-video_size", size, "-framerate",
        std::to_string(request.fps), "-i", "pipe:0",
        // The soundtrack span, exactly as long as the frames.
        "-i", audio_path, "-map", "0:v:0", "-map", "1:a:0",
        // Picture.
        "-vf", "scale=out_color_matrix=bt709:out_range=tv", "-c:v", "libx264", "-preset",
        "veryfast", "-crf", "18", "-pix_fmt", "yuv420p", "-colorspace", "bt709", "-color_primaries",
        "bt709", "-color_trc", "bt709", "-color_range", "tv",
        // Sound.
        "-c:a", "aac", "-b:a", "192k",
        // Container.
        "-movflags", "+faststart", "-f", "mp4", video_path};

    encoder = {};
    encoder.diagnostics = open_diagnostics();
    const bool started = start_child(
        args, frames[0], -1, encoder.diagnostics ? fileno(encoder.diagnostics) : -1, encoder.pid);
    close(frames[0]);
    if (!started) {
        close(frames[1]);
        if (encoder.diagnostics)
            std::fclose(encoder.diagnostics);
        encoder = {};
        return false;
    }
    encoder.output_path = video_path;
    encoder.frame_fd = frames[1];
    return true;
}

bool write_encoder_frame(const std::vector<unsigned char>& rgb) {
    if (write_whole(encoder.frame_fd, rgb.data(), rgb.size()))
        return true;
    encoder.stopped_reading = !capture_interrupted;
    return false;
}

bool finish_encoder(bool abandon, bool report) {
    if (encoder.pid < 0)
        return false;
    if (abandon)
        kill(encoder.pid, SIGTERM);
    // End of input: ffmpeg flushes, writes the index and moves it to the front.
    close(encoder.frame_fd);
    std::string ended = wait_for_exit(encoder.pid);
    const std::string complaint = last_line_of(encoder.diagnostics);
    if (encoder.diagnostics)
        std::fclose(encoder.diagnostics);
    const encoder_state finished = encoder;
    encoder = {};
    if (abandon || !report)
        return false;

    struct stat written;
    if (ended.empty() && finished.stopped_reading)
        ended = "stopped reading frames before the end";
    else if (ended.empty() &&
             (stat(finished.output_path.c_str(), &written) != 0 || written.st_size == 0))
        ended = "finished without writing the video";
    if (ended.empty())
        return true;
    std::fprintf(stderr, "vornhal-capture: ffmpeg %s%s%s\n", ended.c_str(),
                 complaint.empty() ? "" : ": ", complaint.c_str());
    return false;
}
