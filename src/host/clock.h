// The program's one clock. Thread-safe.
#pragma once

#include <cstdint>

// Nanoseconds on a clock that never steps back and counts from an arbitrary origin.
int64_t monotonic_ns();
