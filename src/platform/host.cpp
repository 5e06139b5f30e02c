#include "platform/host.h"

#include <SDL.h>
#include <sys/stat.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <unistd.h>

// Written by choose_data_dir at start; read by data_file_path.
static std::string data_dir = "data";

int64_t monotonic_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool read_whole_file(const char* path, std::vector<unsigned char>& out, size_t max_bytes) {
    out.clear();
    FILE* file = std::fopen(path, "rb");
    if (!file)
        return false;
    // A directory opens too; only a regular file of a sane length is read, in one go.
    struct stat info;
    bool read = fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) &&
                static_cast<uint64_t>(info.st_size) <= max_bytes;
    if (read) {
        out.resize(static_cast<size_t>(info.st_size));
        read = std::fread(out.data(), 1, out.size(), file) == out.size() && std::fgetc(file) == EOF;
    }
    std::fclose(file);
    if (!read)
        out.clear();
    return read;
}

void set_gl_surface_attributes() {
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, gl_channel_bits);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, gl_channel_bits);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, gl_channel_bits);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, gl_channel_bits);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, gl_depth_bits);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
}

static bool holds_data(const std::string& dir) {
    for (const char* name : data_file_names)
        if (access((dir + "/" + name).c_str(), F_OK) == 0)
            return true;
    return false;
}

// The folder of the running executable, or empty when the system will not say.
static std::string executable_dir() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return {};
    std::string exe(path, static_cast<size_t>(length));
    return exe.substr(0, exe.rfind('/'));
}

bool choose_data_dir(const char* program, const char* dir_option) {
    std::vector<std::string> places;
    if (dir_option) {
        places.push_back(dir_option);
    } else {
        places.push_back("data");
        const std::string exe_dir = executable_dir();
        if (!exe_dir.empty()) {
            places.push_back(exe_dir + "/../share/vornhal/data");
            places.push_back(exe_dir + "/data");
        }
    }
    for (const std::string& place : places)
        if (holds_data(place)) {
            data_dir = place;
            return true;
        }
    std::string looked;
    for (const std::string& place : places)
        looked += (looked.empty() ? "" : ", ") + place;
    std::fprintf(stderr, "%s: no data files (bg.png, fg.png, trelm.png, music.mp3) in %s\n",
                 program, looked.c_str());
    return false;
}

void use_data_dir(const char* dir) {
    data_dir = dir;
}

const std::string& chosen_data_dir() {
    return data_dir;
}

std::string data_file_path(const char* name) {
    return data_dir + "/" + name;
}
