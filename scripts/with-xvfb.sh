#!/usr/bin/env bash
# Runs a command in its own virtual X server and returns its exit status once that
# server has really gone. Usage: with-xvfb.sh [--window-manager] FIRST_DISPLAY COMMAND [ARGS...]
# With --window-manager, openbox manages the windows first, as a desktop would: keys a
# desktop takes for itself then never reach the program.
#
# By default the X server resets when its last client leaves, and a program that
# connects during the reset fails with "could not connect to display" (a check that
# starts the program several times hit this 1 run in 4): -noreset keeps it up.
# xvfb-run also kills its server without waiting, so each caller starts its search at
# its own display number, and the server is waited for before this returns.
set -uo pipefail
manager=0
if [ "${1:-}" = "--window-manager" ]; then manager=1; shift; fi
first=$1
shift
display_file=$(mktemp)
# shellcheck disable=SC2016
xvfb-run -n "$first" -a -s "-screen 0 1024x768x24 -noreset" \
  bash -c '
    echo "${DISPLAY#:}" > "$0"
    manager=$1
    shift
    if [ "$manager" = 1 ]; then
      openbox --sm-disable >/dev/null 2>&1 &
      wm=$!
      # openbox owns the window-manager selection once it has started.
      for _ in $(seq 1 50); do
        xdotool get_desktop >/dev/null 2>&1 && break
        sleep 0.05
      done
      "$@"
      status=$?
      kill "$wm" 2>/dev/null
      wait "$wm" 2>/dev/null
      exit "$status"
    fi
    exec "$@"' "$display_file" "$manager" "$@"
status=$?
number=$(cat "$display_file")
rm -f "$display_file"
if [ -n "$number" ]; then
  for _ in $(seq 1 100); do
    [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ] || break
    sleep 0.05
  done
fi
exit "$status"
