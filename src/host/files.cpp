#include "host/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

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

bool print_to_stdout(const char* program, const char* text) {
    if (std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0)
        return true;
    std::fprintf(stderr, "%s: cannot write to standard output: %s\n", program,
                 std::strerror(errno));
    return false;
}

std::string executable_dir() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    const std::string exe = length > 0 ? std::string(path, static_cast<size_t>(length)) : "";
    return exe.empty() ? "." : exe.substr(0, exe.rfind('/'));
}
