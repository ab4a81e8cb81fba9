#!/usr/bin/env bash
# Installs what Quillo needs to build, run and test on Debian 12.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config python3
    juce-modules-source
    libexpat1-dev
    libjack-jackd2-dev jackd2
    libgtest-dev libgmock-dev libbenchmark-dev
    clang-14 libfuzzer-14-dev libclang-rt-14-dev clang-format-14
    xvfb openbox xdotool wmctrl x11-utils fonts-dejavu-core imagemagick
)

# Nothing to do (and no need for the network or sudo) once all are installed.
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f '${db:Status-Status}' "$package" 2>/dev/null | grep -qx installed || missing+=("$package")
done
[ "${#missing[@]}" -gt 0 ] || exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)

export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update
"${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
