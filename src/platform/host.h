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

// Chooses, once at start, where each data file is read from: from dir_option when
// given (--data); else from the first of these that has it: data/ in the working
// directory (a user's own files win, one at a time), the installed share/vornhal/data
// beside the executable's bin/, data/ beside the executable (a build tree). False,
// after one line on standard error naming every place looked in, when none holds any
// data file: there is nothing to show. program names the program in that line and in
// the lines the shared code prints.
bool choose_data_dir(const char* program, const char* dir_option);
// The path a data file (one of data_file_names) is read from.
std::string data_file_path(const char* name);
// The name the program's messages start with, as given to choose_data_dir.
const char* program_name();

// The folder of the running executable; "." when the system will not say.
std::string executable_dir();

// Writes text (a help or a version) whole to standard output. False, after one line on
// standard error naming program, when it cannot (a full disk, a closed pipe).
bool print_to_stdout(const char* program, const char* text);

// Asks SDL for the demo's surface: RGBA, 8 bits a channel, 16-bit depth, no stencil,
// double buffered. Call before creating the window whose context should get it.
constexpr int gl_channel_bits = 8;
constexpr int gl_depth_bits = 16;
void set_gl_surface_attributes();
// Opens a hidden width x height window on SDL's offscreen driver (a driver named in the
// environment wins) with that surface, and makes a GL context current on it: for what
// draws the show with no display (the capture, the bench, the tests). False, after one
// line on standard error, when it cannot. Main thread only.
bool open_offscreen_gl(int width_px, int height_px);

// Takes Ctrl-C (SIGINT) and SIGTERM from now on: interrupt_signal() then says which came,
// and a program that has not ended a second later is ended by it, with the children of
// its session (dialogs) killed. Call first thing in main, before any thread starts.
void watch_interrupts();
// The signal that asked the program to end, or 0.
int interrupt_signal();
