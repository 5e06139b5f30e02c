#!/usr/bin/env bash
# Builds the Debian source and binary packages from debian/: installs what building
# needs, makes the upstream tarball from the tree (tracked files only where git can
# say which), unpacks it with debian/ in build-package/, runs dpkg-buildpackage there,
# and prints the .deb's path last. Two builds of one commit give the same bytes (the
# folder, umask, time zone and time of the build do not matter: every stamp is the
# changelog's last entry). Install it with: sudo apt-get install ./build-package/vornhal_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh play package
umask 022
version=$(dpkg-parsechangelog -SVersion)
upstream=${version%-*}
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -STimestamp)
export SOURCE_DATE_EPOCH
out=$PWD/build-package
tree=$out/vornhal-$upstream
rm -rf "$out" && mkdir -p "$tree"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z -- . ':!debian' | tar --null -T - -c | tar -x -C "$tree"
else
    tar -c --exclude-vcs --exclude='./build*' --exclude='./obj-*' --exclude=./debian \
        --exclude='./*.mp4' . | tar -x -C "$tree"
fi
tar -c --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner --mode=go-w \
    -C "$out" "vornhal-$upstream" | xz -6 >"$out/vornhal_$upstream.orig.tar.xz"
cp -r debian "$tree/"
(cd "$tree" && dpkg-buildpackage -us -uc >../build.log 2>&1) ||
    { tail -n 40 "$out/build.log" >&2 && exit 1; }
ls "$out/vornhal_${version}_$(dpkg-architecture -qDEB_HOST_ARCH).deb"
