// A look at the Wayland desktop before SDL starts on it. Main thread only.
#pragma once

// True when a Wayland display can be reached (WAYLAND_DISPLAY, or the default one) and
// it offers no seat: no keyboard, pointer or touch, on which SDL 2.26 crashes. False
// when there is none to reach, or it has a seat.
bool wayland_desktop_without_seat();
