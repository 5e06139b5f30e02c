#!/usr/bin/env bash
# Prints the README's two set-up commands, one a line: the play command, then the test
# command (its first sh block). Fails, saying why, when that block holds anything else.
# Usage: readme-commands.sh [README]   (default: this tree's README.md)
set -euo pipefail
readme=${1:-$(dirname "$0")/../README.md}
mapfile -t commands < <(awk '/^```sh$/ { inside = 1; next } inside && /^```/ { exit } inside' \
    "$readme")
((${#commands[@]} == 2)) || {
    echo "the README's first sh block holds ${#commands[@]} lines, not 2" >&2
    exit 1
}
printf '%s\n' "${commands[@]}"
