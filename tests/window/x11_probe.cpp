// What the end-to-end tests ask of the X server beyond xdotool and xwininfo, on
// $DISPLAY:
//   vornhal-x11-probe close WINDOW_ID  asks the window to close as a window manager
//                                      does (a WM_DELETE_WINDOW client message)
//   vornhal-x11-probe cursor           prints "visible" or "hidden": whether the
//                                      cursor shown now has any opaque pixel
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int ask_to_close(Display* display, Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    return sent ? 0 : 1;
}

int print_cursor_visibility(Display* display) {
    int event_base = 0, error_base = 0;
    if (!XFixesQueryExtension(display, &event_base, &error_base)) {
        std::fprintf(stderr, "vornhal-x11-probe: the server lacks XFIXES\n");
        return 1;
    }
    XFixesCursorImage* image = XFixesGetCursorImage(display);
    if (!image) {
        std::fprintf(stderr, "vornhal-x11-probe: no cursor image\n");
        return 1;
    }
    bool visible = false;
    for (int i = 0; i < image->width * image->height; ++i)
        if ((image->pixels[i] >> 24) & 0xFF)
            visible = true;
    XFree(image);
    std::printf("%s\n", visible ? "visible" : "hidden");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    bool close_command = argc == 3 && std::strcmp(argv[1], "close") == 0;
    bool cursor_command = argc == 2 && std::strcmp(argv[1], "cursor") == 0;
    if (!close_command && !cursor_command) {
        std::fprintf(stderr, "usage: vornhal-x11-probe close WINDOW_ID | cursor\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "vornhal-x11-probe: cannot open the display\n");
        return 1;
    }
    int status = close_command ? ask_to_close(display, std::strtoul(argv[2], nullptr, 0))
                               : print_cursor_visibility(display);
    XCloseDisplay(display);
    return status;
}
