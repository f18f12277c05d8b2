#!/bin/sh
# Checks and compiles a 4 MB grid line under a virtual-memory limit of 20 times the
# document plus 64 MB: the compiled song must stay a few bytes per grid character.
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
