#!/usr/bin/env bash
# Installs every Debian package that building, running and testing the program needs.
# Safe to run again: apt-get skips what is already there.
# Usage: scripts/install-deps.sh [--check]
#   --check  installs nothing; fails when installing the list again would remove a package.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev clang-format clang-tidy
  libre2-dev libcli11-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  # JACK 2 by name: the development packages accept either JACK, and left to choose, apt
  # takes JACK 1 and removes the jackd2 an audio user already has.
  libjack-jackd2-dev
  librtmidi-dev libfluidsynth-dev libsdl2-dev libsdl2-mixer-dev libsndfile1-dev libsamplerate0-dev
  fluidsynth
  fluid-soundfont-gm timgm6mb-soundfont
  # A real drum kit for a new user to hear (two multi-layer SF2 kits); the tests make
  # their own tiny kits and need neither this nor hydrogen-drumkits.
  avldrums.lv2-soundfont
  jackd2
  qt6-base-dev qt6-base-dev-tools libgl-dev
  xvfb xauth openbox xdotool imagemagick poppler-utils fonts-dejavu-core libx11-dev bc
  help2man librsvg2-bin desktop-file-utils appstream lintian
  libxml2-utils libpugixml-dev zlib1g-dev
  # An independent reader of the MIDI files the tests export.
  midicsv
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# What installing the missing packages would remove: apt may swap one package for
# another that satisfies the same need, and that must never happen to the user's own.
removals() {
  local plan
  plan=$(apt-get -s install --no-install-recommends "${missing[@]}" 2>&1) || {
    echo "$plan"
    return 1
  }
  grep '^Remv' <<<"$plan" || true
}

if [ "${1:-}" = "--check" ]; then
  [ ${#missing[@]} -eq 0 ] && exit 0
  removed=$(removals) || exit 1
  [ -z "$removed" ] && exit 0
  echo "installing ${missing[*]} would remove:"
  echo "$removed"
  exit 1
fi
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
removed=$(removals || true)
if [ -n "$removed" ]; then
  echo "installing ${missing[*]} would remove installed packages; nothing was changed:"
  echo "$removed"
  exit 1
fi
if ! $SUDO apt-get install -y --no-install-recommends "${missing[@]}"; then
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
