// The line between the show and its mode guard: a socket, descriptor 3 in the guard,
// and the two one-byte words that pass over it.
#pragma once

constexpr int guard_line_fd = 3;
constexpr char guard_word_ready = 'r';    // guard to show: the desktop mode is remembered
constexpr char guard_word_restored = 'd'; // show to guard: the show put it back itself
constexpr const char* guard_program = "vornhal-mode-guard";
