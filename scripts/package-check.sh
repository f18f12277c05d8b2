#!/usr/bin/env bash
# Builds the Debian package, runs the validators on it, then installs it (into a scratch
# root, or with dpkg -i when given --dpkg) and runs what it installed: pulsewright-cli on
# an installed example, and the desktop entry's Exec line under Xvfb.
# Usage: scripts/package-check.sh [--dpkg] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
use_dpkg=0
if [ "${1:-}" = "--dpkg" ]; then use_dpkg=1; shift; fi
build=${1:-build}
app=org.pulsewright.Pulsewright

cmake --build "$build" -j "$(nproc)"
rm -f "$build"/pulsewright_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(realpath "$build"/pulsewright_*.deb)
echo "package: $deb"
dpkg-deb -f "$deb" Depends

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
if [ "$use_dpkg" = 1 ]; then
  dpkg -i "$deb"
  trap 'dpkg -r pulsewright >/dev/null; rm -rf "$scratch"' EXIT
  root=""
else
  # Every dependency must be installable here, as dpkg -i would need.
  apt-get install --simulate --no-install-recommends "$deb" >/dev/null
  root=$scratch/root
  dpkg-deb -x "$deb" "$root"
fi
share=$root/usr/share

echo "== validators"
desktop-file-validate "$share/applications/$app.desktop"
appstreamcli validate --no-net --pedantic "$share/metainfo/$app.metainfo.xml"
lintian --fail-on error "$deb" 2>&1 | { grep -v '^running with root' || true; }
for page in $(dpkg-deb -c "$deb" | awk '$6 ~ /man1\/.*\.gz$/ { print substr($6, 2) }'); do
  warnings=$(MANWIDTH=80 man --warnings -l "$root$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { echo "$page: $warnings"; exit 1; }
done
mkdir -p "$scratch/mime/packages"
cp "$share/mime/packages/$app.xml" "$scratch/mime/packages/"
update-mime-database "$scratch/mime" 2>/dev/null
grep -q 'text/x-drum-tablature' "$scratch/mime/globs2"

echo "== installed pulsewright-cli"
example=$share/doc/pulsewright/examples/funk-sixteenths.tab
"$root/usr/bin/pulsewright-cli" --version
checked=$("$root/usr/bin/pulsewright-cli" check "$example")
grep -q 'grid' <<<"$checked" || { echo "$checked"; exit 1; }
"$root/usr/bin/pulsewright-cli" compile "$example" | grep -q '"PartTable"'

echo "== desktop entry under Xvfb"
exec_line=$(sed -n 's/^Exec=//p' "$share/applications/$app.desktop")
command=${exec_line//%f/$example}
export PATH="$root/usr/bin:$PATH" HOME=$scratch/home XDG_RUNTIME_DIR=$scratch/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
# The program must still be running, with its window shown, a few seconds after starting.
scripts/with-xvfb.sh 160 bash -c '
  $1 &
  pid=$!
  for _ in $(seq 20); do
    sleep 0.5
    kill -0 "$pid" 2>/dev/null || { wait "$pid"; echo "exited early: $?"; exit 1; }
    xdotool search --onlyvisible --name "Pulsewright" >/dev/null 2>&1 && shown=1
  done
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  [ "${shown:-}" = 1 ] || { echo "no window shown"; exit 1; }
' _ "$command"
echo "package check passed"
