#!/usr/bin/env bash
# Installs the Debian packages Vornhal needs to build, run and test, if any is missing.
set -euo pipefail

packages=(
    build-essential cmake pkg-config clang clang-format libclang-rt-14-dev
    libsdl2-dev libmpg123-dev libpng-dev zlib1g-dev libglu1-mesa-dev libgl1-mesa-dri
    libegl1-mesa libgles2
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xdotool x11-utils ffmpeg lame libmp3lame-dev sox valgrind
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
