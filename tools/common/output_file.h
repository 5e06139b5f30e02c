// How the tools write files: a file appears under its final name only once it is
// complete, so a crash or an interrupt never leaves a truncated picture, soundtrack or
// video where a good one was or is expected.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

// A unique temporary name beside final_path (so the rename cannot cross devices),
// ending in suffix, created empty. False with errno set.
bool make_temporary(const std::string& final_path, const char* suffix, std::string& temp_path);
// Gives the finished temporary file the permissions a plainly created one would have
// and renames it to final_path. False with errno set.
bool publish(const std::string& temp_path, const std::string& final_path);

// Writes path whole: write_body fills a file opened on a temporary name beside it,
// which is flushed to disk and published. On failure nothing is left under either name,
// and one line "program: cannot write path: reason" (the first failure's) is said.
bool write_file(const char* program, const std::string& path, const char* suffix,
                const std::function<bool(FILE*)>& write_body);

// Writes width x height pixels of components bytes each (3: RGB, 4: RGBA), top row
// first, as a PNG through write_file; compression_level 0 to 9, or -1 for zlib's own.
bool write_png(const char* program, const std::string& path, const unsigned char* pixels, int width,
               int height, int components, int compression_level = -1);
