// The mode guard, a process that gives the X desktop its display mode back when the
// program dies in a mode of its own (killed, crashed) without restoring it. Main
// thread only.
#pragma once

// Starts the guard, which remembers the display mode of every screen output as it is
// now: call just before the program first switches the mode. Nothing happens when one
// runs already or it cannot start (no X display, no RandR, no guard program); the program then runs
// as before, unguarded. Never fails the caller.
void start_mode_guard();
// Tells the guard the program put the desktop mode back itself, and waits for it to
// end. Safe to call without one.
void stop_mode_guard();
