#!/usr/bin/env bash
# Starts the real program in a real X server under a window manager, waits past the
# splash for the main window, types a short song, checks that the tempo keys reach the
# program, presses Play on the built-in synthesiser, takes a screenshot, closes the
# window through the window system and checks the exit status.
# Usage: real_window_check.sh PROGRAM CLOSE_HELPER ARTIFACT_DIR
set -euo pipefail
program=$1
close_helper=$2
artifacts=$3
mkdir -p "$artifacts"
rm -f "$artifacts"/*.png "$artifacts"/program.log
for tool in xvfb-run openbox xdotool import compare; do
  command -v "$tool" >/dev/null || { echo "missing $tool"; exit 1; }
done

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_RUNTIME_DIR=$home/run
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$home/sound.raw

inner=$(mktemp)
cat > "$inner" <<'INNER'
set -euo pipefail
program=$1; close_helper=$2; artifacts=$3
started=$(date +%s.%N)
"$program" > "$artifacts/program.log" 2>&1 &
pid=$!
# Whatever happens below, the program does not outlive the check.
stop_program() {
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 1 20); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null || true
}
trap stop_program EXIT
# The main window appears when the splash has gone (about 6 s).
window=""
for _ in $(seq 1 150); do
  window=$(xdotool search --onlyvisible --name '^Pulsewright!$' 2>/dev/null | head -1 || true)
  [ -n "$window" ] && break
  kill -0 "$pid" 2>/dev/null || { echo "program ended early"; cat "$artifacts/program.log"; exit 1; }
  sleep 0.1
done
[ -n "$window" ] || { echo "no window titled Pulsewright!"; exit 1; }
shown=$(date +%s.%N)
echo "main window after $(echo "$shown - $started" | bc) s"
# The toolkit may still replace the native window it first showed (docks and restored
# geometry settle after the first show; slow under AddressSanitizer): wait until the
# same window is found twice in a row, and look it up again before each use.
# The title gains the document's name once the text changes.
current_window() {
  xdotool search --onlyvisible --name 'Pulsewright!$' 2>/dev/null | head -1 || true
}
for _ in $(seq 1 50); do
  sleep 0.3
  again=$(current_window)
  [ -n "$again" ] && [ "$again" = "$window" ] && break
  [ -n "$again" ] && window=$again
done
eval "$(xdotool getwindowgeometry --shell "$window")"
# The toolbar as the window has it, and whether two pictures of it differ.
toolbar() {
  for _ in 1 2 3 4 5; do
    window=$(current_window)
    timeout 20 import -window "$window" -crop "${WIDTH}x90+0+0" +repage "$artifacts/$1.png" &&
      return 0
    sleep 0.5
  done
  return 1
}
differs() { compare -metric AE "$artifacts/$1.png" "$artifacts/$2.png" null: 2>&1 | awk '{ print ($1 > 0) }'; }
# The toolbar of a new document before anything is typed, for New below.
toolbar tempo-empty
# The editor fills the window under the toolbar: click into it and type.
xdotool mousemove --window "$window" 200 120 click 1
sleep 0.2
xdotool type --delay 5 'k = kick'; xdotool key Return
xdotool type --delay 5 'part = A tempo = 240 notes = 8'; xdotool key Return
xdotool type --delay 5 'k |x-x-|'; xdotool key Return
xdotool type --delay 5 'song = AA'; xdotool key Return
sleep 0.3
# The tempo keys, as a desktop lets them through: the toolbar's tempo changes and comes
# back. Ctrl+Alt+arrows would have switched the window manager's workspace instead.
toolbar tempo-written
xdotool key ctrl+shift+Up
sleep 0.4
toolbar tempo-faster
xdotool key ctrl+shift+Down
sleep 0.4
toolbar tempo-back
[ "$(differs tempo-written tempo-faster)" = 1 ] || { echo "Ctrl+Shift+Up did not change the tempo"; exit 1; }
[ "$(differs tempo-written tempo-back)" = 0 ] || { echo "Ctrl+Shift+Down did not restore the tempo"; exit 1; }
echo "tempo keys reach the program"
# Play, through its key in the Play menu.
xdotool key F5
sleep 0.6
timeout 20 import -window root "$artifacts/real-window.png"
sleep 1.5
# A faster tempo belongs to the document it was set for: New shows the written tempo of
# a new document at 100 %, as the window showed before anything was typed.
xdotool key ctrl+shift+Up
sleep 0.3
xdotool key ctrl+n
for _ in $(seq 1 20); do
  question=$(xdotool search --onlyvisible --name '^Pulsewright$' 2>/dev/null | head -1 || true)
  if [ -n "$question" ]; then
    xdotool windowactivate --sync "$question" 2>/dev/null || true
    xdotool key --window "$question" Tab space  # Discard
    break
  fi
  sleep 0.2
done
sleep 0.5
toolbar tempo-new
[ "$(differs tempo-empty tempo-new)" = 0 ] || { echo "New kept the tempo of the document before"; exit 1; }
echo "New shows its own tempo"
# Close through the window system; answer the unsaved-changes question with Discard.
window=$(current_window)
"$close_helper" "$window"
for _ in $(seq 1 30); do
  kill -0 "$pid" 2>/dev/null || break
  question=$(xdotool search --onlyvisible --name '^Pulsewright$' 2>/dev/null | head -1 || true)
  if [ -n "$question" ]; then
    import -window root "$artifacts/close-question.png"
    xdotool windowactivate --sync "$question" 2>/dev/null || true
    # Save has the focus; the next button is Discard.
    xdotool key --window "$question" Tab space
  fi
  sleep 0.2
done
if kill -0 "$pid" 2>/dev/null; then
  import -window root "$artifacts/not-closed.png"
  echo "the window did not close"; exit 1
fi
wait "$pid"
status=$?
echo "exit status $status"
exit "$status"
INNER
status=0
"$(dirname "$0")/../../scripts/with-xvfb.sh" --window-manager 140 bash "$inner" "$program" "$close_helper" "$artifacts" || status=$?
rm -f "$inner"
[ "$status" -eq 0 ] || exit "$status"
# The built-in synthesiser sounded: the disk output holds more than silence.
nonzero=0
if [ -s "$SDL_DISKAUDIOFILE" ]; then
  nonzero=$(od -An -v -tx1 "$SDL_DISKAUDIOFILE" | tr -s ' ' '\n' | grep -v -c -E '^(00)?$' || true)
fi
echo "sound output: $(stat -c %s "$SDL_DISKAUDIOFILE" 2>/dev/null || echo 0) bytes, $nonzero non-zero"
[ "$nonzero" -gt 0 ] || { echo "the synthesiser wrote only silence"; exit 1; }
