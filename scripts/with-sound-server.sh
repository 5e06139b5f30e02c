#!/usr/bin/env bash
# Runs a command against a sound server of its own (sound-server.sh): a null sink at
# 44100 Hz stereo, recorded into $VORNHAL_RECORDING for as long as the command runs.
# Usage: with-sound-server.sh pulseaudio|pipewire|pipewire-native COMMAND [ARGS...]
set -uo pipefail
source "$(dirname "$0")/sound-server.sh"
sound_server_start "$1" || exit 1
shift
"$@"
