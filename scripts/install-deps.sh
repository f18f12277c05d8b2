#!/usr/bin/env bash
# Installs every Debian package that building, running and testing the program needs.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev clang-format clang-tidy
  libre2-dev libcli11-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  librtmidi-dev libfluidsynth-dev libsdl2-dev libsdl2-mixer-dev libsndfile1-dev libsamplerate0-dev
  fluidsynth
  fluid-soundfont-gm timgm6mb-soundfont
  jackd2
  qt6-base-dev qt6-base-dev-tools libgl-dev
  xvfb xauth xdotool imagemagick poppler-utils fonts-dejavu-core libx11-dev bc
  help2man librsvg2-bin desktop-file-utils appstream lintian
  libxml2-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
# Refresh the package lists when they are missing or older than a day.
if [ -z "$(find /var/lib/apt/lists -maxdepth 1 -name '*_Packages' -mmin -1440 2>/dev/null | head -1)" ]; then
  $SUDO apt-get update
fi
if ! $SUDO apt-get install -y --no-install-recommends "${missing[@]}"; then
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
