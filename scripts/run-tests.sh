#!/usr/bin/env bash
# Runs every test of an already configured and built tree, then the same suite under
# the sanitizers and a short run of each fuzz target, each in a build of its own.
# VORNHAL_QUICK=1 stops after the plain suite.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

echo "== The suite"
ctest --test-dir "$build" --output-on-failure -j 2 --timeout 900

[[ "${VORNHAL_QUICK:-0}" == 1 ]] && exit 0

echo "== Sanitizers"
bash scripts/ci-sanitizers.sh "$build-asan" "$build-tsan"

echo "== Fuzz smoke"
bash scripts/ci-fuzz.sh "$build-fuzz" 60
