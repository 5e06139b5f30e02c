// The desktop-mode watcher. One runs for each stretch the program spends in a mode of its
// own: F1 back to a window ends it, F1 to fullscreen starts another. Its only word from
// the program is "restored"; when the line to the program closes without it, the program
// is gone (killed, crashed) and the watcher sets the modes it remembered back.
//
// It is a fork that shares nothing with the program from then on: it closes every
// descriptor it inherited (the program's X connection among them, which must close when
// the program dies), talks to the X server over a connection of its own, leaves the
// program's session so that a hang-up or a signal to the program's process group leaves
// it standing, and ends through _exit, so no exit handler of the program's libraries
// runs in it. It ends with its X connection too: without the server there is no mode.
#include "platform/mode_guard.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <vector>

namespace {

struct guard_state {
    pid_t watcher; // the watcher's process, 0 when none runs; written by start / stop
    int line_fd;   // the program's end of the socket pair to it; written by start / stop
};
guard_state guard;

constexpr char word_ready = 'r';    // watcher to program: the desktop mode is remembered
constexpr char word_restored = 'd'; // program to watcher: the program put it back itself
// How long the program waits for the watcher to remember the mode before going on
// unguarded; an X server answers in milliseconds.
constexpr int ready_wait_ms = 2000;

// What one CRTC shows.
struct crtc_setting {
    RRCrtc crtc;
    RRMode mode;
    int x, y;
    Rotation rotation;
    std::vector<RROutput> outputs;
};

// The desktop mode: the screen's size and what each CRTC shows on it. A switch sets one
// CRTC's mode, and the server may shrink the screen to match.
struct desktop_mode {
    int width_px, height_px, width_mm, height_mm;
    std::vector<crtc_setting> crtcs;
};

desktop_mode read_desktop_mode(Display* display) {
    int screen = DefaultScreen(display);
    desktop_mode desktop{DisplayWidth(display, screen), DisplayHeight(display, screen),
                         DisplayWidthMM(display, screen), DisplayHeightMM(display, screen), {}};
    XRRScreenResources* resources =
        XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display));
    for (int i = 0; resources && i < resources->ncrtc; ++i) {
        XRRCrtcInfo* info = XRRGetCrtcInfo(display, resources, resources->crtcs[i]);
        if (!info)
            continue;
        desktop.crtcs.push_back({resources->crtcs[i], info->mode, info->x, info->y,
                                 info->rotation, {info->outputs, info->outputs + info->noutput}});
        XRRFreeCrtcInfo(info);
    }
    if (resources)
        XRRFreeScreenResources(resources);
    return desktop;
}

// The screen must hold every CRTC at each step, so it first grows to hold both the present
// and the remembered ones, then takes its own size once the CRTCs are back. The server
// leaves a CRTC that already shows its setting untouched, so every one is set.
void restore_desktop_mode(Display* display, desktop_mode& desktop) {
    Window root = DefaultRootWindow(display);
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, root);
    Window root_again;
    int x, y;
    unsigned width_px = 0, height_px = 0, border_px, depth;
    if (!resources || !XGetGeometry(display, root, &root_again, &x, &y, &width_px, &height_px,
                                    &border_px, &depth))
        return;
    XRRSetScreenSize(display, root, std::max(static_cast<int>(width_px), desktop.width_px),
                     std::max(static_cast<int>(height_px), desktop.height_px), desktop.width_mm,
                     desktop.height_mm);
    for (crtc_setting& setting : desktop.crtcs)
        XRRSetCrtcConfig(display, resources, setting.crtc, CurrentTime, setting.x, setting.y,
                         setting.mode, setting.rotation, setting.outputs.data(),
                         static_cast<int>(setting.outputs.size()));
    XRRSetScreenSize(display, root, desktop.width_px, desktop.height_px, desktop.width_mm,
                     desktop.height_mm);
    XRRFreeScreenResources(resources);
    XSync(display, False);
}

// A CRTC or mode that vanished meanwhile is no reason to stop restoring the others.
int ignore_x_error(Display*, XErrorEvent*) {
    return 0;
}

int end_with_server(Display*) {
    _exit(0);
}

[[noreturn]] void watch_desktop_mode(int line_fd) {
    setsid();
    prctl(PR_SET_NAME, "vornhal-guard");
    signal(SIGINT, SIG_DFL); // the program's handlers, inherited, mean nothing here
    signal(SIGTERM, SIG_DFL);
    close_range(3, line_fd - 1, 0);
    close_range(line_fd + 1, ~0U, 0);
    XSetErrorHandler(ignore_x_error);
    XSetIOErrorHandler(end_with_server);
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        _exit(0);
    desktop_mode desktop = read_desktop_mode(display);
    if (desktop.crtcs.empty() || send(line_fd, &word_ready, 1, MSG_NOSIGNAL) != 1)
        _exit(0);

    pollfd watched[] = {{line_fd, POLLIN, 0}, {ConnectionNumber(display), POLLIN, 0}};
    for (;;) {
        if (poll(watched, 2, -1) < 0)
            continue; // interrupted
        // Nothing is asked of the server, so the connection stirs only for the odd
        // broadcast event, or when it breaks: reading then ends the watcher.
        while (watched[1].revents && XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
        }
        if (watched[0].revents) {
            char word = 0;
            if (recv(line_fd, &word, 1, 0) < 0 && errno == EINTR)
                continue;
            if (word != word_restored)
                restore_desktop_mode(display, desktop);
            _exit(0);
        }
    }
}

void reap(pid_t process) {
    while (waitpid(process, nullptr, 0) < 0 && errno == EINTR) {
    }
}

} // namespace

void start_mode_guard() {
    if (guard.watcher)
        return;
    int line[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, line) != 0)
        return;
    pid_t watcher = fork();
    if (watcher == 0)
        watch_desktop_mode(line[1]);
    close(line[1]);
    pollfd ready = {line[0], POLLIN, 0};
    char word = 0;
    if (watcher > 0 && poll(&ready, 1, ready_wait_ms) == 1 && recv(line[0], &word, 1, 0) == 1 &&
        word == word_ready) {
        guard = {watcher, line[0]};
        return;
    }
    close(line[0]);
    if (watcher > 0) {
        kill(watcher, SIGKILL);
        reap(watcher);
    }
}

void stop_mode_guard() {
    if (!guard.watcher)
        return;
    send(guard.line_fd, &word_restored, 1, MSG_NOSIGNAL);
    close(guard.line_fd);
    reap(guard.watcher);
    guard = {};
}
