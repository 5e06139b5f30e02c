// MP3 decoding over libmpg123 with a reader over a memory block.
#include "stream/mp3_decode.h"

#include <mpg123.h>
#include <sys/types.h>

#include <algorithm>
#include <cstring>
#include <mutex>

struct mp3_decoder {
    mpg123_handle* handle;
    const unsigned char* data; // the caller's block; read by the reader callbacks
    size_t size;
    size_t read_offset; // reader position in data
    int64_t length;     // gapless frames in the whole stream
    int64_t position;   // next frame read_mp3_frames delivers
    bool failed;        // a decode error ended the stream for good (see read_mp3_frames)
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

static mp3_decoder* fail_open(mp3_decoder* decoder, const char** reason, const char* why) {
    if (reason)
        *reason = why;
    close_mp3_decoder(decoder);
    return nullptr;
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
    mp3_decoder* decoder = new mp3_decoder{handle, data, size, 0, 0, 0, false};

    // Quiet: a damaged file is reported once by the caller, not frame by frame.
    // Gapless: position 0 is the first sample of the music, not the encoder's delay.
    // Three frames ahead after a seek: the frame before the target supplies the overlap,
    // and its own bit reservoir may reach back two frames more (easy material at 128
    // kbit/s does), so a seek decodes the same samples as a run from the start.
    constexpr long decode_flags = MPG123_QUIET | MPG123_GAPLESS | MPG123_FORCE_SEEKABLE;
    constexpr long seek_preframes = 3;
    mpg123_param(handle, MPG123_FLAGS, decode_flags, 0);
    mpg123_param(handle, MPG123_PREFRAMES, seek_preframes, 0);
    // Every rate is accepted at the decoder and refused below, once, with a clear
    // reason: a decoder held to 44100 Hz alone complains on stderr about every stray
    // frame of another rate, however quiet it was asked to be.
    mpg123_format_none(handle);
    const long* rates = nullptr;
    size_t rate_count = 0;
    mpg123_rates(&rates, &rate_count);
    for (size_t i = 0; i < rate_count; ++i)
        mpg123_format(handle, rates[i], MPG123_STEREO, MPG123_ENC_SIGNED_16);

    if (mpg123_replace_reader_handle(handle, read_memory, seek_memory, nullptr) != MPG123_OK ||
        mpg123_open_handle(handle, decoder) != MPG123_OK)
        return fail_open(decoder, reason, "not an MP3 stream");

    // The scan walks every frame header once, which makes the length and every seek
    // exact; it does not decode.
    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_scan(handle) != MPG123_OK ||
        mpg123_getformat(handle, &rate, &channels, &encoding) != MPG123_OK)
        return fail_open(decoder, reason, "not an MP3 stream");
    if (rate != mp3_rate_hz || channels != mp3_channels || encoding != MPG123_ENC_SIGNED_16)
        return fail_open(decoder, reason, "not at 44100 Hz");
    off_t length = mpg123_length(handle);
    if (length <= 0)
        return fail_open(decoder, reason, "no audio frames");
    decoder->length = length;
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

bool seek_mp3_decoder(mp3_decoder* decoder, int64_t frame) {
    if (decoder->failed)
        return false;
    frame = std::clamp<int64_t>(frame, 0, decoder->length);
    off_t landed = mpg123_seek(decoder->handle, static_cast<off_t>(frame), SEEK_SET);
    if (landed < 0)
        return false;
    decoder->position = landed;
    return landed == frame;
}

size_t read_mp3_frames(mp3_decoder* decoder, int16_t* out, size_t frames) {
    if (decoder->failed)
        return 0;
    constexpr size_t frame_bytes = sizeof(int16_t) * mp3_channels;
    unsigned char* bytes = reinterpret_cast<unsigned char*>(out);
    size_t wanted = frames * frame_bytes;
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
            break;
        }
        // Every rate is let through at the decoder (see open_mp3_decoder), so a stream
        // that changes rate midway announces it here; what follows is not this stream's
        // sound, and the stream ends for good, as after an error.
        if (result == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0, encoding = 0;
            mpg123_getformat(decoder->handle, &rate, &channels, &encoding);
            if (rate != mp3_rate_hz || channels != mp3_channels ||
                encoding != MPG123_ENC_SIGNED_16) {
                decoder->failed = true;
                break;
            }
        }
        empty_reads = done == 0 ? empty_reads + 1 : 0;
        if (empty_reads >= max_empty_reads)
            break;
    }
    // A stray half frame at a damaged end is dropped, never delivered misaligned.
    size_t whole = filled / frame_bytes;
    decoder->position += static_cast<int64_t>(whole);
    return whole;
}

int64_t mp3_frame_at_ms(int64_t ms) {
    if (ms <= 0)
        return 0;
    // round(ms * 44.1) in integers: 441 frames per 10 ms.
    return (ms * (mp3_rate_hz / 100) + 5) / 10;
}
