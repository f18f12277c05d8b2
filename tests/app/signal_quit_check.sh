#!/usr/bin/env bash
# Starts the real program in a real X server without the splash, types into the editor,
# sends SIGTERM and checks that the program ended at once, asked nothing and left the
# typed text in its recovery file; the next start offers it back.
# Usage: signal_quit_check.sh PROGRAM ARTIFACT_DIR
set -euo pipefail
program=$1
artifacts=$2
mkdir -p "$artifacts"
for tool in xvfb-run xdotool; do
  command -v "$tool" >/dev/null || { echo "missing $tool"; exit 1; }
done

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_RUNTIME_DIR=$home/run
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export SDL_AUDIODRIVER=dummy

inner=$(mktemp)
cat > "$inner" <<'INNER'
set -euo pipefail
program=$1; artifacts=$2
recovery=$XDG_DATA_HOME/Pulsewright/recovery.tab
pid=""
rm -f "$artifacts"/signal-run*.log
stop_program() {
  local status=$?
  [ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true
  # A failed check shows what the program printed.
  [ "$status" -eq 0 ] || tail -n 20 "$artifacts"/signal-run*.log 2>/dev/null || true
}
trap stop_program EXIT
wait_for_window() {  # NAME: prints the window id; no splash, so within 4 s
  for _ in $(seq 1 40); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    kill -0 "$pid" 2>/dev/null || { echo "program ended early" >&2; return 1; }
    sleep 0.1
  done
  echo "no window named $1" >&2
  return 1
}

"$program" --no-splash > "$artifacts/signal-run1.log" 2>&1 &
pid=$!
window=$(wait_for_window '^Pulsewright!$')
xdotool mousemove --window "$window" 200 120 click 1
sleep 0.2
xdotool type --delay 5 'k |x-x-| kept'
sleep 0.3
kill -TERM "$pid"
for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then echo "SIGTERM did not end the program"; exit 1; fi
status=0; wait "$pid" || status=$?
pid=""
echo "exit status after SIGTERM: $status"
[ "$status" -eq 0 ] || exit 1
[ -f "$recovery" ] || { echo "no recovery file at $recovery"; exit 1; }
grep -q 'k |x-x-| kept' "$recovery" || { echo "recovery file lacks the text"; cat "$recovery"; exit 1; }
echo "recovery file: $(cat "$recovery")"

# The next start asks whether to restore it.
"$program" --no-splash > "$artifacts/signal-run2.log" 2>&1 &
pid=$!
question=$(wait_for_window '^Pulsewright$')
echo "restore question shown"
# Return answers No, the default: the copy is given up.
for _ in $(seq 1 20); do
  [ -f "$recovery" ] || break
  xdotool windowactivate --sync "$question" 2>/dev/null || true
  xdotool key Return 2>/dev/null || true
  sleep 0.25
done
[ ! -f "$recovery" ] || { echo "declined copy still there"; exit 1; }
kill -INT "$pid"
for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then echo "SIGINT did not end the program"; exit 1; fi
pid=""

# Pad maps live where the README says.
[ -d "$XDG_DATA_HOME/Pulsewright/padmaps" ] || { echo "no $XDG_DATA_HOME/Pulsewright/padmaps"; exit 1; }

# A file named on the command line is opened: its text is in the copy kept at SIGTERM.
printf 'k = kick\r\nsong = AB\r\n' > "$XDG_DATA_HOME/named.tab"
"$program" --no-splash "$XDG_DATA_HOME/named.tab" > "$artifacts/signal-run3.log" 2>&1 &
pid=$!
# The title names the open file.
window=$(wait_for_window '^named\.tab - Pulsewright!$')
xdotool mousemove --window "$window" 200 120 click 1
sleep 0.2
xdotool type --delay 5 'Z'
sleep 0.3
kill -HUP "$pid"
for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then echo "SIGHUP did not end the program"; exit 1; fi
pid=""
grep -q 'song = AB' "$recovery" || { echo "the named file was not opened"; cat "$recovery"; exit 1; }
"$program" --version | grep -q "Pulsewright" || { echo "--version says nothing"; exit 1; }
echo "ok"
INNER
status=0
"$(dirname "$0")/../../scripts/with-xvfb.sh" 150 bash "$inner" "$program" "$artifacts" || status=$?
rm -f "$inner"
exit "$status"
