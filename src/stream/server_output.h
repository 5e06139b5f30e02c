// Two questions for the PulseAudio server (or pipewire-pulse), asked over a connection
// of their own. SDL's PulseAudio driver has two weak spots they cover:
//  - it cannot open on a server without a default output: it reads the output's name
//    without asking whether there is one, and the process dies. A server that has just
//    started, or restarted, is in that state for a moment before its sink is loaded;
//  - its audio thread waits for the server to ask for sound, and a stream on a sink that
//    sleeps (suspended, or a Bluetooth headset still waking) is never asked: closing the
//    device would wait for the sink to wake. The server ending the stream frees it.
// And one more, for a stream that has gone quiet: whether the server still keeps it (it
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

// Whether the server has a playback stream of this process, asked for at most
// timeout_ms; false without a server.
bool server_keeps_own_stream(int timeout_ms);

// Has the server end every playback stream of this process, waiting at most
// timeout_ms; nothing without a server.
void end_own_server_streams(int timeout_ms);
