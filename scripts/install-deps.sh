#!/usr/bin/env bash
# Installs the Debian packages named in the given lists (scripts/packages-*.txt) that
# are not installed yet; through sudo unless run as root. Needs only bash, dpkg and
# apt-get. Usage: install-deps.sh LIST...   (LIST: play or test)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

missing=()
for list in "$@"; do
    while read -r package _; do
        [[ -z $package || $package == \#* ]] && continue
        status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
        [[ $status == "install ok installed" ]] || missing+=("$package")
    done <"$here/packages-$list.txt"
done
((${#missing[@]} == 0)) && exit 0

echo "Installing: ${missing[*]}"
sudo=()
(($(id -u) == 0)) || sudo=(sudo)
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
