#!/usr/bin/env bash
# Runs every test of an already configured and built tree.
set -euo pipefail
build=${1:-build}
ctest --test-dir "$build" --output-on-failure -j 2 --timeout 600
