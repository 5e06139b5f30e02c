// What every part of the program takes from the host alike: one monotonic clock, one
// way to read a file whole, and the one GL surface format every window and offscreen
// context of the program asks for. Thread-safe; no display needed except where noted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Nanoseconds on a clock that never steps back and counts from an arbitrary origin.
int64_t monotonic_ns();

// Reads path whole into out. False when it cannot be opened or read, is not a regular
// file, or is longer than max_bytes; out is then empty.
bool read_whole_file(const char* path, std::vector<unsigned char>& out, size_t max_bytes);

// Asks SDL for the demo's surface: RGBA, 8 bits a channel, 16-bit depth, no stencil,
// double buffered. Call before creating the window whose context should get it.
constexpr int gl_channel_bits = 8;
constexpr int gl_depth_bits = 16;
void set_gl_surface_attributes();
