#!/bin/sh
# Checks and compiles a 4 MB grid line under a virtual-memory limit of 20 times the
# document plus 64 MB: the compiled song must stay a few bytes per grid character. Then
# exports a short document with a long song as a MIDI file under a limit of its own.
# Usage: CompileMemory.sh PULSEWRIGHT_CLI
set -eu
cli=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

awk 'BEGIN { print "k = kick"; print "part = A tempo = 120 notes = 8"; print "song = A"
             printf "k |"; for (i = 0; i < 838860; i++) printf "x-x-|"; print "" }' >"$dir/grid.tab"
in=$(wc -c <"$dir/grid.tab")
limit=$(((20 * in + 64 * 1024 * 1024) / 1024))

for command in check compile; do
  if ! (ulimit -v "$limit" && "$cli" "$command" "$dir/grid.tab" >"$dir/out" 2>"$dir/err"); then
    echo "FAIL: $command (limit $limit KB): $(tail -n 3 "$dir/err")"
    exit 1
  fi
done
# The song was all there: 4 steps and a bar line per "x-x-|".
steps=$(grep -o '"36,5|"' "$dir/out" | wc -l)
if [ "$steps" -ne 1677720 ]; then
  echo "FAIL: compile wrote $steps hits, expected 1677720"
  exit 1
fi

# A short document whose song repeats a dense part makes a MIDI file a thousand times its
# size: the file is written as it is made, so the limit is the document's plus the file's.
# A part of 16 drums hitting every sixteenth of four bars, played $1 times.
dense_document() {
  awk -v reps="$1" 'BEGIN { split("k s h o c r b t m l f p w x y z", v, " ")
               split("kick,snare,closed hi-hat,open hi-hat,crash cymbal,ride cymbal,bell,hi tom,mid tom,low tom,floor tom,pedal hi-hat,cowbell,tambourine,clap,rim", name, ",")
               for (i = 1; i <= 16; i++) print v[i] " = " name[i]
               # Two parts in turn: a part played again at once would be written once.
               for (p = 0; p < 2; p++) {
                 print "part = " (p ? "B" : "A") " tempo = 120 notes = 16"
                 for (i = 1; i <= 16; i++) { printf "%s |", v[i]; for (j = 0; j < 64; j++) printf "x"; print "|" }
               }
               printf "song = "; for (i = 0; i < reps; i++) printf (i % 2 ? "B" : "A"); print "" }' >"$dir/dense.tab"
}
dense_document 5000
in=$(wc -c <"$dir/dense.tab")
# 5000 bars of 64 steps, each 16 note-ons and 16 note-offs of 4 bytes or less.
limit=$(((20 * in + 5000 * 64 * 16 * 8 + 64 * 1024 * 1024) / 1024))
if ! (ulimit -v "$limit" && "$cli" export "$dir/dense.tab" -o "$dir/dense.mid" --max-length 1e6 2>"$dir/err"); then
  echo "FAIL: export (limit $limit KB): $(tail -n 3 "$dir/err")"
  exit 1
fi
# The chunks' own lengths must add up to the file: a header and two tracks.
u32() { od -An -tu1 -j "$1" -N4 "$dir/dense.mid" | awk '{ print (($1 * 256 + $2) * 256 + $3) * 256 + $4 }'; }
tempo=$(u32 18)
drums=$(u32 $((22 + tempo + 4)))
size=$(wc -c <"$dir/dense.mid")
if [ $((14 + 8 + tempo + 8 + drums)) -ne "$size" ] || [ "$drums" -lt $((5000 * 64 * 16 * 6)) ]; then
  echo "FAIL: export wrote $size bytes: tempo track $tempo, drum track $drums"
  exit 1
fi

# Its score, 300 times 4 measures, is written measure by measure: the limit leaves no room
# for the score or the document held whole (95 MB).
dense_document 300
limit=$(((20 * $(wc -c <"$dir/dense.tab") + 64 * 1024 * 1024) / 1024))
if ! (ulimit -v "$limit" && "$cli" export "$dir/dense.tab" -o "$dir/dense.musicxml" --max-length 1e6 2>"$dir/err"); then
  echo "FAIL: MusicXML export (limit $limit KB): $(tail -n 3 "$dir/err")"
  exit 1
fi
measures=$(grep -c '<measure number' "$dir/dense.musicxml")
if [ "$measures" -ne 1200 ] || [ "$(tail -n 1 "$dir/dense.musicxml")" != "</score-partwise>" ]; then
  echo "FAIL: MusicXML export wrote $measures measures"
  exit 1
fi
