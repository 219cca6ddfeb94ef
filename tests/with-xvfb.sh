#!/usr/bin/env bash
# Runs one command inside a private Xvfb server, so that tests running side by side
# never share a screen, a keyboard focus or a window manager's absence.
# Usage: tests/with-xvfb.sh COMMAND [ARGS...]   (DISPLAY is set for the command)
set -euo pipefail

fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$fifo" 2>/dev/null &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null || true' EXIT
read -r -t 20 number <"$fifo" || { echo "Xvfb did not start" >&2; rm -f "$fifo"; exit 1; }
rm -f "$fifo"

DISPLAY=":$number" "$@"
