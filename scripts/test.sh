#!/usr/bin/env bash
# Installs what building and testing need, builds everything and runs every test: the
# suite (the default workflow preset, in build/), then the same suite under the
# sanitizers and a short run of each fuzz target, each in a build of its own.
# VORNHAL_QUICK=1 stops after the plain suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh play test
source scripts/jobs.sh
echo "== The suite"
cmake --workflow --preset default

[[ "${VORNHAL_QUICK:-0}" == 1 ]] && exit 0

echo "== Sanitizers"
bash scripts/ci-sanitizers.sh

echo "== Fuzz smoke"
bash scripts/ci-fuzz.sh 60
