// vornhal-make-music OUT.mp3: writes the demo's soundtrack.
//
// A piece in A minor at 128 BPM, synthesised sample by sample: an intro of pads, a
// build with kick and bass, the hook, a breakdown, a drop with the hook an octave up,
// a bridge on other chords, a last chorus and a final hit that rings out by 142 s.
// Everything is computed from fixed numbers and a fixed noise seed, so every run
// writes the same file.
#include "mp3_encode.h"
#include "output_file.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

constexpr int rate_hz = 44100;
constexpr double tempo_bpm = 128.0;
constexpr double beat_s = 60.0 / tempo_bpm;
constexpr double bar_s = 4.0 * beat_s;
constexpr double step_s = beat_s / 4.0; // a sixteenth
constexpr double length_s = 145.0;      // the final hit rings out before 142 s
constexpr int final_bar = 72;           // 135 s
constexpr int mp3_kbps = 192;
constexpr double two_pi = 6.283185307179586;

struct stereo_mix {
    std::vector<float> left, right;
};

static stereo_mix make_mix() {
    size_t frames = static_cast<size_t>(length_s * rate_hz);
    return {std::vector<float>(frames), std::vector<float>(frames)};
}

static size_t frame_at(double t) {
    return static_cast<size_t>(std::max(0.0, t) * rate_hz);
}

static double midi_hz(int note) {
    return 440.0 * std::pow(2.0, (note - 69) / 12.0);
}

// Deterministic white noise in -1 .. 1.
static uint32_t noise_state = 0x2545f491u;
static float noise() {
    noise_state = noise_state * 1664525u + 1013904223u;
    return static_cast<float>(noise_state >> 8) / 8388608.0f - 1.0f;
}

// Band-limited enough for these pitches: a saw with its corner softened by a
// polynomial step (PolyBLEP) so the high notes do not alias audibly.
static double poly_blep(double phase, double step) {
    if (phase < step) {
        double x = phase / step;
        return x + x - x * x - 1.0;
    }
    if (phase > 1.0 - step) {
        double x = (phase - 1.0) / step;
        return x * x + x + x + 1.0;
    }
    return 0.0;
}

static double saw(double phase, double step) {
    return 2.0 * phase - 1.0 - poly_blep(phase, step);
}

static void add(stereo_mix& mix, size_t i, double value, double pan) {
    if (i >= mix.left.size())
        return;
    mix.left[i] += static_cast<float>(value * (1.0 - pan) * 0.5 * 2.0 * 0.7071);
    mix.right[i] += static_cast<float>(value * (1.0 + pan) * 0.5 * 2.0 * 0.7071);
}

// --- Drums ------------------------------------------------------------------------

static void add_kick(stereo_mix& mix, double t, double gain) {
    constexpr double length_s = 0.45;
    double phase = 0.0;
    size_t start = frame_at(t);
    for (size_t n = 0; n < static_cast<size_t>(length_s * rate_hz); ++n) {
        double s = static_cast<double>(n) / rate_hz;
        double freq = 45.0 + 110.0 * std::exp(-s * 28.0);
        phase += freq / rate_hz;
        double body = std::sin(two_pi * phase) * std::exp(-s * 7.0);
        double click = (n < 90) ? noise() * 0.3 * (1.0 - n / 90.0) : 0.0;
        add(mix, start + n, gain * (body + click), 0.0);
    }
}

static void add_snare(stereo_mix& mix, double t, double gain) {
    constexpr double length_s = 0.25;
    size_t start = frame_at(t);
    float previous = 0.0f;
    for (size_t n = 0; n < static_cast<size_t>(length_s * rate_hz); ++n) {
        double s = static_cast<double>(n) / rate_hz;
        float white = noise();
        double bright = white - previous; // a first difference: the hiss without the rumble
        previous = white;
        double tone = std::sin(two_pi * 185.0 * s) * std::exp(-s * 30.0);
        double value = (bright * 0.6 * std::exp(-s * 16.0) + tone * 0.7) * gain;
        add(mix, start + n, value, 0.05);
    }
}

static void add_hat(stereo_mix& mix, double t, double gain, bool open, double pan) {
    double decay = open ? 9.0 : 45.0;
    double length_s = open ? 0.35 : 0.08;
    size_t start = frame_at(t);
    float previous = 0.0f;
    for (size_t n = 0; n < static_cast<size_t>(length_s * rate_hz); ++n) {
        double s = static_cast<double>(n) / rate_hz;
        float white = noise();
        double bright = (white - previous) * 0.5;
        previous = white;
        add(mix, start + n, bright * gain * std::exp(-s * decay), pan);
    }
}

static void add_crash(stereo_mix& mix, double t, double gain, double decay_s) {
    size_t start = frame_at(t);
    float previous_l = 0.0f, previous_r = 0.0f;
    size_t frames = static_cast<size_t>(decay_s * 5.0 * rate_hz);
    for (size_t n = 0; n < frames && start + n < mix.left.size(); ++n) {
        double s = static_cast<double>(n) / rate_hz;
        double envelope = gain * std::exp(-s / decay_s);
        float white_l = noise(), white_r = noise();
        mix.left[start + n] += static_cast<float>((white_l - previous_l) * 0.35 * envelope);
        mix.right[start + n] += static_cast<float>((white_r - previous_r) * 0.35 * envelope);
        previous_l = white_l;
        previous_r = white_r;
    }
}

// Noise rising in pitch and level over length_s: the sweep into a drop.
static void add_riser(stereo_mix& mix, double t, double length_s, double gain) {
    size_t start = frame_at(t);
    double low = 0.0;
    for (size_t n = 0; n < static_cast<size_t>(length_s * rate_hz); ++n) {
        double progress = static_cast<double>(n) / (length_s * rate_hz);
        double cutoff = 0.01 + 0.25 * progress * progress;
        low += (noise() - low) * cutoff;
        add(mix, start + n, low * gain * progress * progress * 2.0,
            std::sin(progress * 20.0) * 0.5);
    }
}

// --- Tonal voices -------------------------------------------------------------------

// A plucked bass: two saws an octave apart through a low-pass whose cutoff falls after
// the attack.
static void add_bass(stereo_mix& mix, double t, double length_s, int note, double gain) {
    double freq = midi_hz(note);
    double phase = 0.0, sub_phase = 0.0, low = 0.0, low2 = 0.0;
    size_t start = frame_at(t);
    size_t frames = static_cast<size_t>((length_s + 0.05) * rate_hz);
    for (size_t n = 0; n < frames; ++n) {
        double s = static_cast<double>(n) / rate_hz;
        double step = freq / rate_hz;
        phase += step;
        phase -= std::floor(phase);
        sub_phase += step * 0.5;
        sub_phase -= std::floor(sub_phase);
        double raw = saw(phase, step) * 0.6 + std::sin(two_pi * sub_phase) * 0.8;
        double cutoff = 0.02 + 0.12 * std::exp(-s * 14.0);
        low += (raw - low) * cutoff;
        low2 += (low - low2) * cutoff;
        double envelope = std::min(1.0, s * 400.0) *
                          (s < length_s ? 1.0 : std::max(0.0, 1.0 - (s - length_s) * 20.0));
        add(mix, start + n, low2 * gain * envelope, 0.0);
    }
}

// A pad: three detuned saws per note, slow attack and release, spread across the
// stereo field, opened up or closed down by brightness (0 .. 1).
static void add_pad(stereo_mix& mix, double t, double length_s, const std::vector<int>& notes,
                    double gain, double brightness) {
    constexpr double attack_s = 0.35, release_s = 0.6;
    constexpr double detune[3] = {-0.12, 0.0, 0.11}; // semitones
    constexpr double spread[3] = {-0.7, 0.0, 0.7};
    size_t start = frame_at(t);
    size_t frames = static_cast<size_t>((length_s + release_s) * rate_hz);
    double cutoff = 0.015 + 0.08 * brightness;
    for (size_t v = 0; v < notes.size(); ++v) {
        for (int d = 0; d < 3; ++d) {
            double freq = midi_hz(notes[v]) * std::pow(2.0, detune[d] / 12.0);
            double step = freq / rate_hz;
            double phase = 0.37 * (v + 1) * (d + 1);
            phase -= std::floor(phase);
            double low = 0.0, low2 = 0.0;
            for (size_t n = 0; n < frames; ++n) {
                double s = static_cast<double>(n) / rate_hz;
                phase += step;
                phase -= std::floor(phase);
                low += (saw(phase, step) - low) * cutoff;
                low2 += (low - low2) * cutoff;
                double envelope = std::min(1.0, s / attack_s);
                if (s > length_s)
                    envelope *= std::max(0.0, 1.0 - (s - length_s) / release_s);
                add(mix, start + n, low2 * gain * envelope / notes.size(), spread[d] * 0.8);
            }
        }
    }
}

// A pluck for the arpeggio and the chord stabs: a bright saw with a quick decay.
static void add_pluck(stereo_mix& mix, double t, int note, double gain, double pan, double decay) {
    double freq = midi_hz(note), step = freq / rate_hz;
    double phase = 0.0, low = 0.0;
    size_t start = frame_at(t);
    size_t frames = static_cast<size_t>(5.0 / decay * rate_hz);
    for (size_t n = 0; n < frames; ++n) {
        double s = static_cast<double>(n) / rate_hz;
        phase += step;
        phase -= std::floor(phase);
        double cutoff = 0.05 + 0.4 * std::exp(-s * decay * 1.5);
        low += (saw(phase, step) - low) * cutoff;
        add(mix, start + n, low * gain * std::exp(-s * decay) * std::min(1.0, s * 1000.0), pan);
    }
}

// The lead: two detuned saws and a square an octave down, a touch of vibrato after the
// attack.
static void add_lead(stereo_mix& mix, double t, double length_s, int note, double gain) {
    double freq = midi_hz(note);
    double phase_a = 0.0, phase_b = 0.5, phase_c = 0.25, low = 0.0;
    size_t start = frame_at(t);
    constexpr double release_s = 0.12;
    size_t frames = static_cast<size_t>((length_s + release_s) * rate_hz);
    for (size_t n = 0; n < frames; ++n) {
        double s = static_cast<double>(n) / rate_hz;
        double vibrato = 1.0 + 0.004 * std::sin(two_pi * 5.5 * s) * std::min(1.0, s * 3.0);
        double step = freq * vibrato / rate_hz;
        phase_a += step * 1.003;
        phase_a -= std::floor(phase_a);
        phase_b += step * 0.997;
        phase_b -= std::floor(phase_b);
        phase_c += step * 0.5;
        phase_c -= std::floor(phase_c);
        double square = phase_c < 0.5 ? 0.5 : -0.5;
        double raw = saw(phase_a, step) * 0.5 + saw(phase_b, step) * 0.5 + square * 0.4;
        low += (raw - low) * 0.22;
        double envelope = std::min(1.0, s * 150.0) * (0.75 + 0.25 * std::exp(-s * 6.0));
        if (s > length_s)
            envelope *= std::max(0.0, 1.0 - (s - length_s) / release_s);
        add(mix, start + n, low * gain * envelope, 0.0);
    }
}

// --- Arrangement ------------------------------------------------------------------

struct chord {
    int bass;               // MIDI note of the bass
    std::vector<int> notes; // the pad's voicing
};

// A minor: Am F C G, and for the bridge Dm Am E E.
static const chord verse_chords[4] = {
    {45, {57, 60, 64, 69}}, {41, {53, 57, 60, 65}}, {48, {55, 60, 64, 67}}, {43, {55, 59, 62, 67}}};
static const chord bridge_chords[4] = {
    {38, {53, 57, 62, 65}}, {45, {57, 60, 64, 69}}, {40, {56, 59, 64, 68}}, {40, {56, 59, 62, 68}}};

// The hook, four bars on an eighth-note grid: a note, 0 to hold the previous, -1 rest.
static const int hook[4][8] = {
    {76, 0, 72, 74, 76, 0, 79, 76},
    {74, 0, 72, 69, 72, 0, 0, -1},
    {72, 0, 71, 72, 76, 0, 74, 72},
    {71, 0, 67, 71, 74, 0, 0, -1},
};
// The bridge's answer to it.
static const int bridge_line[4][8] = {
    {77, 0, 0, 76, 74, 0, 72, 0},
    {76, 0, 0, 0, 72, 0, 69, 0},
    {71, 0, 0, 72, 74, 0, 76, 0},
    {80, 0, 0, 0, 0, 0, -1, -1},
};

enum section_kind { intro, build, chorus, breakdown, drop, bridge, last_chorus };

static section_kind section_of(int bar) {
    if (bar < 8)
        return intro;
    if (bar < 16)
        return build;
    if (bar < 32)
        return chorus;
    if (bar < 40)
        return breakdown;
    if (bar < 56)
        return drop;
    if (bar < 64)
        return bridge;
    return last_chorus;
}

static void add_melody(stereo_mix& mix, double bar_t, const int line[8], int transpose,
                       double gain) {
    for (int i = 0; i < 8; ++i) {
        if (line[i] <= 0)
            continue;
        int length = 1;
        while (i + length < 8 && line[i + length] == 0)
            ++length;
        add_lead(mix, bar_t + i * 2 * step_s, length * 2 * step_s * 0.92, line[i] + transpose,
                 gain);
    }
}

static void arrange(stereo_mix& drums, stereo_mix& music, stereo_mix& lead) {
    for (int bar = 0; bar < final_bar; ++bar) {
        double t = bar * bar_s;
        section_kind kind = section_of(bar);
        bool in_bridge = kind == bridge;
        const chord& c = in_bridge ? bridge_chords[bar % 4] : verse_chords[bar % 4];
        bool full = kind == chorus || kind == drop || kind == last_chorus;
        bool big = kind == drop || kind == last_chorus;
        int bar_in_section = (kind == intro || kind == build || kind == breakdown || kind == bridge)
                                 ? bar % 8
                                 : (bar - (kind == chorus ? 16
                                           : kind == drop ? 40
                                                          : 64)) %
                                       16;

        // Pads everywhere, opening up through the intro.
        double brightness = kind == intro ? bar / 8.0 : kind == breakdown ? 0.5 : 0.8;
        double pad_gain = kind == intro ? 0.40 : kind == breakdown ? 0.45 : 0.22;
        add_pad(music, t, bar_s, c.notes, pad_gain, brightness);

        // Drums.
        bool four_floor = kind == build || full;
        for (int beat = 0; beat < 4; ++beat) {
            double bt = t + beat * beat_s;
            if (four_floor)
                add_kick(drums, bt, 0.9);
            if (in_bridge && (beat == 0 || (beat == 2 && bar % 2 == 1)))
                add_kick(drums, bt, 0.8);
            bool backbeat = beat == 1 || beat == 3;
            if (backbeat && (full || (kind == build && bar >= 12)))
                add_snare(drums, bt, 0.55);
            if (in_bridge && beat == 2)
                add_snare(drums, bt, 0.5);
        }
        if (kind != breakdown) {
            double hat_gain = kind == intro ? (bar >= 4 ? 0.12 : 0.0) : 0.22;
            for (int s = 0; s < 16; ++s) {
                bool offbeat = s % 4 == 2;
                double g = hat_gain * (offbeat ? 1.0 : 0.45);
                if (big && offbeat)
                    add_hat(drums, t + s * step_s, 0.18, true, 0.3);
                else if (g > 0.0 && (kind != bridge || s % 2 == 0))
                    add_hat(drums, t + s * step_s, g, false, (s % 2) ? 0.25 : -0.25);
            }
        }
        // Fills: a snare roll in the last bar before the hook comes in.
        if (bar == 15 || bar == 39 || bar == 63 || bar == 71) {
            for (int s = 8; s < 16; ++s)
                add_snare(drums, t + s * step_s, 0.2 + 0.05 * (s - 8));
        }
        if (bar == 38)
            add_riser(drums, t, 2.0 * bar_s, 0.5);
        if (bar == 16 || bar == 40 || bar == 64 || (big && bar_in_section == 8))
            add_crash(drums, t, 0.5, 0.7);

        // Bass: eighths pumping against the kick; long notes in the bridge.
        if (kind == build || full) {
            for (int e = 0; e < 8; ++e) {
                int note = c.bass + ((e % 4 == 3) ? 12 : 0);
                add_bass(music, t + e * 2 * step_s, 2 * step_s * 0.8, note, 0.5);
            }
        } else if (in_bridge) {
            add_bass(music, t, bar_s * 0.95, c.bass, 0.5);
        }

        // Arpeggio: chord tones in sixteenths, up an octave.
        if (kind != build || bar >= 12) {
            static const int order[8] = {0, 1, 2, 3, 2, 1, 3, 2};
            double gain = kind == intro ? 0.08 + 0.015 * bar : 0.09;
            for (int s = 0; s < 16; ++s) {
                int note = c.notes[order[s % 8]] + 12;
                add_pluck(music, t + s * step_s, note, gain, (s % 2) ? 0.5 : -0.5, 9.0);
            }
        }
        // Chord stabs on the off-beats in the drops.
        if (big) {
            for (int beat = 0; beat < 4; ++beat)
                for (int note : c.notes)
                    add_pluck(music, t + (beat + 0.5) * beat_s, note + 12, 0.05, 0.0, 14.0);
        }

        // The hook.
        const int* line = in_bridge ? bridge_line[bar % 4] : hook[bar % 4];
        if (kind == chorus || in_bridge)
            add_melody(lead, t, line, 0, 0.5);
        else if (kind == breakdown && bar >= 34)
            add_melody(lead, t, line, -12, 0.42);
        else if (big) {
            add_melody(lead, t, line, 12, 0.3);
            add_melody(lead, t, line, 0, 0.34);
        }
    }

    // The final hit: everything on A, ringing out over the last seconds.
    double end_t = final_bar * bar_s;
    add_kick(drums, end_t, 1.0);
    add_crash(drums, end_t, 0.7, 1.4);
    constexpr double ring_s = 6.0;
    add_pad(music, end_t, ring_s, {45, 57, 60, 64, 69, 76}, 0.45, 0.7);
    add_bass(music, end_t, ring_s, 33, 0.6);
    add_lead(lead, end_t, 2.5, 81, 0.3);
}

// Ducks the tonal parts under each kick, the pumping the genre is known for.
static void pump(stereo_mix& music) {
    for (size_t i = 0; i < music.left.size(); ++i) {
        double t = static_cast<double>(i) / rate_hz;
        int bar = static_cast<int>(t / bar_s);
        section_kind kind = section_of(bar);
        if (bar >= final_bar ||
            !(kind == build || kind == chorus || kind == drop || kind == last_chorus))
            continue;
        double since_beat = std::fmod(t, beat_s);
        float duck = static_cast<float>(1.0 - 0.45 * std::exp(-since_beat * 14.0));
        music.left[i] *= duck;
        music.right[i] *= duck;
    }
}

// A ping-pong echo of the lead, three sixteenths behind.
static void echo(stereo_mix& lead) {
    size_t delay = static_cast<size_t>(3 * step_s * rate_hz);
    constexpr float feedback = 0.38f;
    for (size_t i = delay; i < lead.left.size(); ++i) {
        lead.left[i] += lead.right[i - delay] * feedback;
        lead.right[i] += lead.left[i - delay] * feedback;
    }
}

// A look-ahead peak limiter: the gain needed over the next few milliseconds is taken
// at once, and let go slowly, so the peaks stay under ceiling without clicks.
static void limit(stereo_mix& mix, float ceiling) {
    size_t frames = mix.left.size();
    constexpr size_t lookahead = 88; // 2 ms
    std::vector<float> needed(frames);
    for (size_t i = 0; i < frames; ++i) {
        float peak = std::max(std::fabs(mix.left[i]), std::fabs(mix.right[i]));
        needed[i] = peak > ceiling ? ceiling / peak : 1.0f;
    }
    // The least gain needed anywhere in the look-ahead window, by a sliding minimum:
    // a queue of indices whose needs rise from front to back.
    std::vector<float> window_min(frames);
    std::vector<size_t> queue(frames);
    size_t head = 0, tail = 0;
    for (size_t j = 0; j < frames + lookahead; ++j) {
        if (j < frames) {
            while (tail > head && needed[queue[tail - 1]] >= needed[j])
                --tail;
            queue[tail++] = j;
        }
        if (j + 1 >= lookahead) {
            size_t i = j + 1 - lookahead;
            if (i >= frames)
                break;
            while (queue[head] < i)
                ++head;
            window_min[i] = needed[queue[head]];
        }
    }
    const float release = 1.0f - 1.0f / (0.08f * rate_hz);
    float gain = 1.0f;
    for (size_t i = 0; i < frames; ++i) {
        gain = window_min[i] < gain ? window_min[i] : 1.0f - (1.0f - gain) * release;
        mix.left[i] *= gain;
        mix.right[i] *= gain;
    }
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: vornhal-make-music OUT.mp3\n");
        return 2;
    }
    stereo_mix drums = make_mix(), music = make_mix(), lead = make_mix();
    arrange(drums, music, lead);
    pump(music);
    echo(lead);

    // Master: the parts summed, a gain chosen for about -14 LUFS, the peaks limited a
    // little under full scale so that the encoded file's true peak stays under -1 dBTP.
    constexpr float master_gain = 0.80f;
    constexpr float ceiling = 0.72f; // -2.9 dBFS
    stereo_mix master = make_mix();
    for (size_t i = 0; i < master.left.size(); ++i) {
        master.left[i] = (drums.left[i] + music.left[i] + lead.left[i]) * master_gain;
        master.right[i] = (drums.right[i] + music.right[i] + lead.right[i]) * master_gain;
    }
    limit(master, ceiling);

    // Fade the tail to nothing by 143 s.
    constexpr double fade_from_s = 140.5, fade_to_s = 143.0;
    std::vector<int16_t> pcm(master.left.size() * 2);
    for (size_t i = 0; i < master.left.size(); ++i) {
        double t = static_cast<double>(i) / rate_hz;
        double fade = std::clamp((fade_to_s - t) / (fade_to_s - fade_from_s), 0.0, 1.0);
        auto to_int16 = [&](float v) {
            double scaled = std::clamp(v * fade * 32767.0, -32767.0, 32767.0);
            return static_cast<int16_t>(std::lround(scaled));
        };
        pcm[2 * i] = to_int16(master.left[i]);
        pcm[2 * i + 1] = to_int16(master.right[i]);
    }

    std::vector<unsigned char> mp3;
    if (!encode_mp3(pcm, rate_hz, mp3_kbps, mp3)) {
        fprintf(stderr, "vornhal-make-music: the MP3 encoder refused its settings\n");
        return 1;
    }
    if (!write_file("vornhal-make-music", argv[1], ".mp3", [&mp3](FILE* out) {
            return fwrite(mp3.data(), 1, mp3.size(), out) == mp3.size();
        }))
        return 1;
    printf("%s: %.1f s, %zu bytes\n", argv[1], length_s, mp3.size());
    return 0;
}
