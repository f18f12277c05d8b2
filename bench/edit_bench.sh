#!/usr/bin/env bash
# Times `edit` of one step in a 112,000-line document, the whole process from start to
# exit, file written: the median of several runs, one column per program, so that two
# builds can be set side by side.
# Usage: bench/edit_bench.sh [runs] CLI [CLI...]
set -euo pipefail
runs=11
if [[ ${1:-} =~ ^[0-9]+$ ]]; then
  runs=$1
  shift
fi
(($# > 0)) || { echo "usage: $0 [runs] CLI [CLI...]" >&2; exit 2; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

python3 - "$dir" <<'PY'
import sys
d = sys.argv[1]
grids = ["|x-x-x-x-|x-x-x-x-|", "|--x---x-|--x---x-|", "|x---x---|x---x-x-|",
         "|[xxx]-x-|o-X-5-9-|", "|X-------|--------|"]
symbols = ["h", "s", "k", "t1", "w1"]
lines = ["meta title = Generated", "k = kick drum", "s = snare", "h = closed hi-hat",
         "t1 = tom 1", "w1 = wave /samples/clap.wav pan -20"]
part = 0
while len(lines) < 112000 - 1:
    lines.append("part = %s tempo = 120 notes = 16" % chr(ord("A") + part % 26))
    part += 1
    for g in range(12):
        lines.append(symbols[g % 5] + " " + grids[(g + part) % 5])
    if part % 10 == 0:
        lines.append("This is a remark between parts, ignored by the compiler.")
lines.append("song = ABCDEFGHIJ")
open(d + "/doc112k.tab", "w").write("\r\n".join(lines[:112000]) + "\r\n")
PY

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

printf "%-36s" "case ($runs runs, median)"
for cli in "$@"; do printf " | %-24s" "$(basename "$(dirname "$cli")")/$(basename "$cli")"; done
echo
printf "%-36s" "edit doc112k --set A:s:3=X"
for cli in "$@"; do
  times=()
  for ((r = 0; r < runs; r++)); do
    cp "$dir/doc112k.tab" "$dir/work.tab"
    start=$(date +%s%N)
    "$cli" edit "$dir/work.tab" --set A:s:3=X >/dev/null
    end=$(date +%s%N)
    times+=("$(((end - start) / 1000000))")
  done
  printf " | %21s ms" "$(printf '%s\n' "${times[@]}" | median)"
done
echo
