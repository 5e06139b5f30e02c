#!/usr/bin/env bash
# Runs Debian's own checkers on the package scripts/package.sh built: lintian (pedantic;
# no error and no warning may remain), hardening-check on every installed program (PIE,
# stack protector, fortified functions, RELRO, immediate binding),
# appstreamcli on the software-centre listing, desktop-file-validate on the menu entry,
# mandoc on the manual pages. Installs what they need first. Every checker runs, and
# the check fails when any of them fails or cannot run, naming each.
# Usage: check-package.sh [BUILD_DIR | PACKAGE.deb]   (default build-package)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build-package}
cd "$root"
bash scripts/install-deps.sh check || exit 1
if [[ $build == *.deb ]]; then
    deb=$build
else
    deb=$(ls "$build"/vornhal_*.deb) || exit 1
fi
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked" || exit 1

failed=()
# Runs checker NAME (the rest of the line) and remembers it when it fails.
check() {
    local name=$1
    shift
    echo "== $name"
    "$@" || failed+=("$name")
}

# lintian's status counts tags of those levels, and its own failures to run.
# The source package too, where the .changes of its build lies beside the .deb.
changes=${deb%.deb}.changes
[[ -f $changes ]] || changes=$deb
check "lintian --pedantic" lintian --pedantic --fail-on error,warning --tag-display-limit 0 "$changes"
# Control-flow protection cannot be whole on Debian 12: its C library's start-up files
# lack the property, so no program linked here has it (not even /usr/bin/ls). The
# program's own objects are built with it all the same.
check hardening-check hardening-check --nocfprotection "$unpacked"/usr/bin/* \
    "$unpacked"/usr/libexec/vornhal/*
check "appstreamcli validate" appstreamcli validate --no-net \
    "$unpacked"/usr/share/metainfo/*.metainfo.xml
check desktop-file-validate desktop-file-validate "$unpacked"/usr/share/applications/*.desktop
lint_pages() {
    local page status=0
    for page in "$unpacked"/usr/share/man/man1/*.gz; do
        zcat "$page" | mandoc -T lint -W warning || status=1
    done
    return $status
}
check "mandoc -T lint" lint_pages

if ((${#failed[@]})); then
    echo "failed: ${failed[*]}"
    exit 1
fi
echo "ok: every checker passed"
