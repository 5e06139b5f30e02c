// What every part of the program takes from the host alike: one monotonic clock, one
// way to read a file whole, and the one GL surface format every window and offscreen
// context of the program asks for. Thread-safe; no display needed except where noted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Nanoseconds on a clock that never steps back and counts from an arbitrary origin.
int64_t monotonic_ns();

// Reads path whole into out. False when it cannot be opened or read, is not a regular
// file, or is longer than max_bytes; out is then empty.
bool read_whole_file(const char* path, std::vector<unsigned char>& out, size_t max_bytes);

// The data files the show reads, and the largest music file it will hold in memory.
constexpr const char* data_file_names[] = {"bg.png", "fg.png", "trelm.png", "music.mp3"};
constexpr const char* music_file_name = "music.mp3";
constexpr size_t max_music_bytes = size_t(256) << 20;

// Chooses, once at start, the folder the data files are read from: dir_option when
// given (--data); else data/ in the working directory, so a user's own files there
// win; else the installed share/vornhal/data beside the executable's bin/; else data/
// beside the executable (a build tree). A folder counts when it holds any data file.
// False, after one line on standard error naming every place looked in, when none
// does: there is nothing to show.
bool choose_data_dir(const char* program, const char* dir_option);
// Reads the data files from dir, as chosen elsewhere (a capture's render workers).
void use_data_dir(const char* dir);
// The chosen folder, and the path of a data file (one of data_file_names) in it.
const std::string& chosen_data_dir();
std::string data_file_path(const char* name);

// Asks SDL for the demo's surface: RGBA, 8 bits a channel, 16-bit depth, no stencil,
// double buffered. Call before creating the window whose context should get it.
constexpr int gl_channel_bits = 8;
constexpr int gl_depth_bits = 16;
void set_gl_surface_attributes();
