#!/usr/bin/env bash
# Builds the Debian package from the install rules: installs what building and
# packaging need, builds the programs for /usr (the package workflow preset), and writes
# vornhal_VERSION_ARCH.deb into build-package/, printing its path last. Two builds of one commit give
# the same bytes (folder, umask, time zone and time of the build do not matter).
# Install it with: sudo apt-get install ./build-package/vornhal_*.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=build-package
cd "$root"
bash scripts/install-deps.sh play package
# Reproducible: the same bytes whoever builds it, where and when. Files and folders get
# the modes Debian expects whatever the caller's umask, and every stamp in the package
# is the changelog's last entry.
umask 022
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l packaging/changelog -STimestamp)
export SOURCE_DATE_EPOCH
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
source scripts/jobs.sh
cmake --workflow --preset package >/dev/null
rm -f "$build"/vornhal_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
(cd "$build" && ls "$PWD"/vornhal_*.deb)
