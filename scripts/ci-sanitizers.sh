#!/usr/bin/env bash
# The test suite under sanitizers, each build in its own directory:
#   1. AddressSanitizer + UBSan: every test except those labelled "long".
#   2. ThreadSanitizer: the sound tests (the audio callback runs on SDL's thread).
# Any report stops the program that made it and fails its test. Leak reports are
# suppressed only for libraries outside the project (the GL driver and its compiler,
# the X and SDL libraries), never for the project's own code.
# The asan and tsan presets say what runs, in build-asan and build-tsan.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/jobs.sh

suppressions=$(mktemp)
trap 'rm -f "$suppressions"' EXIT
cat >"$suppressions" <<'SUPP'
leak:libLLVM
leak:libgallium
leak:_dri.so
leak:libGLX_mesa
leak:libGLX.so
leak:libGLdispatch
leak:libEGL
leak:libglapi
leak:libX11
leak:libxcb
leak:libSDL2
leak:libdbus
leak:libpulse
leak:libpipewire
leak:libspa
leak:libwayland
leak:libxkbcommon
leak:libdecor
leak:libfontconfig
leak:libcairo
leak:libpango
leak:libglib
leak:libgobject
SUPP

# The GL driver is loaded and unloaded at run time (SDL closes the GL library on the
# way out), so by the time the leak check runs its code is gone and its leaks come
# with nameless frames that no suppression can match. Preloading the driver's
# libraries keeps them mapped to the end; ASan then need not come first in the list.
libdir=/usr/lib/$(gcc -print-multiarch)
preload=()
for lib in dri/swrast_dri.so libGLX_mesa.so.0 libEGL_mesa.so.0 libGL.so.1 libGLX.so.0 \
    libEGL.so.1 libGLdispatch.so.0; do
    [[ -e "$libdir/$lib" ]] && preload+=("$libdir/$lib")
done
gl_preload=$(IFS=:; echo "${preload[*]}")

export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:verify_asan_link_order=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$suppressions:print_suppressions=0
# The GL driver's own threads (llvmpipe) are not instrumented; what it does through
# the intercepted calls is not the project's to answer for.
tsan_suppressions=$(mktemp)
trap 'rm -f "$suppressions" "$tsan_suppressions"' EXIT
printf 'called_from_lib:%s\n' swrast_dri.so libLLVM libgallium >"$tsan_suppressions"
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$tsan_suppressions

echo "== AddressSanitizer + UBSan: the whole suite but the long runs"
cmake --preset asan >/dev/null
cmake --build --preset asan
LD_PRELOAD=$gl_preload ctest --preset asan

echo "== ThreadSanitizer: the sound tests"
cmake --preset tsan >/dev/null
cmake --build --preset tsan
LD_PRELOAD=$gl_preload ctest --preset tsan
