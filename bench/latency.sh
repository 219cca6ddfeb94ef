#!/usr/bin/env bash
# How the program answers a person at scale, measured on the real window in Xvfb: the
# time from launch to the first visible picture of the bush F -> F[+F]F[-F]F at n=11
# (48.8 million lines), of the Hilbert curve at n=12 (16.8 million lines), of the
# dragon at n=23 (8.4 million lines) and of the bush at n=3 (125 lines: what any
# picture costs), Esc at idle, and Esc while the word of n=12 (610 million letters) is
# being made. Given a second program (an older build), measures
# it in the same run.
# Usage: tests/with-xvfb.sh bench/latency.sh PROGRAM X11_PROBE [OLD_PROGRAM]
set -euo pipefail
program=$1 probe=$2 old=${3:-}
case_name="latency"
source "$(dirname "$0")/../tests/e2e/driver.sh"

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }

# Waits until the program has ended, at most $1 seconds; kills it after that. Prints
# the seconds it took, or "more than $1".
time_to_exit() {
  local limit=$1 start=$2
  local end=$((SECONDS + limit))
  while running && [ "$SECONDS" -lt "$end" ]; do sleep 0.01; done
  if running; then
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=""
    echo "more than $limit"
  else
    since "$start"
    wait "$pid" 2>/dev/null || true
    pid=""
  fi
}

# The picture is up: white margins at least and the picture's ink (before the first
# swap the window shows whatever the server had there). A space-filling curve inks most
# of the window: only its margins are white.
shows_picture() {
  local seen
  seen=$("$probe" picture "$wid" 2>/dev/null || true)
  [ "$(field white "$seen")" -ge 50000 ] 2>/dev/null && [ "$(field ink "$seen")" -ge 500 ] 2>/dev/null
}

# Seconds from launch to the first picture of the description file $1, into $shown;
# the program is left running.
first_picture() {
  local start
  start=$(now)
  launch "$1"
  wait_until 30 find_window || fail "no window"
  shown="more than 300"
  local end=$((SECONDS + 300))
  while running && [ "$SECONDS" -lt "$end" ]; do
    if shows_picture; then shown=$(since "$start"); break; fi
    sleep 0.02
  done
}

stop_program() {
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  pid=""
}

measure() {
  local exe=$1 name=$2 start shown
  program=$exe
  printf 'n=11 delta=22.5\nF\nF->F[+F]F[-F]F\n' >"$work/bush-11.lsys"
  printf 'n=12 delta=22.5\nF\nF->F[+F]F[-F]F\n' >"$work/bush-12.lsys"
  printf 'n=12\nA\nA->+BF-AFA-FB+\nB->-AF+BFB+FA-\n' >"$work/hilbert-12.lsys"
  printf 'n=23\nFX\nX->X+YF+\nY->-FX-Y\n' >"$work/dragon-23.lsys"
  printf 'n=3 delta=22.5\nF\nF->F[+F]F[-F]F\n' >"$work/bush-3.lsys"
  local small hilbert dragon
  first_picture "$work/bush-3.lsys"
  small=$shown
  stop_program
  first_picture "$work/hilbert-12.lsys"
  hilbert=$shown
  stop_program
  first_picture "$work/dragon-23.lsys"
  dragon=$shown
  stop_program

  first_picture "$work/bush-11.lsys"
  sleep 2  # idle: the picture is up and redrawn
  xdotool windowfocus "$wid" 2>/dev/null || true
  start=$(now)
  xdotool key Escape
  local idle
  idle=$(time_to_exit 120 "$start")

  launch "$work/bush-12.lsys"
  wait_until 30 find_window || fail "no window"
  xdotool windowfocus "$wid" 2>/dev/null || true
  wait_until 60 grep -q '^1 ' "$work/raw" || fail "no rewriting"
  sleep 0.5
  start=$(now)
  xdotool key Escape
  local busy
  busy=$(time_to_exit 60 "$start")

  printf '%s: first picture of the bush at n=11 after %s s, Hilbert n=12 %s s, dragon n=23 %s s, the bush at n=3 (what any picture costs) %s s; Esc at idle %s s; Esc while n=12 is made %s s\n' \
    "$name" "$shown" "$hilbert" "$dragon" "$small" "$idle" "$busy"
}

measure "$1" "this build"
if [ -n "$old" ]; then measure "$old" "old build"; fi
