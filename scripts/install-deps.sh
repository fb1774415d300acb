#!/usr/bin/env bash
# Installs the Debian packages lumo needs, and only those that are missing.
set -euo pipefail

packages=(
    # build
    cmake ninja-build g++ clang libclang-rt-14-dev clang-format
    # window, input, audio output; MP3 decoding; launcher dialog
    libsdl2-dev libmpg123-dev libgtk-3-dev
    # tests and benchmarks; test oracles
    libgtest-dev libgmock-dev libbenchmark-dev libpng-dev zlib1g-dev
    # content generation: text, music encoding; platform picture decoder
    libfreetype-dev fonts-dejavu-core libmp3lame-dev libstb-dev
    # end-to-end tests under a virtual display
    xvfb xauth xdotool evilwm x11-apps imagemagick
    # video capture (lumo --video) and its test
    ffmpeg
    # packages (scripts/release.sh): dpkg-shlibdeps finds the .deb's dependencies
    dpkg-dev
    # the peer benchmark: OpenGL through EGL on Mesa's software rasterizer
    libegl-dev libgl-dev libopengl-dev libegl-mesa0 libgl1-mesa-dri
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "installing: ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
# With recommended packages: the same set the tests were run against
# (GTK themes and icons for the launcher, fonts for the screenshots).
"${sudo[@]}" apt-get install -y -qq "${missing[@]}"
