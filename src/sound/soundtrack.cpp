// Placeholder until the soundtrack lands: a clock that reads 0.
#include "sound/soundtrack.h"

float demo_time_ms = 0.0f;
static int held_ms = 0;

void start_soundtrack() {}
void sample_demo_clock() { demo_time_ms = static_cast<float>(held_ms); }
void seek_soundtrack(int) {}
void stop_soundtrack() {}
void hold_demo_clock(int ms) { held_ms = ms; }
