#!/usr/bin/env bash
# Runs a command in its own virtual X server and returns its exit status once that
# server has really gone. Usage: with-xvfb.sh FIRST_DISPLAY COMMAND [ARGS...]
#
# By default the X server resets when its last client leaves, and a program that
# connects during the reset fails with "could not connect to display" (a check that
# starts the program several times hit this 1 run in 4): -noreset keeps it up.
# xvfb-run also kills its server without waiting, so each caller starts its search at
# its own display number, and the server is waited for before this returns.
set -uo pipefail
first=$1
shift
display_file=$(mktemp)
xvfb-run -n "$first" -a -s "-screen 0 1024x768x24 -noreset" \
  bash -c 'echo "${DISPLAY#:}" > "$0"; exec "$@"' "$display_file" "$@"
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
