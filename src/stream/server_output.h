// Two questions for the PulseAudio server (or pipewire-pulse), asked over a connection
// of their own. SDL's PulseAudio driver has two weak spots they cover:
//  - it cannot open on a server without a default output: it reads the output's name
//    without asking whether there is one, and the process dies. A server that has just
//    started, or restarted, is in that state for a moment before its sink is loaded;
//  - its audio thread waits for the server to ask for sound, and a stream on a sink that
//    sleeps (suspended, or a Bluetooth headset still waking) is never asked: closing the
//    device would wait for the sink to wake. The server ending the stream frees it.
// Which server it is, since the two hold a stream's sound for different lengths. And
// one more, for a stream that has gone quiet: whether the server still keeps it (it
// is being moved to another sink, or its sink sleeps), so that it is waited for rather
// than given up. Each call makes a connection of its own: the soundtrack asks from its
// sound thread, never from the frame's path.
#pragma once

enum class server_output {
    no_server, // no server answers: SDL goes on to its other drivers
    ready,     // a default sink and source are set
    not_yet,   // a server answers (or hangs) without them: try again later
};

// Asks the server SDL would reach, for at most timeout_ms.
server_output ask_server_output(int timeout_ms);

// Whether the server SDL would reach is PipeWire's (pipewire-pulse) rather than
// PulseAudio itself, asked for at most timeout_ms; false without an answer.
bool server_runs_on_pipewire(int timeout_ms);

// Whether the server has a playback stream of this process, asked for at most
// timeout_ms; false without a server.
bool server_keeps_own_stream(int timeout_ms);

// How much sound the server holds queued for this process's playback stream (the
// newest, if several), in milliseconds, asked for at most timeout_ms: what plays before
// sound handed over now reaches the sink. -1 without a server, a stream or a figure
// (pipewire-pulse gives none).
int server_own_stream_queue_ms(int timeout_ms);

// Has the server end every playback stream of this process, waiting at most
// timeout_ms; nothing without a server.
void end_own_server_streams(int timeout_ms);
