#include "test_audio.h"

#include "mp3_encode.h"
#include "stream/mp3_decode.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

std::vector<int16_t> make_test_signal(int seconds) {
    constexpr int rate_hz = 44100, click_every = rate_hz / 4, click_frames = 220; // 5 ms
    constexpr double two_pi = 6.283185307179586;
    std::vector<int16_t> pcm(static_cast<size_t>(seconds) * rate_hz * 2);
    double phase = 0.0;
    for (size_t i = 0; i < pcm.size() / 2; ++i) {
        phase += (300.0 + 150.0 * i / rate_hz) / rate_hz;
        double l = 0.3 * std::cos(two_pi * phase), r = 0.25 * std::cos(two_pi * 1.5 * phase);
        // A short burst at 2 kHz every 250 ms, well inside what the encoder keeps.
        const int in_click = i % click_every;
        if (in_click < click_frames) {
            double click = 0.5 * (1.0 - double(in_click) / click_frames) *
                           std::sin(two_pi * 2000.0 * in_click / rate_hz);
            l += click;
            r -= click;
        }
        pcm[2 * i] = static_cast<int16_t>(std::lround(l * 32767.0));
        pcm[2 * i + 1] = static_cast<int16_t>(std::lround(r * 32767.0));
    }
    return pcm;
}

const std::vector<unsigned char>& test_mp3() {
    static const std::vector<unsigned char> mp3 = [] {
        std::vector<unsigned char> out;
        encode_mp3(make_test_signal(), 44100, 192, out);
        return out;
    }();
    return mp3;
}

std::vector<int16_t> decode_whole(const std::vector<unsigned char>& mp3) {
    std::vector<int16_t> pcm;
    mp3_decoder* decoder = open_mp3_decoder(mp3.data(), mp3.size(), nullptr);
    if (!decoder)
        return pcm;
    pcm.resize(static_cast<size_t>(mp3_decoder_length(decoder)) * 2);
    size_t got = read_mp3_frames(decoder, pcm.data(), pcm.size() / 2);
    pcm.resize(got * 2);
    close_mp3_decoder(decoder);
    return pcm;
}

bool write_file(const std::string& path, const std::vector<unsigned char>& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && ok;
}

std::vector<unsigned char> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

std::string make_temp_dir() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base ? base : "/tmp") + "/vornhal-sound-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    return mkdtemp(name.data()) ? std::string(name.data()) : std::string();
}

double wall_ms() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

void sleep_ms(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
