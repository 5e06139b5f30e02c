// What the capture needs of the system to run children: one way to start a child, reap
// it and say how it ended, and its pipes and diagnostics.
#include "capture.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

volatile std::sig_atomic_t capture_interrupted = 0;

static void on_interrupt(int) {
    capture_interrupted = 1;
}

void install_interrupt_handlers() {
    // A vanished reader shows up as EPIPE rather than killing the capture.
    std::signal(SIGPIPE, SIG_IGN);
    // No SA_RESTART: a read or write blocked on a child returns EINTR, and the capture
    // stops at once.
    struct sigaction action = {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    capture_interrupted = 0;
}

bool start_child(const char* name, const std::function<int()>& body, int in_fd, int out_fd,
                 int err_fd, pid_t& pid) {
    std::fflush(nullptr); // nothing buffered here may be written twice
    const pid_t parent = getpid();
    pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls until the body runs.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        const int null_fd = open("/dev/null", O_RDWR);
        const int fds[3] = {in_fd, out_fd, err_fd};
        for (int target = 0; target < 3; ++target) {
            const int fd = fds[target] >= 0 ? fds[target] : null_fd;
            if (fd == target)
                fcntl(fd, F_SETFD, 0); // dup2 onto itself would keep close-on-exec
            else
                dup2(fd, target);
        }
        // Nothing of the capture's stays open in the child: a pipe end held here would
        // keep another child from seeing its reader go.
        close_range(3, ~0U, 0);
        struct sigaction default_action = {};
        default_action.sa_handler = SIG_DFL;
        for (int sig : {SIGPIPE, SIGINT, SIGTERM})
            sigaction(sig, &default_action, nullptr);
        std::exit(body());
    }
    if (pid < 0) {
        std::fprintf(stderr, "vornhal-capture: cannot start %s: %s\n", name, std::strerror(errno));
        return false;
    }
    setpgid(pid, pid); // as the child does, whichever comes first
    return true;
}

bool start_child(const std::vector<std::string>& args, int in_fd, int out_fd, int err_fd,
                 pid_t& pid) {
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    return start_child(
        argv[0],
        [&argv]() -> int {
            execve(argv[0], argv.data(), environ);
            _exit(127);
        },
        in_fd, out_fd, err_fd, pid);
}

std::string wait_for_exit(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return std::string("lost track of it: ") + std::strerror(errno);
    char text[64];
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return {};
    if (WIFEXITED(status))
        std::snprintf(text, sizeof text, "exited with status %d", WEXITSTATUS(status));
    else if (WIFSIGNALED(status))
        std::snprintf(text, sizeof text, "was killed by signal %d (%s)", WTERMSIG(status),
                      strsignal(WTERMSIG(status)));
    else
        std::snprintf(text, sizeof text, "ended with wait status %d", status);
    return text;
}

FILE* open_diagnostics() {
    FILE* file = std::tmpfile();
    if (file)
        fcntl(fileno(file), F_SETFD, FD_CLOEXEC);
    return file;
}

std::string last_line_of(FILE* file) {
    if (file == nullptr)
        return {};
    std::fflush(file);
    std::rewind(file);
    std::string last, line;
    for (int c; (c = std::fgetc(file)) != EOF;) {
        if (c != '\n' && c != '\r') {
            line += static_cast<char>(c);
            continue;
        }
        if (!line.empty())
            last = line;
        line.clear();
    }
    return line.empty() ? last : line;
}

bool write_whole(int fd, const unsigned char* bytes, size_t size) {
    while (size > 0) {
        const ssize_t wrote = write(fd, bytes, size);
        if (wrote <= 0)
            return false; // EPIPE: the reader has gone; EINTR: interrupted
        bytes += wrote;
        size -= static_cast<size_t>(wrote);
    }
    return true;
}

std::string find_on_path(const char* name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    for (size_t start = 0; path && start <= dirs.size();) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        // An empty entry means the current directory.
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + name;
        struct stat info;
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}
