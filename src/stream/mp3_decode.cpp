// MP3 decoding over libmpg123 with a reader over a memory block.
#include "stream/mp3_decode.h"

#include <mpg123.h>
#include <sys/types.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <numeric>
#include <vector>

// The file's own rate is converted to the output rate here, by a windowed-sinc filter
// evaluated afresh for every output frame: output frame k is a fixed weighting of the
// 32 file frames around time k / 44100 s, so a seek starts the filter exactly where an
// uninterrupted decode has it, and the demo and the capture tool get the same samples
// from the same file. A stateful converter (SDL_AudioStream, or SDL converting for the
// device) would restart its filter on every seek and drift from a decode from the start.
constexpr int half_taps = 16;
constexpr int taps = 2 * half_taps;
constexpr int64_t input_chunk_frames = 4096;

struct mp3_decoder {
    mpg123_handle* handle;
    const unsigned char* data; // the caller's block; read by the reader callbacks
    size_t size;
    size_t read_offset;         // reader position in data
    int64_t file_rate;          // the file's own rate, fixed at open
    int64_t phase_count;        // filter phases: 44100 / gcd(file_rate, 44100)
    std::vector<float> weights; // phase_count rows of taps weights
    int64_t length;             // gapless output frames in the whole stream
    int64_t position;           // next output frame read_mp3_frames delivers
    std::vector<int16_t> input; // decoded file frames (stereo) from input_first on
    int64_t input_first;
    bool input_ended; // nothing more comes from the file until the next seek
    bool failed;      // a decode error or a rate switch ended the stream for good
};

static ssize_t read_memory(void* handle, void* out, size_t bytes) {
    mp3_decoder* decoder = static_cast<mp3_decoder*>(handle);
    size_t left = decoder->size - decoder->read_offset;
    size_t count = std::min(bytes, left);
    memcpy(out, decoder->data + decoder->read_offset, count);
    decoder->read_offset += count;
    return static_cast<ssize_t>(count);
}

static off_t seek_memory(void* handle, off_t offset, int whence) {
    mp3_decoder* decoder = static_cast<mp3_decoder*>(handle);
    off_t base = 0;
    if (whence == SEEK_CUR)
        base = static_cast<off_t>(decoder->read_offset);
    else if (whence == SEEK_END)
        base = static_cast<off_t>(decoder->size);
    else if (whence != SEEK_SET)
        return -1;
    off_t target = base + offset;
    if (target < 0 || target > static_cast<off_t>(decoder->size))
        return -1;
    decoder->read_offset = static_cast<size_t>(target);
    return target;
}

// mpg123_init is global and, in older releases, not safe to call twice at once.
static void init_mpg123_once() {
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
}

// Gives up on a stream the decoder cannot take: sets the reason, frees what was made.
static mp3_decoder* reject_stream(mp3_decoder* decoder, const char** reason, const char* why) {
    if (reason)
        *reason = why;
    close_mp3_decoder(decoder);
    return nullptr;
}

// One row of weights per phase: output frames whose time falls at phase / phase_count
// of the way between two file frames. A Blackman-windowed sinc cut off just below the
// lower of the two Nyquist frequencies, each row scaled to sum to 1 so that a constant
// passes unchanged. At 44100 Hz the one row passes the file frame through untouched.
static void make_weights(mp3_decoder* decoder) {
    const int64_t common = std::gcd(decoder->file_rate, int64_t(mp3_rate_hz));
    decoder->phase_count = mp3_rate_hz / common;
    decoder->weights.assign(size_t(decoder->phase_count) * taps, 0.0f);
    if (decoder->file_rate == mp3_rate_hz) {
        decoder->weights[half_taps - 1] = 1.0f;
        return;
    }
    constexpr double pi = 3.14159265358979323846;
    constexpr double cutoff_margin = 0.95;
    const double cutoff =
        cutoff_margin * std::min(1.0, double(mp3_rate_hz) / double(decoder->file_rate));
    for (int64_t phase = 0; phase < decoder->phase_count; ++phase) {
        float* row = &decoder->weights[size_t(phase) * taps];
        const double fraction = double(phase) / double(decoder->phase_count);
        double sum = 0.0;
        for (int i = 0; i < taps; ++i) {
            const double x = (i - (half_taps - 1)) - fraction; // file frames from the time
            const double sinc = x == 0.0 ? 1.0 : std::sin(pi * cutoff * x) / (pi * cutoff * x);
            const double window =
                0.42 + 0.5 * std::cos(pi * x / half_taps) + 0.08 * std::cos(2 * pi * x / half_taps);
            sum += row[i] = float(sinc * window);
        }
        for (int i = 0; i < taps; ++i)
            row[i] = float(row[i] / sum);
    }
}

// Output frames up to the time of file frame: ceil(frame * 44100 / file_rate).
static int64_t output_frames_before(const mp3_decoder* decoder, int64_t file_frame) {
    return (file_frame * mp3_rate_hz + decoder->file_rate - 1) / decoder->file_rate;
}

mp3_decoder* open_mp3_decoder(const unsigned char* data, size_t size, const char** reason) {
    init_mpg123_once();
    if (!data || size == 0) {
        if (reason)
            *reason = "empty file";
        return nullptr;
    }
    int error = MPG123_OK;
    mpg123_handle* handle = mpg123_new(nullptr, &error);
    if (!handle) {
        if (reason)
            *reason = mpg123_plain_strerror(error);
        return nullptr;
    }
    mp3_decoder* decoder =
        new mp3_decoder{handle, data, size, 0, 0, 0, {}, 0, 0, {}, 0, false, false};

    // Quiet: a damaged file is reported once by the caller, not frame by frame.
    // Gapless: position 0 is the first sample of the music, not the encoder's delay.
    // Forced stereo: a mono file comes out with the same sound on both sides.
    // Five frames ahead after a seek: the frame before the target supplies the overlap,
    // and its own bit reservoir may reach back two frames more at 44.1 kHz (easy
    // material at 128 kbit/s does), twice as many in the half-size frames below 32 kHz;
    // so a seek decodes the same samples as a run from the start. (libmpg123's synthesis
    // may still round a sample here and there one step differently after a seek.)
    constexpr long decode_flags =
        MPG123_QUIET | MPG123_GAPLESS | MPG123_FORCE_SEEKABLE | MPG123_FORCE_STEREO;
    constexpr long seek_preframes = 5;
    mpg123_param(handle, MPG123_FLAGS, decode_flags, 0);
    mpg123_param(handle, MPG123_PREFRAMES, seek_preframes, 0);
    mpg123_format_none(handle);
    const long* rates = nullptr;
    size_t rate_count = 0;
    mpg123_rates(&rates, &rate_count);
    for (size_t i = 0; i < rate_count; ++i)
        mpg123_format(handle, rates[i], MPG123_STEREO, MPG123_ENC_SIGNED_16);

    if (mpg123_replace_reader_handle(handle, read_memory, seek_memory, nullptr) != MPG123_OK ||
        mpg123_open_handle(handle, decoder) != MPG123_OK)
        return reject_stream(decoder, reason, "not an MP3 stream");

    // The scan walks every frame header once, which makes the length and every seek
    // exact; it does not decode.
    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_scan(handle) != MPG123_OK ||
        mpg123_getformat(handle, &rate, &channels, &encoding) != MPG123_OK)
        return reject_stream(decoder, reason, "not an MP3 stream");
    if (rate <= 0 || channels != mp3_channels || encoding != MPG123_ENC_SIGNED_16)
        return reject_stream(decoder, reason, "unsupported sample format");
    off_t length = mpg123_length(handle);
    if (length <= 0)
        return reject_stream(decoder, reason, "no audio frames");
    decoder->file_rate = rate;
    make_weights(decoder);
    decoder->length = output_frames_before(decoder, length);
    return decoder;
}

void close_mp3_decoder(mp3_decoder* decoder) {
    if (!decoder)
        return;
    mpg123_close(decoder->handle);
    mpg123_delete(decoder->handle);
    delete decoder;
}

int64_t mp3_decoder_length(const mp3_decoder* decoder) {
    return decoder->length;
}
int64_t mp3_decoder_position(const mp3_decoder* decoder) {
    return decoder->position;
}

// The first file frame output frame k is computed from.
static int64_t first_input_frame(const mp3_decoder* decoder, int64_t k) {
    return k * decoder->file_rate / mp3_rate_hz - (half_taps - 1);
}

bool seek_mp3_decoder(mp3_decoder* decoder, int64_t frame) {
    if (decoder->failed) {
        decoder->input.clear(); // nothing more is read from a failed stream
        return false;
    }
    frame = std::clamp<int64_t>(frame, 0, decoder->length);
    const int64_t input_first = std::max<int64_t>(first_input_frame(decoder, frame), 0);
    off_t landed = mpg123_seek(decoder->handle, static_cast<off_t>(input_first), SEEK_SET);
    if (landed < 0)
        return false;
    decoder->input.clear();
    decoder->input_first = landed;
    decoder->input_ended = false;
    decoder->position = frame;
    return landed == input_first;
}

// Decodes one more chunk of file frames onto the input. At the end, or where nothing
// more can be decoded, the input ends, and the stream's length with it.
static void decode_input_chunk(mp3_decoder* decoder) {
    constexpr size_t frame_bytes = sizeof(int16_t) * mp3_channels;
    const size_t kept = decoder->input.size();
    decoder->input.resize(kept + size_t(input_chunk_frames) * mp3_channels);
    unsigned char* bytes = reinterpret_cast<unsigned char*>(decoder->input.data() + kept);
    const size_t wanted = size_t(input_chunk_frames) * frame_bytes;
    size_t filled = 0;
    // A damaged stream can make the decoder return nothing without an error; a few
    // empty rounds in a row end the stream instead of spinning.
    constexpr int max_empty_reads = 16;
    int empty_reads = 0;
    while (filled < wanted) {
        size_t done = 0;
        int result = mpg123_read(decoder->handle, bytes + filled, wanted - filled, &done);
        filled += done;
        // MPG123_DONE at the end, or an error past which nothing more can be decoded.
        // After an error libmpg123 is not to be trusted with the handle again: a stream
        // that switches sample rate midway leaves it in a state where a later seek and
        // read corrupt its heap. So the stream ends there, for seeks too.
        if (result != MPG123_OK && result != MPG123_NEW_FORMAT) {
            decoder->failed = result != MPG123_DONE;
            decoder->input_ended = true;
            break;
        }
        // Every rate is let through at the decoder, so a stream that changes rate midway
        // announces it here; what follows is not this stream's sound, and the stream
        // ends for good, as after an error.
        if (result == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0, encoding = 0;
            mpg123_getformat(decoder->handle, &rate, &channels, &encoding);
            if (rate != decoder->file_rate || channels != mp3_channels ||
                encoding != MPG123_ENC_SIGNED_16) {
                decoder->failed = decoder->input_ended = true;
                break;
            }
        }
        empty_reads = done == 0 ? empty_reads + 1 : 0;
        if (empty_reads >= max_empty_reads) {
            decoder->input_ended = true;
            break;
        }
    }
    // A stray half frame at a damaged end is dropped, never delivered misaligned.
    decoder->input.resize(kept + filled / frame_bytes * mp3_channels);
    if (decoder->input_ended) {
        const int64_t input_end = decoder->input_first + int64_t(decoder->input.size() / 2);
        decoder->length = std::min(decoder->length, output_frames_before(decoder, input_end));
    }
}

size_t read_mp3_frames(mp3_decoder* decoder, int16_t* out, size_t frames) {
    if (decoder->failed && decoder->input.empty())
        return 0;
    size_t delivered = 0;
    for (; delivered < frames && decoder->position < decoder->length; ++delivered) {
        const int64_t k = decoder->position;
        const int64_t first = first_input_frame(decoder, k);
        // File frames before first are done with; dropped a chunk at a time.
        if (first - decoder->input_first > 4 * input_chunk_frames) {
            const int64_t drop = first - decoder->input_first;
            decoder->input.erase(decoder->input.begin(), decoder->input.begin() + drop * 2);
            decoder->input_first = first;
        }
        while (!decoder->input_ended &&
               decoder->input_first + int64_t(decoder->input.size() / 2) < first + taps)
            decode_input_chunk(decoder);
        if (k >= decoder->length)
            break;
        const int64_t phase =
            (k * decoder->file_rate % mp3_rate_hz) * decoder->phase_count / mp3_rate_hz;
        const float* weights = &decoder->weights[size_t(phase) * taps];
        const int64_t available = int64_t(decoder->input.size() / 2);
        float left = 0.0f, right = 0.0f;
        // File frames outside what was decoded lie before the start or past the end of
        // the music: silence.
        for (int i = 0; i < taps; ++i) {
            const int64_t at = first + i - decoder->input_first;
            if (at < 0 || at >= available)
                continue;
            left += weights[i] * decoder->input[size_t(at) * 2];
            right += weights[i] * decoder->input[size_t(at) * 2 + 1];
        }
        out[delivered * 2] = int16_t(std::clamp(std::lround(left), -32768L, 32767L));
        out[delivered * 2 + 1] = int16_t(std::clamp(std::lround(right), -32768L, 32767L));
        ++decoder->position;
    }
    return delivered;
}

int64_t mp3_frame_at_ms(int64_t ms) {
    if (ms <= 0)
        return 0;
    // round(ms * 44.1) in integers: 441 frames per 10 ms.
    return (ms * (mp3_rate_hz / 100) + 5) / 10;
}
