#include "platform/host.h"

#include <SDL.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <unistd.h>

// Written by choose_data_dir at start; read by data_file_path and program_name.
static struct {
    std::string paths[std::size(data_file_names)]; // where each data file is read from
    const char* program = "vornhal";
} data;

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

bool open_offscreen_gl(int width_px, int height_px) {
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "%s: cannot start SDL video: %s\n", program_name(), SDL_GetError());
        return false;
    }
    set_gl_surface_attributes();
    SDL_Window* window =
        SDL_CreateWindow("Vornhal", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width_px,
                         height_px, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    SDL_GLContext context = window ? SDL_GL_CreateContext(window) : nullptr;
    if (!context || SDL_GL_MakeCurrent(window, context) != 0) {
        std::fprintf(stderr, "%s: cannot create a GL context: %s\n", program_name(),
                     SDL_GetError());
        return false;
    }
    return true;
}

static bool file_exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

std::string executable_dir() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    const std::string exe = length > 0 ? std::string(path, static_cast<size_t>(length)) : "";
    return exe.empty() ? "." : exe.substr(0, exe.rfind('/'));
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

bool print_to_stdout(const char* program, const char* text) {
    if (std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0)
        return true;
    std::fprintf(stderr, "%s: cannot write to standard output: %s\n", program,
                 std::strerror(errno));
    return false;
}
