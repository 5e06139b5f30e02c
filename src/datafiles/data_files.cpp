#include "datafiles/data_files.h"

#include "host/files.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

// Written by choose_data_dir at start; read by data_file_path and program_name.
static struct {
    std::string paths[std::size(data_file_names)]; // where each data file is read from
    const char* program = "vornhal";
} data;

static bool file_exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

bool choose_data_dir(const char* program, const char* dir_option) {
    data.program = program;
    std::vector<std::string> places;
    if (dir_option) {
        places.push_back(dir_option);
    } else {
        places.push_back("data");
        const std::string exe_dir = executable_dir();
        if (exe_dir != ".") {
            places.push_back(exe_dir + "/../share/vornhal/data");
            places.push_back(exe_dir + "/data");
        }
    }
    // Each file from the first place that has it; one found nowhere is looked for in
    // the first place, so that its failure names that.
    bool found_any = false;
    for (size_t i = 0; i < std::size(data_file_names); ++i) {
        data.paths[i] = places.front() + "/" + data_file_names[i];
        for (const std::string& place : places)
            if (file_exists(place + "/" + data_file_names[i])) {
                data.paths[i] = place + "/" + data_file_names[i];
                found_any = true;
                break;
            }
    }
    if (found_any)
        return true;
    std::string looked;
    for (const std::string& place : places)
        looked += (looked.empty() ? "" : ", ") + place;
    std::fprintf(stderr, "%s: no data files (bg.png, fg.png, trelm.png, music.mp3) in %s\n",
                 program, looked.c_str());
    return false;
}

std::string data_file_path(const char* name) {
    for (size_t i = 0; i < std::size(data_file_names); ++i)
        if (std::strcmp(name, data_file_names[i]) == 0 && !data.paths[i].empty())
            return data.paths[i];
    return std::string("data/") + name;
}

const char* program_name() {
    return data.program;
}
