#include "platform/host.h"

#include <SDL.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>

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
        read = std::fread(out.data(), 1, out.size(), file) == out.size() &&
               std::fgetc(file) == EOF;
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
