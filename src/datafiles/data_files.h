// The show's data files (bg.png, fg.png, trelm.png, music.mp3): their names, where each
// is read from, and the name the program's messages start with. Chosen once at start,
// on the main thread; read from any thread after that.
#pragma once

#include <cstddef>
#include <string>

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
