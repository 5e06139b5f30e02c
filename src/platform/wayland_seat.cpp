// Whether a Wayland desktop offers a seat. SDL 2.26 starts on one without a seat (a
// compositor with no input device attached, a headless one) and then crashes; the
// question is asked over a connection of our own before SDL makes its own.
#include "platform/wayland_seat.h"

#include <wayland-client.h>

#include <cstring>

namespace {

void note_global(void* data, wl_registry*, uint32_t, const char* interface, uint32_t) {
    if (std::strcmp(interface, wl_seat_interface.name) == 0)
        *static_cast<bool*>(data) = true;
}

void note_global_gone(void*, wl_registry*, uint32_t) {}

} // namespace

bool wayland_desktop_without_seat() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display)
        return false;
    bool seat = false;
    static const wl_registry_listener listener = {note_global, note_global_gone};
    wl_registry* registry = wl_display_get_registry(display);
    const bool answered = registry && wl_registry_add_listener(registry, &listener, &seat) == 0 &&
                          wl_display_roundtrip(display) >= 0;
    if (registry)
        wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return answered && !seat;
}
