#!/usr/bin/env bash
# The sound-server fault test as a viewer runs the show: a normal user without
# real-time priority (no rtkit answers it, and its limit for real-time priority is 0),
# in a clean environment, its server its own. As root, a user of the tests' own, made
# the first time, runs a copy of what the test reads (a build under root's home is not
# the user's to read); as anyone else the plain test says it all, and this one is
# skipped (77). Leaks are the plain test's to find.
# Usage: as_viewer.sh PROBE SOURCE_DIR pulseaudio|pipewire|pipewire-native
set -euo pipefail
((EUID == 0)) || exit 77
probe=$1 source_dir=$2 kind=$3
viewer=vornhal-viewer
id "$viewer" >/dev/null 2>&1 ||
    useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$viewer"
# A root where a normal user cannot run programs (a bootstrapped root entered by chroot
# can be one) cannot hold this test: it is skipped, saying so.
runuser -u "$viewer" -- true 2>/dev/null ||
    { echo "as_viewer.sh: $viewer cannot run a program here; skipped" >&2 && exit 77; }
stage=$(mktemp -d /tmp/vornhal-viewer.XXXXXX)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/data" "$stage/scripts" "$stage/tests/sound" "$stage/tests/lib"
cp "$probe" "$stage/probe"
cp "$source_dir/data/music.mp3" "$stage/data/"
cp "$source_dir/scripts/sound-server.sh" "$stage/scripts/"
cp "$source_dir/tests/sound/server_faults.sh" "$stage/tests/sound/"
cp "$source_dir/tests/lib/wait.sh" "$stage/tests/lib/"
chmod -R a+rX "$stage"
runuser -u "$viewer" -- env -i PATH="$PATH" LANG=C.UTF-8 ASAN_OPTIONS=detect_leaks=0 \
    bash -c 'ulimit -r 0 && exec bash "$1/tests/sound/server_faults.sh" "$1/probe" "$1" "$2"' \
    viewer "$stage" "$kind"
