// The sound output over SDL2 audio, and the listener's clock it provides.
//
// SDL's audio thread asks for one buffer at a time; the callback decodes it straight
// from the stream and notes which stream frame the buffer starts at and when it was
// asked for. The main thread turns those notes into what is heard now: the frame at
// the start of the last buffer, less the buffer the device is still playing, plus the
// time since. That raw reading steps with the callback's wake-up jitter, so the clock
// the caller sees is a straight line that follows it by slewing its speed a little,
// and never moves backwards.
#include "stream/sound_stream.h"

#include "stream/mp3_decode.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>

struct sound_stream {
    mp3_decoder* decoder;
};

// What the callback noted about the last buffer it filled.
struct buffer_note {
    uint64_t buffers;    // buffers filled since the device opened
    uint64_t generation; // the play/seek/pause generation the buffer belongs to
    int64_t start_frame; // stream frame at the start of the buffer
    int64_t asked_ns;    // monotonic time at which the device asked for it
    bool carried_stream; // false when the buffer was silence for a stopped channel
};

// The clock the caller reads: a line through (anchor_ns, anchor_ms) at speed ms per ms.
struct listener_clock {
    int64_t anchor_ns;
    double anchor_ms;
    double speed;
    bool waiting;          // held at anchor_ms until the sound there is heard
    uint64_t generation;   // the generation it follows; older notes are ignored
    uint64_t seen_buffers; // last note it corrected against
    double rate_trim;      // learnt device rate less 1; kept across seeks and pauses
};

static struct {
    const char* driver_name;  // main; set by sound_set_output
    bool subsystem_up;        // main; SDL's audio subsystem is initialised
    SDL_AudioDeviceID device; // main; 0 while closed
    int rate_hz;              // main; set by sound_init
    int buffer_frames;        // main; set by sound_init
    std::string error;        // main; reason of the last failure
    sound_stream* opened;     // main; the open stream, playing or not, freed by sound_close

    // Shared with the callback, under the device lock (SDL holds it around every
    // callback; the main thread takes it with SDL_LockAudioDevice).
    sound_stream* stream;   // main writes; the callback decodes from it
    bool channel_running;   // main writes: playing and not paused
    bool decoder_done;      // both write: no more sound, the rest is silence
    int64_t position_frame; // both write: stream frame the next buffer starts at
    uint64_t generation;    // main writes: bumped by every play, seek and pause

    std::mutex note_lock;  // guards last_note alone, so reading it never waits on a decode
    buffer_note last_note; // callback writes, main reads

    listener_clock clock; // main only
} sound;

constexpr int channels = 2;
constexpr int frame_bytes = channels * static_cast<int>(sizeof(int16_t));
constexpr int device_buffer_frames = 1024; // 23 ms: picture and sound within a frame at 60 Hz

static int64_t monotonic_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

static bool fail(const std::string& why) {
    sound.error = why;
    return false;
}

// SDL's audio thread, with the device lock held.
static void fill_device_buffer(void*, Uint8* bytes, int length) {
    int64_t asked_ns = monotonic_ns();
    memset(bytes, 0, static_cast<size_t>(length));
    size_t frames = static_cast<size_t>(length / frame_bytes);
    int64_t start_frame = sound.position_frame;
    bool carried = sound.stream && sound.channel_running;
    if (carried) {
        size_t got = 0;
        if (!sound.decoder_done)
            got = read_mp3_frames(sound.stream->decoder, reinterpret_cast<int16_t*>(bytes), frames);
        if (got < frames)
            sound.decoder_done = true;
        // Past the end the position runs on through silence, so the clock does too.
        sound.position_frame += static_cast<int64_t>(frames);
    }
    std::lock_guard<std::mutex> hold(sound.note_lock);
    sound.last_note = {sound.last_note.buffers + 1, sound.generation, start_frame, asked_ns,
                       carried};
}

static void reset_state() {
    sound.device = 0;
    sound.rate_hz = 0;
    sound.buffer_frames = 0;
    sound.opened = nullptr;
    sound.stream = nullptr;
    sound.channel_running = false;
    sound.decoder_done = false;
    sound.position_frame = 0;
    sound.generation = 0;
    {
        std::lock_guard<std::mutex> hold(sound.note_lock);
        sound.last_note = {};
    }
    sound.clock = {};
}

// Holds the clock at ms until the sound of the new generation reaches the listener.
static void hold_clock_at(double ms, uint64_t generation) {
    sound.clock.anchor_ns = monotonic_ns();
    sound.clock.anchor_ms = ms;
    sound.clock.speed = 0.0;
    sound.clock.waiting = true;
    sound.clock.generation = generation;
}

static double clock_value_at(int64_t now_ns) {
    const listener_clock& c = sound.clock;
    return c.anchor_ms + static_cast<double>(now_ns - c.anchor_ns) * 1e-6 * c.speed;
}

void sound_set_output(const char* driver_name) {
    sound.driver_name = driver_name;
}

bool sound_init(int rate_hz) {
    sound_close();
    if (sound.driver_name)
        SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, sound.driver_name, SDL_HINT_OVERRIDE);
    else
        SDL_ResetHint(SDL_HINT_AUDIODRIVER);
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return fail(std::string("no audio driver: ") + SDL_GetError());
    sound.subsystem_up = true;

    SDL_AudioSpec wanted = {};
    wanted.freq = rate_hz;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = channels;
    wanted.samples = device_buffer_frames;
    wanted.callback = fill_device_buffer;
    SDL_AudioSpec obtained = {};
    // No changes allowed: SDL converts to whatever the hardware wants, and the
    // callback always sees 16-bit stereo at rate_hz in buffers of the size asked.
    SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (device == 0) {
        std::string why = std::string("no audio device: ") + SDL_GetError();
        sound_close();
        return fail(why);
    }
    sound.device = device;
    sound.rate_hz = rate_hz;
    sound.buffer_frames = obtained.samples;
    // The device runs from now on, playing silence until a channel starts.
    SDL_PauseAudioDevice(device, 0);
    return true;
}

sound_stream* sound_stream_open(const unsigned char* data, size_t size) {
    if (sound.device == 0) {
        fail("sound is not initialised");
        return nullptr;
    }
    if (sound.opened) {
        fail("a stream is already open");
        return nullptr;
    }
    if (sound.rate_hz != mp3_rate_hz) {
        fail("streams play at 44100 Hz only");
        return nullptr;
    }
    const char* reason = nullptr;
    mp3_decoder* decoder = open_mp3_decoder(data, size, &reason);
    if (!decoder) {
        fail(reason ? reason : "not an MP3 stream");
        return nullptr;
    }
    sound.opened = new sound_stream{decoder};
    return sound.opened;
}

int sound_stream_play(int channel, sound_stream* stream, bool paused) {
    // The one channel is 0; -1 asks for any free one.
    if (!stream || stream != sound.opened || sound.device == 0 || (channel != -1 && channel != 0)) {
        fail("no such stream or channel");
        return -1;
    }
    SDL_LockAudioDevice(sound.device);
    seek_mp3_decoder(stream->decoder, 0);
    sound.stream = stream;
    sound.channel_running = !paused;
    sound.decoder_done = false;
    sound.position_frame = 0;
    uint64_t generation = ++sound.generation;
    SDL_UnlockAudioDevice(sound.device);
    hold_clock_at(0.0, generation);
    return 0;
}

bool sound_set_paused(int channel, bool paused) {
    if (sound.device == 0 || !sound.stream || channel != 0)
        return fail("no such channel");
    if (sound.channel_running == !paused)
        return true; // already so: the clock is not disturbed
    double now_ms = clock_value_at(monotonic_ns());
    SDL_LockAudioDevice(sound.device);
    sound.channel_running = !paused;
    uint64_t generation = ++sound.generation;
    SDL_UnlockAudioDevice(sound.device);
    hold_clock_at(now_ms, generation);
    return true;
}

int sound_stream_get_time_ms(sound_stream* stream) {
    if (!stream || stream != sound.stream)
        return 0;
    // Corrections, at every new buffer note: a proportional part that takes out the
    // error over follow_ms, and a slow integral part (rate_trim) that learns how far
    // the device's rate lies from the monotonic clock's, so a steady drift is followed
    // with no lasting lag. Jitter of a few milliseconds moves the line by a fraction of
    // one. The speed never leaves 1 +- max_slew; only a stall of the audio thread (an
    // error past resync_ms) makes the clock jump, and only forward.
    constexpr double follow_ms = 500.0;
    constexpr double learn_ms = 4.0 * follow_ms; // critically damped
    constexpr double max_trim = 0.02;
    constexpr double max_slew = 0.05;
    constexpr double resync_ms = 120.0;

    buffer_note note;
    {
        std::lock_guard<std::mutex> hold(sound.note_lock);
        note = sound.last_note;
    }
    listener_clock& c = sound.clock;
    int64_t now_ns = monotonic_ns();
    double clock_ms = clock_value_at(now_ns);
    if (note.generation == c.generation && note.carried_stream && note.buffers != 0) {
        double ms_per_frame = 1000.0 / sound.rate_hz;
        double heard_ms =
            static_cast<double>(note.start_frame - sound.buffer_frames) * ms_per_frame +
            static_cast<double>(now_ns - note.asked_ns) * 1e-6;
        bool restart = false;
        if (c.waiting) {
            restart = heard_ms >= c.anchor_ms;
        } else if (note.buffers != c.seen_buffers) {
            double error_ms = heard_ms - clock_ms;
            double since_ms = static_cast<double>(now_ns - c.anchor_ns) * 1e-6;
            c.seen_buffers = note.buffers;
            c.anchor_ns = now_ns;
            c.anchor_ms = clock_ms;
            if (error_ms > resync_ms) {
                restart = true;
            } else if (error_ms < -resync_ms) {
                c.speed = 0.0;
                c.waiting = true;
            } else {
                c.rate_trim = std::clamp(c.rate_trim + error_ms * since_ms / (follow_ms * learn_ms),
                                         -max_trim, max_trim);
                c.speed = 1.0 + std::clamp(c.rate_trim + error_ms / follow_ms, -max_slew, max_slew);
            }
        }
        if (restart) {
            c.anchor_ns = now_ns;
            c.anchor_ms = heard_ms;
            c.speed = 1.0 + c.rate_trim;
            c.waiting = false;
            c.seen_buffers = note.buffers;
            clock_ms = heard_ms;
        }
    }
    return static_cast<int>(std::floor(clock_ms));
}

bool sound_stream_set_time_ms(sound_stream* stream, int ms) {
    if (!stream || stream != sound.stream || sound.device == 0)
        return fail("no such stream");
    ms = std::max(ms, 0);
    int64_t frame = mp3_frame_at_ms(ms);
    SDL_LockAudioDevice(sound.device);
    if (frame < mp3_decoder_length(stream->decoder)) {
        seek_mp3_decoder(stream->decoder, frame);
        sound.decoder_done = false;
    } else {
        sound.decoder_done = true;
    }
    sound.position_frame = frame;
    uint64_t generation = ++sound.generation;
    SDL_UnlockAudioDevice(sound.device);
    hold_clock_at(static_cast<double>(ms), generation);
    return true;
}

void sound_close() {
    // Closing the device joins its thread: after this no callback runs.
    if (sound.device != 0)
        SDL_CloseAudioDevice(sound.device);
    if (sound.opened) {
        close_mp3_decoder(sound.opened->decoder);
        delete sound.opened;
    }
    if (sound.subsystem_up)
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    sound.subsystem_up = false;
    reset_state();
}

const char* sound_error() {
    return sound.error.c_str();
}

int sound_buffer_frames() {
    return sound.buffer_frames;
}
