#!/usr/bin/env bash
# A memcheck run of vornhal-capture rendering one frame: no invalid read or write, no
# use of uninitialised memory and no definite leak anywhere the project's own code is
# involved. Only reports that come from inside the GL driver, its compiler and the
# window-system and SDL libraries are suppressed (their stacks pass through them);
# libpng and libmpg123 are not, as the project owns what it gets from them, nor the C
# and C++ runtimes, which every stack passes through.
# Usage: valgrind_capture.sh CAPTURE SOURCE_DIR
set -uo pipefail
capture=$(realpath "$1")
source_dir=$(realpath "$2")

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

third_party=(
    '*/libLLVM*' '*/dri/*' '*/libgallium*' '*/libGLX_mesa*' '*/libGLX.so*' '*/libGL.so*'
    '*/libGLdispatch*' '*/libEGL*' '*/libglapi*' '*/libSDL2*' '*/libX11*' '*/libxcb*'
    '*/libdbus*' '*/libdrm*' '*/libexpat*' '*/libzstd*' '*/libelf*' '*/libsensors*'
)
kinds=(Cond Value1 Value2 Value4 Value8 Value16 Addr1 Addr2 Addr4 Addr8 Addr16 Addr32
       Leak Free Overlap Jump)
{
    for lib in "${third_party[@]}"; do
        for kind in "${kinds[@]}"; do
            printf '{\n   %s-%s\n   Memcheck:%s\n   ...\n   obj:%s\n}\n' "$lib" "$kind" "$kind" "$lib"
        done
    done
} >"$scratch/third-party.supp"

# Mesa runs its shaders on one thread here: fewer threads, and far quicker under
# valgrind.
cd "$source_dir" || exit 1
env LP_NUM_THREADS=0 SDL_VIDEODRIVER=offscreen \
    valgrind --tool=memcheck --error-exitcode=99 --leak-check=full \
    --show-leak-kinds=definite --errors-for-leak-kinds=definite --keep-debuginfo=yes \
    --suppressions="$scratch/third-party.supp" --num-callers=30 \
    --log-file="$scratch/memcheck.log" \
    "$capture" frame 1000 "$scratch/frame.png"
rc=$?
grep -E "ERROR SUMMARY|definitely lost|indirectly lost|suppressed:" "$scratch/memcheck.log"
if [[ $rc != 0 ]]; then
    echo "FAIL: memcheck exit status $rc" >&2
    cat "$scratch/memcheck.log" >&2
    exit 1
fi
[[ -s "$scratch/frame.png" ]] || { echo "FAIL: no frame written" >&2; exit 1; }
echo "ok: memcheck clean"
