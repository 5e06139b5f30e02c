// Files as every part of the program reads and writes them: a file read whole, text
// written whole, and where the running program lies. Thread-safe.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Reads path whole into out. False when it cannot be opened or read, is not a regular
// file, or is longer than max_bytes; out is then empty.
bool read_whole_file(const char* path, std::vector<unsigned char>& out, size_t max_bytes);

// Writes text (a help or a version) whole to standard output. False, after one line on
// standard error naming program, when it cannot (a full disk, a closed pipe).
bool print_to_stdout(const char* program, const char* text);

// The folder of the running executable; "." when the system will not say.
std::string executable_dir();
