#!/usr/bin/env bash
# Runs a command as a viewer runs the show: a normal user, without real-time priority
# (no rtkit answers it, and its limit for real-time priority is 0), in a clean
# environment of its own. As root, a user of the tests' own, made the first time; as
# anyone else there is nothing to add to the plain test, and it is skipped (77).
set -euo pipefail
((EUID == 0)) || exit 77
viewer=vornhal-viewer
id "$viewer" >/dev/null 2>&1 ||
    useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$viewer"
exec runuser -u "$viewer" -- env -i PATH="$PATH" LANG=C.UTF-8 \
    bash -c 'ulimit -r 0 && exec "$@"' viewer "$@"
