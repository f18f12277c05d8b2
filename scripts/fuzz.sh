#!/usr/bin/env bash
# Runs the fuzz targets, each for SECONDS: the compiler (from the example documents), the
# drum-tab importer (from the test tabs), the MIDI file importer (from exported
# examples) and the GrooveScribe, Hydrogen and MusicXML importers (from small seeds).
# As many run at once as there are processors (libFuzzer uses one each); each one's
# report's end is printed, in this order; a failing one's report is printed whole with
# its input in base64 (to reproduce it), and the script fails if any target does.
# Usage: scripts/fuzz.sh BUILD_DIR SECONDS
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-fuzz}
seconds=${2:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
targets=()
pids=()
start() {  # TARGET DICTIONARY SEEDS...
  local target=$1 dict=$2
  shift 2
  # No more running than there are processors: wait for the oldest still going.
  if [ ${#pids[@]} -ge "$(nproc)" ]; then
    wait "${pids[${#pids[@]} - $(nproc)]}" || true
  fi
  mkdir -p "$work/$target"
  cp "$@" "$work/$target"/ 2>/dev/null || true
  (
    status=0
    "$dir"/fuzz/"$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 -dict="$dict" \
      -artifact_prefix="$work/$target-" "$work/$target" \
      >"$work/$target.log" 2>&1 || status=$?
    echo "$status" >"$work/$target.status"
  ) &
  targets+=("$target")
  pids+=($!)
}
start pw_fuzz_compiler fuzz/tablature.dict examples/*.tab tests/data/*.tab
start pw_fuzz_tabimport fuzz/tablature.dict tests/data/tabs/*.txt
start pw_fuzz_midiimport fuzz/midi.dict fuzz/midi-seeds/*.mid
start pw_fuzz_groovescribe fuzz/groovescribe.dict fuzz/foreign-seeds/*.url
start pw_fuzz_hydrogen fuzz/xml.dict fuzz/foreign-seeds/*.h2song
start pw_fuzz_musicxml fuzz/xml.dict fuzz/foreign-seeds/*.musicxml fuzz/foreign-seeds/*.mxl
wait
failed=0
for target in "${targets[@]}"; do
  echo "== $target"
  status=$(cat "$work/$target.status" 2>/dev/null || echo 1)
  if [ "$status" = 0 ]; then
    grep -v -E "^(\"|###|INFO: )" "$work/$target.log" | tail -n 12 || true
  else
    grep -v -E "^(\"|###|INFO: |#[0-9]+)" "$work/$target.log" || true
    for input in "$work/$target"-*; do
      [ -f "$input" ] || continue
      echo "input $(basename "$input") in base64:"
      base64 -w 76 "$input"
    done
    echo "$target failed (exit $status)" >&2
    failed=1
  fi
done
exit "$failed"
