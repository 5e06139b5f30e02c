#!/usr/bin/env bash
# scripts/check-package.sh must fail whenever one of its checkers fails: on the built
# package with a broken menu entry, with a broken software-centre listing, and with a
# lintian that cannot run. Under a lintian that passes everything, the package as built
# passes, so each failure is the broken checker's own.
# Usage: check_package_test.sh [BUILD_DIR]   (default build-package; after package.sh)
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
deb=$(ls "$root/${1:-build-package}"/vornhal_*.deb) || exit 1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/passes" "$work/fails"
printf '#!/bin/sh\nexit 0\n' >"$work/passes/lintian"
printf '#!/bin/sh\necho "lintian: cannot read the package" >&2\nexit 2\n' >"$work/fails/lintian"
chmod +x "$work/passes/lintian" "$work/fails/lintian"
dpkg-deb -R "$deb" "$work/tree" || exit 1
status=0

# check CASE EXPECTED LINTIAN EDIT: the package with EDIT made in its tree, checked with
# the stand-in lintian LINTIAN (passes or fails); EXPECTED is pass or fail.
check() {
    local name=$1 expected=$2 lintian=$3 edit=$4 got=pass
    rm -rf "$work/case" && cp -a "$work/tree" "$work/case"
    (cd "$work/case" && eval "$edit") || exit 1
    dpkg-deb --root-owner-group -b "$work/case" "$work/case.deb" >/dev/null || exit 1
    PATH="$work/$lintian:$PATH" bash "$root/scripts/check-package.sh" "$work/case.deb" \
        >"$work/log" 2>&1 || got=fail
    if [[ $got == "$expected" ]]; then
        echo "ok: $name: ${expected}ed ($(tail -n 1 "$work/log"))"
    else
        echo "FAIL: $name: ${got}ed, where it should have ${expected}ed"
        tail -n 20 "$work/log"
        status=1
    fi
}
check "the package as built" pass passes ':'
check "a menu entry of no known type" fail passes \
    'sed -i "s/^Type=Application/Type=Nonsense/" usr/share/applications/*.desktop'
check "a listing that is no XML" fail passes 'echo "<unclosed" >>usr/share/metainfo/*.xml'
check "a lintian that cannot run" fail fails ':'
exit $status
