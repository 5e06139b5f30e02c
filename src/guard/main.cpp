// vornhal-mode-guard: gives the X desktop its display mode back when the show dies in a
// mode of its own (killed, crashed) without restoring it. The show starts one for each
// stretch it spends in such a mode (platform/mode_guard.cpp) and hands it one end of a
// socket as descriptor 3. The guard remembers the mode of every screen output, says
// "ready", and waits. Its only word from the show is "restored"; when the line closes
// without it, the show is gone and the guard sets the remembered modes back. It ends
// with its X connection too: without the server there is no mode.
//
// It is a program of its own, not a fork of the show: it starts with nothing of the
// show's threads, locks or signal mask, and SIGTERM or SIGINT end it at once.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "guard/guard_words.h"

namespace {

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
    desktop_mode desktop{DisplayWidth(display, screen),
                         DisplayHeight(display, screen),
                         DisplayWidthMM(display, screen),
                         DisplayHeightMM(display, screen),
                         {}};
    XRRScreenResources* resources =
        XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display));
    for (int i = 0; resources && i < resources->ncrtc; ++i) {
        XRRCrtcInfo* info = XRRGetCrtcInfo(display, resources, resources->crtcs[i]);
        if (!info)
            continue;
        desktop.crtcs.push_back({resources->crtcs[i],
                                 info->mode,
                                 info->x,
                                 info->y,
                                 info->rotation,
                                 {info->outputs, info->outputs + info->noutput}});
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

bool is_socket(int fd) {
    struct stat info;
    return fstat(fd, &info) == 0 && S_ISSOCK(info.st_mode);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 1 || !is_socket(guard_line_fd)) {
        std::fprintf(stderr,
                     "%s: the show starts this helper itself; there is nothing to run "
                     "it for by hand\n",
                     argv[0] ? argv[0] : guard_program);
        return 2;
    }
    XSetErrorHandler(ignore_x_error);
    XSetIOErrorHandler(end_with_server);
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 0;
    desktop_mode desktop = read_desktop_mode(display);
    if (desktop.crtcs.empty() || send(guard_line_fd, &guard_word_ready, 1, MSG_NOSIGNAL) != 1)
        return 0;

    pollfd watched[] = {{guard_line_fd, POLLIN, 0}, {ConnectionNumber(display), POLLIN, 0}};
    for (;;) {
        if (poll(watched, 2, -1) < 0)
            continue; // interrupted
        // Nothing is asked of the server, so the connection stirs only for the odd
        // broadcast event, or when it breaks: reading then ends the guard.
        while (watched[1].revents && XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
        }
        if (watched[0].revents) {
            char word = 0;
            if (recv(guard_line_fd, &word, 1, 0) < 0 && errno == EINTR)
                continue;
            if (word != guard_word_restored)
                restore_desktop_mode(display, desktop);
            return 0;
        }
    }
}
