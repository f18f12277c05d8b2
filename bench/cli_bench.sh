#!/usr/bin/env bash
# Times `check` and `compile` of the command line on a long document and on single long
# grid lines, and `edit` of one step in the long document (the file written), with their
# peak memory: medians of several runs, one column per program, so that two builds can be
# set side by side.
# With --imports: `import` of a 1,000-bar GrooveScribe link, Hydrogen song and MusicXML
# score instead (the song and score exported from a generated document by the first CLI;
# a CLI that cannot import a format shows "-").
# Usage: bench/cli_bench.sh [runs] [--imports] CLI [CLI...]
set -euo pipefail
runs=5
if [[ ${1:-} =~ ^[0-9]+$ ]]; then
  runs=$1
  shift
fi
imports=false
if [ "${1:-}" = --imports ]; then
  imports=true
  shift
fi
(($# > 0)) || { echo "usage: $0 [runs] [--imports] CLI [CLI...]" >&2; exit 2; }
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
open(d + "/doc112k.tab", "w").write("\n".join(lines[:112000]) + "\n")
head = "k = kick\npart = A tempo = 120 notes = 8\nsong = A\n"
for name, size in (("grid1m", 1 << 20), ("grid10m", 10 << 20)):
    body = "x-x-|" * (size // 5)
    open(d + "/" + name + ".tab", "w").write(head + "k |" + body + "\n")
PY

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# Prints "ms cpu-ms peakMB" medians of `runs` runs of: CLI ARGS... > /dev/null. The
# processor time (user + system) is the steadier figure on a loaded machine.
# A command starting with `edit` works on a fresh copy of the long document each run.
measure() {
  local times=() cpus=() peaks=()
  for ((r = 0; r < runs; r++)); do
    [ "$2" = edit ] && cp "$dir/doc112k.tab" "$dir/work.tab"
    /usr/bin/time -f "%e %U %S %M" -o "$dir/time" "$@" >/dev/null 2>"$dir/err" || true
    read -r secs user sys kb <"$dir/time"
    times+=("$(awk -v s="$secs" 'BEGIN {printf "%d", s * 1000}')")
    cpus+=("$(awk -v u="$user" -v s="$sys" 'BEGIN {printf "%d", (u + s) * 1000}')")
    peaks+=("$((kb / 1024))")
  done
  printf "%6s ms %6s cpu %5s MB" "$(printf '%s\n' "${times[@]}" | median)" \
    "$(printf '%s\n' "${cpus[@]}" | median)" "$(printf '%s\n' "${peaks[@]}" | median)"
}

header() {
  printf "%-28s" "case ($runs runs, medians)"
  for cli in "$@"; do printf " | %-31s" "$(basename "$(dirname "$cli")")/$(basename "$cli")"; done
  echo
}

if $imports; then
  python3 - "$dir" <<'PY'
import sys
d = sys.argv[1]
grooves = [("x-x-x-x-x-x-x-x-", "----O-------O---", "o-----o---o-----"),
           ("x-x-x-x-x-x-x-o-", "----O--g-g--O---", "o-----o---o--o--"),
           ("x-x-x-x-x-x-x-x-", "----O-------OOOO", "o-------o-o-----")]
h = s = k = ""
for bar in range(1000):
    g = grooves[bar % 3]
    h += "|" + g[0]; s += "|" + g[1]; k += "|" + g[2]
open(d + "/link1000.txt", "w").write(
    "https://www.mikeslessons.com/groove/?TimeSig=4/4&Div=16&Tempo=96&Measures=1000"
    "&H=" + h + "|&S=" + s + "|&K=" + k + "|\n")
# A song of 1,000 bars from 8 distinct one-bar parts, ghost notes, accents and a triplet.
lines = ["meta title = Thousand", "k = kick drum", "s = snare", "h = closed hi-hat",
         "o = open hi-hat", "t1 = tom 1"]
names = "ABCDEFGH"
for p, name in enumerate(names):
    lines.append("part = %s tempo = %d notes = 16" % (name, 96 + 4 * (p % 3)))
    lines.append("h |x-x-x-x-x-x-x-%s-|" % ("o" if p % 2 else "x"))
    lines.append("s |----X--2-2--X-%s-|" % ("x" if p % 4 == 3 else "-"))
    lines.append("k |X-----x---X--%s--|" % ("x" if p >= 4 else "-"))
    if p == 7:
        lines.append("t1 |------------xxxx|")
lines.append("song = " + "".join(names[(b * 5 + b // 8) % 8] for b in range(1000)))
open(d + "/song1000.tab", "w").write("\n".join(lines) + "\n")
PY
  "$1" export "$dir/song1000.tab" -o "$dir/song1000.h2song" 2>/dev/null
  "$1" export "$dir/song1000.tab" -o "$dir/song1000.musicxml" 2>/dev/null
  header "$@"
  for input in link1000.txt song1000.h2song song1000.musicxml; do
    printf "%-28s" "import $input ($(($(wc -c <"$dir/$input") / 1024)) KB)"
    for cli in "$@"; do
      if "$cli" import "$dir/$input" >/dev/null 2>&1; then
        printf " | %s" "$(measure "$cli" import "$dir/$input")"
      else
        printf " | %-31s" "-"
      fi
    done
    echo
  done
  uptime
  exit 0
fi

printf "%-28s" "case ($runs runs, medians)"
for cli in "$@"; do printf " | %-31s" "$(basename "$(dirname "$cli")")/$(basename "$cli")"; done
echo
for doc in doc112k grid1m grid10m; do
  for command in check compile; do
    printf "%-28s" "$command $doc"
    for cli in "$@"; do printf " | %s" "$(measure "$cli" "$command" "$dir/$doc.tab")"; done
    echo
  done
done
printf "%-28s" "edit doc112k --set A:s:3=X"
for cli in "$@"; do printf " | %s" "$(measure "$cli" edit "$dir/work.tab" --set A:s:3=X)"; done
echo
compile_bytes=$("$1" compile "$dir/grid10m.tab" 2>/dev/null | wc -c)
echo "compile output of grid10m: $((compile_bytes / 1048576)) MB (from $1)"
uptime
