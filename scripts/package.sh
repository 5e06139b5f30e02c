#!/usr/bin/env bash
# Builds the Debian package from the install rules: installs what building and
# packaging need, builds the two programs for /usr, and writes vornhal_VERSION_ARCH.deb
# into the build directory, whose path it prints last.
# Install it with: sudo apt-get install ./BUILD_DIR/vornhal_*.deb
# Usage: package.sh [BUILD_DIR]   (default build-package)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build-package}
cd "$root"
bash scripts/install-deps.sh play package
# Debian's own compiler and linker flags, hardening included (stack protector, fortified
# functions, full RELRO with immediate binding, PIE); the binaries are stripped.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# Also what this dpkg does not add yet: stack clash protection, and control-flow
# protection where the processor has it (whole only where the C library's start-up
# files carry it too, which Debian 12's do not).
extra=-fstack-clash-protection
[[ $(dpkg-architecture -qDEB_HOST_ARCH) == @(amd64|i386) ]] && extra+=" -fcf-protection"
export DEB_CFLAGS_MAINT_APPEND=$extra DEB_CXXFLAGS_MAINT_APPEND=$extra
eval "$(dpkg-buildflags --export=sh)" # read by the package preset
cmake --preset package -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/vornhal_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
(cd "$build" && ls "$PWD"/vornhal_*.deb)
