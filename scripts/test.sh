#!/usr/bin/env bash
# Installs what building and testing need, builds everything and runs every test: the
# suite, then the sanitizer builds and the fuzz smoke (scripts/run-tests.sh).
# Usage: test.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
cd "$root"
bash scripts/install-deps.sh play test
cmake --preset default -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)"
exec bash scripts/run-tests.sh "$build"
