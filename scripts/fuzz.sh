#!/usr/bin/env bash
# Runs the fuzz targets, each for SECONDS: the compiler (from the example documents), the
# drum-tab importer (from the test tabs), the MIDI file importer (from exported
# examples) and the GrooveScribe, Hydrogen and MusicXML importers (from small seeds).
# Usage: scripts/fuzz.sh BUILD_DIR SECONDS
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-fuzz}
seconds=${2:-20}
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
run() {  # TARGET DICTIONARY SEEDS...
  local target=$1 dict=$2
  shift 2
  rm -rf "${corpus:?}"/*
  cp "$@" "$corpus"/ 2>/dev/null || true
  echo "== $target"
  "$dir"/fuzz/"$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -dict="$dict" "$corpus" 2>&1 |
    grep -v -E "^(\"|###|INFO: )" | tail -n 12
}
run pw_fuzz_compiler fuzz/tablature.dict examples/*.tab tests/data/*.tab
run pw_fuzz_tabimport fuzz/tablature.dict tests/data/tabs/*.txt
run pw_fuzz_midiimport fuzz/midi.dict fuzz/midi-seeds/*.mid
run pw_fuzz_groovescribe fuzz/groovescribe.dict fuzz/foreign-seeds/*.url
run pw_fuzz_hydrogen fuzz/xml.dict fuzz/foreign-seeds/*.h2song
run pw_fuzz_musicxml fuzz/xml.dict fuzz/foreign-seeds/*.musicxml fuzz/foreign-seeds/*.mxl
