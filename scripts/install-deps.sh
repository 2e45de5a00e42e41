#!/usr/bin/env bash
# Installs every Debian package Velarune needs to build, test and benchmark.
# Idempotent; runs as root (or through sudo when available) on Debian 12.
#   scripts/install-deps.sh            build + test dependencies
#   scripts/install-deps.sh --host     also what the tests in real hosts need: Ardour, sox, the
#                                      JACK server and tools (jackd2), lilv-utils (lv2info)
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git
    juce-modules-source
    libcurl4-openssl-dev libsndfile1-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libflac-dev libvorbis-dev libogg-dev
    libasound2-dev libjack-jackd2-dev
    libfreetype-dev libfontconfig1-dev libx11-dev libxext-dev libxinerama-dev libxrandr-dev libxcursor-dev
    libgl-dev
    xvfb fonts-roboto-unhinted
    clang libclang-rt-14-dev
    python3-torch python3-numpy python3-scipy
)
if [ "${1:-}" = "--host" ]; then
    packages+=(ardour sox python3 jackd2 lilv-utils)
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then SUDO="sudo"; else
        echo "install-deps: run as root (or install sudo)" >&2; exit 1; fi
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all packages present"
    exit 0
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
