// Ctrl-C and SIGTERM at any moment. The signals are blocked in every thread and taken by
// one of their own, which only records them, so the main loop ends the show cleanly at
// its next pass. Where the main thread cannot get there (waiting inside a dialog, or
// anywhere for too long), the thread ends the program itself: it kills the dialogs and
// other children of the program's own session, then dies of the signal. The mode
// guard is in a session of its own and stays, to give the desktop its mode back.
//
// A dialog killed that way is not the end of it: SDL draws its X11 dialogs in a forked
// child, and when one dies, it forks the same dialog again as a fallback, which may
// come after the children were killed. So every child the program forks dies with it
// (the guard is spawned, not forked, and stays).
#include "platform/platform.h"

#include <dirent.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

std::atomic<int> received_signal{0}; // written by the watching thread, read by anyone

// How long the main loop has to end the show itself before it is ended for it.
constexpr int clean_end_ms = 1000;

void kill_own_children() {
    DIR* processes = opendir("/proc");
    if (!processes)
        return;
    const pid_t self = getpid(), session = getsid(0);
    while (dirent* entry = readdir(processes)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0)
            continue;
        char path[64];
        std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
        FILE* stat = std::fopen(path, "r");
        if (!stat)
            continue;
        // pid (comm) state ppid pgrp session: comm may hold spaces, so read after ')'.
        char line[512] = {};
        const bool read = std::fgets(line, sizeof line, stat) != nullptr;
        std::fclose(stat);
        const char* after = read ? std::strrchr(line, ')') : nullptr;
        int parent = 0, group = 0, its_session = 0;
        if (after && std::sscanf(after + 1, " %*c %d %d %d", &parent, &group, &its_session) == 3 &&
            parent == self && its_session == session)
            kill(pid, SIGKILL);
    }
    closedir(processes);
}

pid_t forking_process = 0; // the program, as a fork starts

void note_forking_process() {
    forking_process = getpid();
}

// In the new child: killed when the thread that forked it ends, with the program or
// before; a program already gone by now takes it along at once.
void die_with_forking_thread() {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != forking_process)
        _exit(1);
}

void watch_signals(sigset_t signals) {
    int sig = 0;
    while (sigwait(&signals, &sig) != 0) {
    }
    received_signal = sig;
    std::this_thread::sleep_for(std::chrono::milliseconds(clean_end_ms));
    kill_own_children();
    std::signal(sig, SIG_DFL);
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    raise(sig);
}

} // namespace

void watch_interrupts() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_atfork(note_forking_process, nullptr, die_with_forking_thread);
    // Before any other thread starts, so that all of them inherit the mask.
    if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) == 0)
        std::thread(watch_signals, signals).detach();
}

int interrupt_signal() {
    return received_signal;
}
