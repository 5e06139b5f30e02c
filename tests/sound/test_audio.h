// Test material for the sound tests: a small MP3 made here and its reference decode.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Four seconds of stereo at 44100 Hz: a click every 250 ms over a tone gliding from
// 300 Hz upwards, different in each channel. Nothing in it repeats, so any run of a
// few hundred frames says where in the stream it came from; and it is loud from the
// very first frame.
std::vector<int16_t> make_test_signal(int seconds = 4);

// The test signal, LAME-encoded at 192 kbps with the gapless header.
const std::vector<unsigned char>& test_mp3();

// The whole decode of mp3 from frame 0, as the device-free decoder delivers it.
std::vector<int16_t> decode_whole(const std::vector<unsigned char>& mp3);

// Writes bytes to path; false on failure.
bool write_file(const std::string& path, const std::vector<unsigned char>& bytes);
std::vector<unsigned char> read_file(const std::string& path);

// A fresh empty directory under the system's temporary directory.
std::string make_temp_dir();

// The steady clock in milliseconds, and a sleep of ms.
double wall_ms();
void sleep_ms(int ms);
