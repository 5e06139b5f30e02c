// Starts and stops the desktop-mode guard, a program of its own (src/guard) found beside
// the show: libexec/vornhal/ beside the installed bin/, or the show's own folder in a
// build tree. It is started with exec, in a session of its own (a hang-up or a signal
// to the show's process group leaves it standing), with default signal dispositions,
// an empty signal mask and no descriptor of the show's but its end of the line.
#include "platform/mode_guard.h"

#include "guard/guard_words.h"
#include "host/files.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

extern char** environ;

namespace {

struct guard_state {
    pid_t guard; // the guard's process, 0 when none runs; written by start / stop
    int line_fd; // the show's end of the socket pair to it; written by start / stop
};
guard_state guard;

// How long the show waits for the guard to remember the mode before going on
// unguarded; an X server answers in milliseconds.
constexpr int ready_wait_ms = 2000;

std::string guard_path() {
    const std::string dir = executable_dir();
    const std::string installed = dir + "/../libexec/vornhal/" + guard_program;
    return access(installed.c_str(), X_OK) == 0 ? installed : dir + "/" + guard_program;
}

pid_t spawn_guard(int line_fd) {
    posix_spawn_file_actions_t files;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&files);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_adddup2(&files, line_fd, guard_line_fd);
    posix_spawn_file_actions_addclosefrom_np(&files, guard_line_fd + 1);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
    const std::string path = guard_path();
    char* argv[] = {const_cast<char*>(guard_program), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, path.c_str(), &files, &attributes, argv, environ) != 0)
        pid = 0;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

void reap(pid_t process) {
    while (waitpid(process, nullptr, 0) < 0 && errno == EINTR) {
    }
}

} // namespace

void start_mode_guard() {
    if (guard.guard)
        return;
    int line[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, line) != 0)
        return;
    const pid_t started = spawn_guard(line[1]);
    close(line[1]);
    pollfd ready = {line[0], POLLIN, 0};
    char word = 0;
    if (started > 0 && poll(&ready, 1, ready_wait_ms) == 1 && recv(line[0], &word, 1, 0) == 1 &&
        word == guard_word_ready) {
        guard = {started, line[0]};
        return;
    }
    close(line[0]);
    if (started > 0) {
        kill(started, SIGKILL);
        reap(started);
    }
}

void stop_mode_guard() {
    if (!guard.guard)
        return;
    send(guard.line_fd, &guard_word_restored, 1, MSG_NOSIGNAL);
    close(guard.line_fd);
    reap(guard.guard);
    guard = {};
}
