#!/usr/bin/env bash
# The word ceiling end to end, on a build whose compiled-in ceiling is small: F -> FF
# with n = 60 stops at the iteration that would cross the ceiling, draws the kept word,
# answers P (the same stop each time) and L (down to a normal production), ends with
# exit code 0 on Esc, and its peak memory stays within the ceiling's budget.
# Usage: ceiling.sh PROGRAM CEILING [budget|no-budget]   (no-budget: a sanitized build)
set -euo pipefail
program=$1 ceiling=$2 memory_check=${3:-budget}
probe=""  # no pixels are looked at
source "$(dirname "$0")/../e2e/driver.sh"

# F -> FF doubles the word: the last iteration that fits leaves 2^kept letters.
kept=0
while [ $((1 << (kept + 1))) -le "$ceiling" ]; do kept=$((kept + 1)); done
stop=$((kept + 1))
letters=$((1 << kept))
numbers() { local i; for ((i = 1; i <= $1; i++)); do printf '%s ' "$i"; done; }
stopped_report() {
  numbers "$stop"
  printf '\nProduction stopped at iteration %s: the word would exceed %s letters\n' "$stop" "$ceiling"
  printf 'Production done: %s replaces done, final product has %s letters\n' $((letters - 1)) "$letters"
  printf -- '----------------\nRendering done: %s lines were drawn\n' "$letters"
  printf -- '--------------------------------\n'
}
# start_on FILE: starts the program on FILE and waits for its window.
start_on() {
  launch "$1"
  expect_within 20 "its window" find_window
  xdotool windowfocus "$wid" 2>/dev/null || true
}
# retitled N SECONDS: waits until the title shows n=N.
retitled() { expect_within "$2" "the title 'Tendrilview, n=$1'" title_is "Tendrilview, n=$1"; }

printf 'n=60\nF\nF->FF\n' >"$work/doubling.lsys"
start_on "$work/doubling.lsys"
expect_within 60 "'Rendering done: '" console_has 'Rendering done: '
reader='Finished parsing file: \n  n=60, d=1, delta=90.000000\n  F\n  F->FF\n-----------------------\n'
{ printf "$reader"; stopped_report; } >"$work/expected"
expect_console_bytes "$work/expected" "start-up reports"
sleep 2  # idle redraws

# P: n rises and the same iteration stops each time.
for n in 61 62 63; do
  xdotool key --delay 30 p
  retitled "$n" 30
done
expect_within 60 "'Rendering done: ' 4 times" occurs 'Rendering done: ' 4
{ printf "$reader"; for n in 60 61 62 63; do stopped_report; done; } >"$work/expected"
expect_console_bytes "$work/expected" "reports after P"

# L: n falls; below the stopping iteration the whole production runs again.
low=$((stop - 4))
keys=()
for ((n = 62; n >= low; n--)); do keys+=(l); done
xdotool key --delay 30 "${keys[@]}"
retitled "$low" 120
expect_within 60 "'Rendering done: $((1 << low)) lines were drawn'" \
  console_has "Rendering done: $((1 << low)) lines were drawn"
{ printf "$reader"; for ((n = 60; n <= 63; n++)); do stopped_report; done
  for ((n = 62; n >= stop; n--)); do stopped_report; done
  for ((n = stop - 1; n >= low; n--)); do
    numbers "$n"
    printf '\nProduction done: %s replaces done, final product has %s letters\n' $(((1 << n) - 1)) $((1 << n))
    printf -- '----------------\nRendering done: %s lines were drawn\n' $((1 << n))
    printf -- '--------------------------------\n'
  done; } >"$work/expected"
expect_console_bytes "$work/expected" "reports after L"
quit_with_escape

# Peak memory: at most 2.5 bytes per letter of the ceiling (the kept word and the next
# one) over the program's memory with a one-letter word. The OpenGL driver's memory
# grows with the lines drawn and varies from run to run by more than this budget, so
# here the word doubles A -> AA, which draws nothing: the difference is the rewriting's.
printf 'n=0\nA\n' >"$work/one.lsys"
start_on "$work/one.lsys"
expect_within 20 "'Rendering done: 0 lines were drawn'" console_has 'Rendering done: 0 lines were drawn'
sleep 1
baseline=$(memory_kb VmHWM)
quit_with_escape

printf 'n=60\nA\nA->AA\n' >"$work/letters.lsys"
start_on "$work/letters.lsys"
expect_within 60 "'final product has $letters letters'" console_has "final product has $letters letters"
for n in 61 62; do
  xdotool key --delay 30 p
  retitled "$n" 30
done
expect_within 30 "'Rendering done: 0 lines were drawn' 3 times" occurs 'Rendering done: 0 lines were drawn' 3
[ "$(occurrences 'Production stopped at iteration')" -eq 3 ] || fail "A -> AA did not stop at the ceiling each time"
sleep 1
peak=$(memory_kb VmHWM)
budget=$((ceiling * 5 / 2 / 1024))
quit_with_escape
echo "peak memory ${peak} kB, ${baseline} kB with a one-letter word:" \
     "$((peak - baseline)) kB for a budget of ${budget} kB"
[ "$memory_check" = no-budget ] || [ $((peak - baseline)) -le "$budget" ] ||
  fail "peak memory $((peak - baseline)) kB over the budget of $budget kB"
echo "ok: ceiling"
