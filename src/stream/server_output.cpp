// Short connections to the PulseAudio server, each on a main loop of its own so that
// the wait is bounded.
#include "stream/server_output.h"

#include "host/clock.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct server_query {
    bool answered; // the last reply came
    bool has_output;
    bool on_pipewire;                  // the server names itself PipeWire's
    bool clients_answered;             // the client list came
    bool inputs_asked;                 // the sink input list is asked for
    std::vector<uint32_t> own_clients; // connections of this process
    std::vector<uint32_t> own_streams; // sink inputs of this process
    pa_usec_t queue_usec;              // what the newest of them holds queued
    int pending;                       // kills not yet confirmed
};

void take_server_info(pa_context*, const pa_server_info* info, void* userdata) {
    auto* query = static_cast<server_query*>(userdata);
    query->answered = true;
    // Both names are read by SDL; a sink always brings its monitor, the source.
    query->has_output = info && info->default_sink_name && info->default_source_name;
    query->on_pipewire = info && info->server_name && std::strstr(info->server_name, "PipeWire");
}

bool of_this_process(const pa_proplist* properties) {
    const char* pid = pa_proplist_gets(properties, PA_PROP_APPLICATION_PROCESS_ID);
    return pid && std::strtol(pid, nullptr, 10) == getpid();
}

void take_client(pa_context*, const pa_client_info* info, int eol, void* userdata) {
    auto* query = static_cast<server_query*>(userdata);
    if (eol)
        query->clients_answered = true;
    else if (info && of_this_process(info->proplist))
        query->own_clients.push_back(info->index);
}

// A stream of this process names it, or (as a stream through SDL's own PipeWire driver
// shows on pipewire-pulse) only its connection does.
void take_sink_input(pa_context*, const pa_sink_input_info* info, int eol, void* userdata) {
    auto* query = static_cast<server_query*>(userdata);
    if (eol) {
        query->answered = true;
        return;
    }
    if (!info)
        return;
    const auto& clients = query->own_clients;
    if (of_this_process(info->proplist) ||
        std::find(clients.begin(), clients.end(), info->client) != clients.end()) {
        if (query->own_streams.empty() || info->index > query->own_streams.back())
            query->queue_usec = info->buffer_usec;
        query->own_streams.push_back(info->index);
    }
}

void take_kill(pa_context*, int, void* userdata) {
    --static_cast<server_query*>(userdata)->pending;
}

// What ask_server_output and end_own_server_streams do once connected: start one
// request, and say whether the work is done when its replies are in.
using server_step = bool (*)(pa_context*, server_query&, pa_operation*&);

// Connects, runs step until it is done or timeout_ms has passed; false without a server.
bool talk_to_server(int timeout_ms, server_query& query, server_step step) {
    pa_mainloop* loop = pa_mainloop_new();
    if (!loop)
        return false;
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "vornhal");
    bool connected = false;
    // Never starts a server: only one already there counts.
    if (context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        connected = true;
        const int64_t deadline_ns = monotonic_ns() + int64_t(timeout_ms) * 1000000;
        pa_operation* asking = nullptr;
        constexpr int step_us = 20000;
        while (monotonic_ns() < deadline_ns) {
            pa_context_state_t state = pa_context_get_state(context);
            if (!PA_CONTEXT_IS_GOOD(state)) {
                connected = false;
                break;
            }
            if (state == PA_CONTEXT_READY && step(context, query, asking))
                break;
            if (pa_mainloop_prepare(loop, step_us) < 0 || pa_mainloop_poll(loop) < 0 ||
                pa_mainloop_dispatch(loop) < 0)
                break;
        }
        if (asking) {
            pa_operation_cancel(asking);
            pa_operation_unref(asking);
        }
        pa_context_disconnect(context);
    }
    if (context)
        pa_context_unref(context);
    pa_mainloop_free(loop);
    return connected;
}

// Asks for the server's own information; false without a server.
bool ask_server_info(int timeout_ms, server_query& query) {
    return talk_to_server(timeout_ms, query,
                          [](pa_context* c, server_query& q, pa_operation*& asking) {
                              if (!asking)
                                  asking = pa_context_get_server_info(c, take_server_info, &q);
                              return q.answered;
                          });
}

} // namespace

server_output ask_server_output(int timeout_ms) {
    server_query query = {};
    if (!ask_server_info(timeout_ms, query) && !query.answered)
        return server_output::no_server;
    return query.answered && query.has_output ? server_output::ready : server_output::not_yet;
}

bool server_runs_on_pipewire(int timeout_ms) {
    server_query query = {};
    ask_server_info(timeout_ms, query);
    return query.answered && query.on_pipewire;
}

// The step that asks for the sink inputs of this process: the clients first, then the
// sink inputs; done when those are in.
static bool ask_for_own_streams(pa_context* c, server_query& q, pa_operation*& asking) {
    if (!q.clients_answered) {
        if (!asking)
            asking = pa_context_get_client_info_list(c, take_client, &q);
    } else if (!q.inputs_asked) {
        if (asking)
            pa_operation_unref(asking);
        asking = pa_context_get_sink_input_info_list(c, take_sink_input, &q);
        q.inputs_asked = asking != nullptr;
    }
    return q.answered;
}

static void ask_own_streams(int timeout_ms, server_query& query) {
    talk_to_server(timeout_ms, query, ask_for_own_streams);
}

bool server_keeps_own_stream(int timeout_ms) {
    server_query query = {};
    ask_own_streams(timeout_ms, query);
    return query.answered && !query.own_streams.empty();
}

int server_own_stream_queue_ms(int timeout_ms) {
    server_query query = {};
    ask_own_streams(timeout_ms, query);
    return query.answered && query.queue_usec > 0 ? static_cast<int>(query.queue_usec / 1000) : -1;
}

void end_own_server_streams(int timeout_ms) {
    server_query query = {};
    talk_to_server(timeout_ms, query, [](pa_context* c, server_query& q, pa_operation*& asking) {
        if (!ask_for_own_streams(c, q, asking))
            return false;
        if (q.pending == 0 && !q.own_streams.empty()) {
            for (uint32_t index : q.own_streams)
                if (pa_operation* kill = pa_context_kill_sink_input(c, index, take_kill, &q)) {
                    ++q.pending;
                    pa_operation_unref(kill);
                }
            q.own_streams.clear();
        }
        return q.pending == 0;
    });
}
