#!/bin/sh
# Imports tabs that used to take gigabytes under a virtual-memory limit of 20 times the
# tab plus the document plus 64 MB: a long line over many short ones, and many distinct
# systems repeated 999 times. Usage: ImportMemory.sh PULSEWRIGHT_CLI
set -eu
cli=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

awk 'BEGIN { printf "HH|"; for (i = 0; i < 500000; i++) printf "x-"; print "|"
             for (i = 0; i < 20000; i++) print "SD|x-x-|" }' >"$dir/long.txt"
awk 'BEGIN { for (i = 0; i < 8000; i++) {
               g = ""; n = i
               for (b = 0; b < 16; b++) { g = g (n % 2 ? "x" : "-"); n = int(n / 2) }
               print "HH|" g "| x999"; print "" } }' >"$dir/repeats.txt"

# name, expected document size in bytes
run() {
  in=$(wc -c <"$dir/$1.txt")
  limit=$(((20 * in + $2 + 64 * 1024 * 1024) / 1024))
  if ! (ulimit -v "$limit" && "$cli" import "$dir/$1.txt" -o "$dir/$1.tab" 2>"$dir/$1.err"); then
    echo "FAIL: $1 (limit $limit KB): $(tail -n 3 "$dir/$1.err")"
    exit 1
  fi
  out=$(wc -c <"$dir/$1.tab")
  if [ "$out" -ne "$2" ]; then
    echo "FAIL: $1 wrote $out bytes, expected $2"
    exit 1
  fi
  iconv -f UTF-8 -t UTF-8 "$dir/$1.tab" >/dev/null || { echo "FAIL: $1 is not UTF-8"; exit 1; }
}

run long 2000086
run repeats 24300027
