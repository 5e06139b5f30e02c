# Sourced: a sound server of its own, as desktops run them, with a null sink "vornhal"
# at 44100 Hz stereo as the default and a recorder of its monitor. Everything lives in
# a private XDG_RUNTIME_DIR (and, for PipeWire, a private D-Bus session); the server can
# be killed and started again mid-run, and everything stops on the way out.
#
#   sound_server_start KIND [nosink|nomanager]
#                             pulseaudio | pipewire (pipewire-pulse beside it) | pipewire-native
#                             (the same, with SDL's own pipewire driver); sets SDL_AUDIODRIVER;
#                             with nomanager PipeWire runs alone, no session manager ever
#                             up, no pipewire-pulse; with nosink the server runs without
#                             any sink until
#   sound_server_add_sink     loads the sink, makes it the default and starts the recorder
#   sound_server_kill         kill -9 the server and what serves with it
#   sound_server_stop         everything, recorder included; also run on exit
#
# The recorder appends raw 16-bit stereo to $VORNHAL_RECORDING. It also stands in for a
# listening device: a null sink nobody records from renders in 2-second blocks, and a
# stream starting then waits up to 2 s for its first sound, a wait no listener of a real
# device would have.
sound_runtime=$(mktemp -d)
chmod 700 "$sound_runtime"
export XDG_RUNTIME_DIR=$sound_runtime HOME=$sound_runtime PULSE_STATE_PATH=$sound_runtime/state
export VORNHAL_RECORDING=$sound_runtime/recording.raw
# A client finding no server must not start one of its own: the test decides.
export PULSE_CLIENTCONFIG=$sound_runtime/client.conf
echo "autospawn = no" >"$PULSE_CLIENTCONFIG"
sound_kind="" sound_pids=() sound_recorder="" sound_bus=""

sound_server_stop() {
    [[ -n $sound_recorder ]] && kill "$sound_recorder" 2>/dev/null
    ((${#sound_pids[@]})) && kill "${sound_pids[@]}" 2>/dev/null
    [[ -n $sound_bus ]] && kill "$sound_bus" 2>/dev/null
    wait 2>/dev/null
    sound_pids=() sound_recorder="" sound_bus=""
}
trap 'sound_server_stop; rm -rf "$sound_runtime"' EXIT
trap 'exit 143' TERM INT HUP

sound_server_kill() {
    kill -9 "${sound_pids[@]}" "$sound_recorder" 2>/dev/null
    wait "${sound_pids[@]}" "$sound_recorder" 2>/dev/null
    sound_pids=() sound_recorder=""
    # A killed PipeWire leaves its socket behind: the next start must wait for its own.
    rm -f "$XDG_RUNTIME_DIR/pipewire-0"
}

sound_server_start() {
    sound_kind=$1
    local log=$sound_runtime/server.log
    case $sound_kind in
    pulseaudio)
        export SDL_AUDIODRIVER=pulseaudio
        pulseaudio -n --daemonize=no --exit-idle-time=-1 --log-target=stderr --log-level=error \
            -L module-native-protocol-unix 2>>"$log" &
        sound_pids=($!)
        ;;
    pipewire | pipewire-native)
        export SDL_AUDIODRIVER=pulseaudio
        [[ $sound_kind == pipewire-native ]] && SDL_AUDIODRIVER=pipewire
        if [[ -z $sound_bus ]]; then
            local bus
            bus=$(dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1 | paste -sd' ')
            export DBUS_SESSION_BUS_ADDRESS=${bus% *}
            sound_bus=${bus##* }
        fi
        # The graph runs at the sink's rate, so nothing is resampled on the way; no
        # Bluetooth, whose seat monitor needs a logind that a bare system lacks.
        export XDG_CONFIG_HOME=$sound_runtime/config
        mkdir -p "$XDG_CONFIG_HOME/pipewire/pipewire.conf.d" "$XDG_CONFIG_HOME/wireplumber/bluetooth.lua.d"
        echo 'context.properties = { default.clock.rate = 44100 default.clock.allowed-rates = [ 44100 ] }' \
            >"$XDG_CONFIG_HOME/pipewire/pipewire.conf.d/vornhal.conf"
        echo 'bluez_monitor.enabled = false' >"$XDG_CONFIG_HOME/wireplumber/bluetooth.lua.d/51-vornhal.lua"
        pipewire >>"$log" 2>&1 &
        sound_pids=($!)
        # Its clients need it listening; 10 s is a ceiling for a hang.
        for _ in $(seq 200); do [[ -S $XDG_RUNTIME_DIR/pipewire-0 ]] && break; sleep 0.05; done
        [[ ${2:-} == nomanager ]] && return 0
        wireplumber >>"$log" 2>&1 &
        sound_pids+=($!)
        pipewire-pulse >>"$log" 2>&1 &
        sound_pids+=($!)
        # A client asking before it listens makes its directory first, and it gives up.
        for _ in $(seq 200); do [[ -S $XDG_RUNTIME_DIR/pulse/native ]] && break; sleep 0.05; done
        ;;
    *) echo "sound_server_start: no server called '$sound_kind'" >&2 && return 1 ;;
    esac
    for _ in $(seq 100); do
        pactl info >/dev/null 2>&1 && break
        sleep 0.05
    done
    [[ ${2:-} == nosink ]] || sound_server_add_sink
}

sound_server_add_sink() {
    local log=$sound_runtime/server.log
    for _ in $(seq 100); do # pipewire-pulse answers a moment before it can make nodes
        pactl load-module module-null-sink sink_name=vornhal rate=44100 channels=2 >/dev/null \
            2>&1 && break
        sleep 0.1
    done
    pactl set-default-sink vornhal || {
        tail -n 20 "$log" >&2
        echo "sound_server_start: no $sound_kind" >&2
        return 1
    }
    parec -d vornhal.monitor --raw --format=s16le --rate=44100 --channels=2 \
        --latency-msec="${VORNHAL_RECORDER_LATENCY_MS:-10}" \
        >>"$VORNHAL_RECORDING" 2>/dev/null &
    sound_recorder=$!
    # The sink finishes the 2-second block it began idle; then it runs in small blocks.
    sleep 2.1
}
