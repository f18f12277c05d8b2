#!/usr/bin/env bash
# Plays every example and test document with two builds of the command line and compares
# their `play --log` output: the same events at the same due times. The plays run in real
# time (play has no faster mode) on SDL's dummy driver, so no sound device is needed; all
# documents play at once, since a play mostly waits. The end line's time is when the play
# was seen to end, not a due time, so only its presence is compared.
# Usage: bench/play_log_compare.sh OLD_CLI NEW_CLI [DOCUMENT...]
set -uo pipefail
(($# >= 2)) || { echo "usage: $0 OLD_CLI NEW_CLI [DOCUMENT...]" >&2; exit 2; }
old=$(realpath "$1")
new=$(realpath "$2")
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
if (($# > 0)); then
  docs=("$@")
else
  mapfile -t docs < <(cd "$root" && find examples tests -name '*.tab' | sort)
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export SDL_AUDIODRIVER=dummy

# play CLI DOCUMENT OUT: the log with the end line's time taken out, then the exit code.
play() {
  local cli=$1 doc=$2 out=$3
  (cd "$root" && "$cli" play "$doc" --log "$out.raw" >"$out.stdout" 2>"$out.stderr")
  echo "exit $?" >"$out.rc"
  sed -E 's/^[0-9.]+ end$/end/' "$out.raw" >"$out"
}

for i in "${!docs[@]}"; do
  play "$old" "${docs[$i]}" "$dir/$i.old" &
  play "$new" "${docs[$i]}" "$dir/$i.new" &
done
wait

same=0
for i in "${!docs[@]}"; do
  doc=${docs[$i]}
  events=$(grep -cv ' end$' "$dir/$i.old")
  if cmp -s "$dir/$i.old" "$dir/$i.new" && cmp -s "$dir/$i.old.rc" "$dir/$i.new.rc"; then
    same=$((same + 1))
    printf 'same       %-40s %5d events, %s\n' "$doc" "$events" "$(cat "$dir/$i.old.rc")"
  else
    printf 'DIFFERENT  %-40s old %s, new %s\n' "$doc" "$(cat "$dir/$i.old.rc")" \
      "$(cat "$dir/$i.new.rc")"
    diff "$dir/$i.old" "$dir/$i.new" | head -20 | sed 's/^/    /'
    for side in old new; do
      [[ -s $dir/$i.$side.stderr ]] && sed "s/^/    $side stderr: /" "$dir/$i.$side.stderr" | head -5
    done
  fi
done
echo "${#docs[@]} documents, $same identical"
((same == ${#docs[@]}))
