#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UBSan) and runs each
# for a while on its seed corpus; any crash, leak, sanitizer report or broken check
# fails the job. The fuzz preset builds them in build-fuzz.
# Usage: ci-fuzz.sh [SECONDS_PER_TARGET]
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
cd "$root"
source scripts/jobs.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

status=0
for target in png mp3; do
    # The run's own corpus grows in a scratch directory; the committed seeds stay as
    # they are. Crash inputs land in the build directory for inspection.
    work=$(mktemp -d)
    artifacts="$build/fuzz-artifacts/$target/"
    mkdir -p "$artifacts"
    echo "== fuzzing $target for $seconds s"
    if ! "$build/fuzz/vornhal-fuzz-$target" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts" \
        "$work" "$root/fuzz/corpus/$target" >"$build/fuzz-$target.log" 2>&1; then
        echo "FAIL: the $target fuzzer found a problem; input in $artifacts" >&2
        grep -v -E '^#[0-9]+' "$build/fuzz-$target.log" | tail -n 60 >&2
        status=1
    fi
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' \
        "$build/fuzz-$target.log" || true
    rm -rf "$work"
done
exit $status
