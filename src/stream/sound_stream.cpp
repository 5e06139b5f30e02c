// The sound output over SDL2 audio, and the listener's clock it provides.
//
// SDL's audio thread asks for one buffer at a time; the callback decodes it straight
// from the stream and notes which stream frame the buffer starts at and when it was
// asked for. The thread that owns the output turns those notes into what is heard now
// (listener_clock.h).
#include "stream/sound_stream.h"

#include "host/clock.h"
#include "stream/listener_clock.h"
#include "stream/mp3_decode.h"
#include "stream/server_output.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

static struct {
    // "Owner": the one thread that owns the output now (sound_stream.h).
    bool subsystem_up;        // owner; SDL's audio subsystem is initialised
    SDL_AudioDeviceID device; // owner; 0 while closed
    int buffer_frames;        // owner; set by sound_init
    int ahead_frames;         // owner; set by sound_init: held before a new buffer plays
    std::string error;        // owner; reason of the last failure

    // Shared with the callback, under the device lock (SDL holds it around every
    // callback; the owner takes it with SDL_LockAudioDevice).
    mp3_decoder* decoder;   // owner writes; the callback decodes from it; null: silence
    bool muted;             // owner writes: silence, and the stream stands still
    int64_t position_frame; // both write: stream frame the next buffer starts at
    uint64_t generation;    // owner writes: bumped by every play and seek

    std::mutex note_lock;  // guards last_note alone, so reading it never waits on a decode
    buffer_note last_note; // callback writes, any thread reads

    listener_clock clock;               // the owning thread only
    std::atomic<int64_t> kept_until_ns; // any thread: the server keeps the stream till then
} sound;

constexpr int channels = 2;
constexpr int frame_bytes = channels * static_cast<int>(sizeof(int16_t));

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
    if (sound.decoder && !sound.muted) {
        read_mp3_frames(sound.decoder, reinterpret_cast<int16_t*>(bytes), frames);
        // Past the end the position runs on through silence, so the clock does too.
        sound.position_frame += static_cast<int64_t>(frames);
    }
    std::lock_guard<std::mutex> hold(sound.note_lock);
    sound.last_note = {sound.last_note.buffers + 1, sound.generation, start_frame, asked_ns};
}

// How long the sound server may take to answer a question.
constexpr int server_answer_ms = 500;

// Whether SDL may go to a driver that cannot open on a server without an output: its
// PulseAudio one (the process dies) or its PipeWire one (the open waits for ever, as
// it does while a restarted server's session manager is not up yet). Asked for by
// name, or PulseAudio as SDL's first choice. A PipeWire desktop answers the question
// through pipewire-pulse.
static bool may_use_server_driver() {
    const char* driver = SDL_GetHint(SDL_HINT_AUDIODRIVER);
    return !driver || !*driver || SDL_strstr(driver, "pulse") != nullptr ||
           SDL_strstr(driver, "pipewire") != nullptr;
}

void sound_ask_server_latency() {
    // SDL's PulseAudio driver asks the server for one buffer's latency, and libpulse
    // lets the environment override what a client asks (pipewire-pulse honours it too).
    if (getenv("PULSE_LATENCY_MSEC") || !may_use_server_driver())
        return;
    const int buffers = server_runs_on_pipewire(server_answer_ms) ? pipewire_pulse_server_buffers
                                                                  : pulseaudio_server_buffers;
    const int latency_ms = buffers * sound_buffer_frames * 1000 / mp3_rate_hz;
    setenv("PULSE_LATENCY_MSEC", std::to_string(latency_ms).c_str(), 0);
}

// What the driver in use holds before a buffer the device asks for now plays. The
// server fills to the latency asked of it (PULSE_LATENCY_MSEC) before it asks for the
// next; other drivers hold one buffer while the next is filled.
static int frames_ahead_of_new_buffer(int buffer_frames) {
    const char* driver = SDL_GetCurrentAudioDriver();
    const char* asked = getenv("PULSE_LATENCY_MSEC");
    const int asked_ms = asked ? atoi(asked) : 0;
    if (!driver || SDL_strcmp(driver, "pulseaudio") != 0 || asked_ms <= 0)
        return buffer_frames;
    return std::max(buffer_frames,
                    static_cast<int>(int64_t(asked_ms) * mp3_rate_hz / 1000) - buffer_frames);
}

// SDL's PipeWire driver opens a device only once the session manager links the new
// stream, and until then it waits, for ever if need be. pipewire-pulse has a sink to
// offer a moment before a (re)starting session manager can link anything, but that
// manager's own choice of a default output is only there once it runs: SDL knows it.
// Other drivers answer for themselves.
static bool session_manager_chose_output() {
    if (SDL_strcmp(SDL_GetCurrentAudioDriver(), "pipewire") != 0)
        return true;
    char* name = nullptr;
    SDL_AudioSpec format = {};
    const bool chosen = SDL_GetDefaultAudioInfo(&name, &format, 0) == 0;
    SDL_free(name);
    return chosen;
}

sound_open sound_init() {
    sound_close();
    if (may_use_server_driver() && ask_server_output(server_answer_ms) == server_output::not_yet) {
        fail("the sound server has no output yet");
        return sound_open::not_yet;
    }
    // SDL's audio thread is time-critical; with this it asks for real-time scheduling
    // (directly, or from rtkit), so a busy machine does not starve it. A user's own
    // setting of the hint wins.
    SDL_SetHintWithPriority(SDL_HINT_THREAD_FORCE_REALTIME_TIME_CRITICAL, "1", SDL_HINT_DEFAULT);
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        fail(std::string("no audio driver: ") + SDL_GetError());
        return sound_open::failed;
    }
    sound.subsystem_up = true;
    if (!session_manager_chose_output()) {
        sound_close();
        fail("the sound server has no output yet");
        return sound_open::not_yet;
    }

    SDL_AudioSpec wanted = {};
    wanted.freq = mp3_rate_hz;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = channels;
    wanted.samples = sound_buffer_frames;
    wanted.callback = fill_device_buffer;
    SDL_AudioSpec obtained = {};
    // No changes allowed: SDL converts to whatever the hardware wants, and the
    // callback always sees 16-bit stereo at 44100 Hz in buffers of the size asked.
    SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (device == 0) {
        std::string why = std::string("no audio device: ") + SDL_GetError();
        sound_close();
        fail(why);
        return sound_open::failed;
    }
    sound.device = device;
    sound.buffer_frames = obtained.samples;
    sound.ahead_frames = frames_ahead_of_new_buffer(obtained.samples);
    // The device runs from now on, playing silence until a stream starts.
    SDL_PauseAudioDevice(device, 0);
    return sound_open::opened;
}

// Points the callback at frame of the stream, under the device lock; returns the
// generation its buffers will carry.
static uint64_t move_stream_to(mp3_decoder* decoder, int64_t frame, bool muted) {
    SDL_LockAudioDevice(sound.device);
    sound.decoder = decoder;
    sound.muted = muted;
    seek_mp3_decoder(decoder, frame);
    sound.position_frame = frame;
    uint64_t generation = ++sound.generation;
    SDL_UnlockAudioDevice(sound.device);
    return generation;
}

// Moves the stream to frame and holds the clock at ms until that sound is heard.
static void restart_stream_at(mp3_decoder* decoder, int64_t frame, double ms, bool muted) {
    hold_listener_clock(sound.clock, ms, move_stream_to(decoder, frame, muted), monotonic_ns());
}

bool sound_play(const unsigned char* data, size_t size, int start_ms, bool silent_until_seek) {
    if (sound.device == 0)
        return fail("sound is not initialised");
    const char* reason = nullptr;
    mp3_decoder* decoder = open_mp3_decoder(data, size, &reason);
    if (!decoder)
        return fail(reason ? reason : "not an MP3 stream");
    mp3_decoder* old = sound.decoder;
    start_ms = std::max(start_ms, 0);
    restart_stream_at(decoder, mp3_frame_at_ms(start_ms), static_cast<double>(start_ms),
                      silent_until_seek);
    close_mp3_decoder(old);
    return true;
}

static buffer_note latest_note() {
    std::lock_guard<std::mutex> hold(sound.note_lock);
    return sound.last_note;
}

void sound_take_server_queue_ms(int queue_ms) {
    if (sound.device != 0 && queue_ms > 0)
        sound.ahead_frames = static_cast<int>(int64_t(queue_ms) * mp3_rate_hz / 1000);
}

double sound_latency_ms() {
    return sound.device != 0 ? (sound.ahead_frames + sound.buffer_frames) * 1000.0 / mp3_rate_hz
                             : 0.0;
}

// Restarts the stream ahead of a clock running on from ms, by as much as its sound takes
// at most to be heard, and has the clock follow it again once it is.
static void rejoin_stream(double ms) {
    const double target_ms = std::floor(ms + sound_latency_ms());
    const uint64_t generation =
        move_stream_to(sound.decoder, mp3_frame_at_ms(static_cast<int64_t>(target_ms)), false);
    rejoin_listener_clock(sound.clock, ms, target_ms, generation, monotonic_ns());
}

int sound_time_ms() {
    if (!sound.decoder)
        return 0;
    const int64_t now_ns = monotonic_ns();
    const double patience_ms = now_ns < sound.kept_until_ns ? kept_patience_ms : lost_after_ms;
    const double ms = read_listener_clock(sound.clock, latest_note(), now_ns, sound.buffer_frames,
                                          sound.ahead_frames, patience_ms);
    // The device asks for sound again after a stall: the stream moves to the clock,
    // which ran on without it.
    if (sound.clock.rejoin)
        rejoin_stream(ms);
    return static_cast<int>(std::floor(ms));
}

int64_t sound_heard_at_ns() {
    const listener_clock& clock = sound.clock;
    if (!sound.decoder || !clock.waiting || clock.speed != 0.0 || clock.held_ns != 0 ||
        clock.adrift || clock.lost)
        return 0;
    return listener_heard_at_ns(clock, latest_note(), sound.ahead_frames);
}

void sound_follow_from_ms(int ms) {
    if (sound.decoder)
        rejoin_stream(std::max(ms, 0));
}

void sound_keep_waiting_until(int64_t at_ns) {
    sound.kept_until_ns = at_ns;
}

int64_t sound_last_call_ns() {
    return latest_note().asked_ns;
}

void sound_seek_ms(int ms) {
    if (!sound.decoder)
        return;
    ms = std::max(ms, 0);
    // Past the end the decoder stays at its end and the position runs on in silence.
    restart_stream_at(sound.decoder, mp3_frame_at_ms(ms), static_cast<double>(ms), false);
}

const char* sound_driver() {
    const char* name = sound.device != 0 ? SDL_GetCurrentAudioDriver() : nullptr;
    return name ? name : "";
}

bool sound_playing() {
    return sound.device != 0 && sound.clock.played && !sound.clock.lost;
}

bool sound_lost() {
    if (sound.device == 0)
        return false;
    if (SDL_GetAudioDeviceStatus(sound.device) == SDL_AUDIO_STOPPED)
        sound.error = "the sound output went away";
    else if (sound.clock.lost && !sound.clock.played)
        sound.error = "the sound output did not start within " +
                      std::to_string(static_cast<int>(start_bound_ms / 1000)) + " s";
    else if (sound.clock.lost)
        sound.error = "the sound output stopped playing";
    else
        return false;
    return true;
}

void sound_close() {
    // Closing the device joins its thread: after this no callback runs. On PulseAudio
    // that thread may be waiting for a sleeping sink to ask for sound; the server ends
    // the stream first, so the join never waits for the sink to wake.
    if (sound.device != 0) {
        const char* driver = SDL_GetCurrentAudioDriver();
        if (driver && SDL_strcmp(driver, "pulseaudio") == 0 &&
            SDL_GetAudioDeviceStatus(sound.device) != SDL_AUDIO_STOPPED)
            end_own_server_streams(server_answer_ms);
        SDL_CloseAudioDevice(sound.device);
    }
    close_mp3_decoder(sound.decoder);
    if (sound.subsystem_up)
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    sound.subsystem_up = false;
    sound.device = 0;
    sound.buffer_frames = sound.ahead_frames = 0;
    sound.decoder = nullptr;
    sound.muted = false;
    sound.position_frame = 0;
    sound.generation = 0;
    {
        std::lock_guard<std::mutex> hold(sound.note_lock);
        sound.last_note = {};
    }
    sound.clock = {};
    sound.kept_until_ns = 0;
}

const char* sound_error() {
    return sound.error.c_str();
}
