#!/usr/bin/env bash
# Runs Debian's own checkers on the package scripts/package.sh built: lintian (pedantic;
# no error and no warning may remain), hardening-check on every installed program (PIE,
# stack protector, fortified functions, RELRO, immediate binding),
# appstreamcli on the software-centre listing, desktop-file-validate on the menu entry,
# mandoc on the manual pages. Installs what they need first.
# Usage: check-package.sh [BUILD_DIR]   (default build-package)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build-package}
cd "$root"
bash scripts/install-deps.sh check
deb=$(ls "$build"/vornhal_*.deb)
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"

echo "== lintian --pedantic"
report=$(lintian --pedantic --tag-display-limit 0 "$deb" 2>&1 | grep -v "^running with root" || true)
[[ -n $report ]] && echo "$report"
errors=$(grep -c '^E:' <<<"$report" || true) warnings=$(grep -c '^W:' <<<"$report" || true)
echo "lintian: $errors errors, $warnings warnings"
echo "== hardening-check"
# Control-flow protection cannot be whole on Debian 12: its C library's start-up files
# lack the property, so no program linked here has it (not even /usr/bin/ls). The
# program's own objects are built with it all the same.
hardening-check --nocfprotection "$unpacked"/usr/bin/*
echo "== appstreamcli validate"
appstreamcli validate --no-net "$unpacked"/usr/share/metainfo/*.metainfo.xml
echo "== desktop-file-validate"
desktop-file-validate "$unpacked"/usr/share/applications/*.desktop && echo "ok"
echo "== mandoc -T lint"
for page in "$unpacked"/usr/share/man/man1/*.gz; do
    zcat "$page" | mandoc -T lint -W warning
done
echo "ok"
((errors == 0 && warnings == 0))
