#!/usr/bin/env bash
# The word ceiling end to end, on a build whose compiled-in ceiling is small: F -> FF
# with n = 60 stops at the iteration that would cross the ceiling, draws the kept word,
# answers P (the same stop each time) and L (down to a normal production), ends with
# exit code 0 on Esc, and its peak memory stays within the ceiling's budget.
# Usage: ceiling.sh PROGRAM CEILING [budget|no-budget]   (no-budget: a sanitized build)
set -euo pipefail
program=$1 ceiling=$2 memory_check=${3:-budget}
source "$(dirname "$0")/drive.sh"

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
# expect_console TEXT_FILE WHAT: the whole console so far is the file's text.
expect_console() {
  cmp -s "$console" "$1" || { cmp "$console" "$1" >&2 || true; fail "$2"; }
}

printf 'n=60\nF\nF->FF\n' >"$work/doubling.lsys"
start "$work/doubling.lsys"
wait_for_window 20
wait_for_text 'Rendering done: ' 60
reader='Finished parsing file: \n  n=60, d=1, delta=90.000000\n  F\n  F->FF\n-----------------------\n'
{ printf "$reader"; stopped_report; } >"$work/expected"
expect_console "$work/expected" "start-up reports"
sleep 2  # idle redraws

# P: n rises and the same iteration stops each time.
for n in 61 62 63; do
  press p
  wait_for_title "Tendrilview, n=$n" 30
done
wait_for_count 'Rendering done: ' 4 60
{ printf "$reader"; for n in 60 61 62 63; do stopped_report; done; } >"$work/expected"
expect_console "$work/expected" "reports after P"

# L: n falls; below the stopping iteration the whole production runs again.
low=$((stop - 4))
keys=()
for ((n = 62; n >= low; n--)); do keys+=(l); done
press "${keys[@]}"
wait_for_title "Tendrilview, n=$low" 120
wait_for_text "Rendering done: $((1 << low)) lines were drawn" 60
{ printf "$reader"; for ((n = 60; n <= 63; n++)); do stopped_report; done
  for ((n = 62; n >= stop; n--)); do stopped_report; done
  for ((n = stop - 1; n >= low; n--)); do
    numbers "$n"
    printf '\nProduction done: %s replaces done, final product has %s letters\n' $(((1 << n) - 1)) $((1 << n))
    printf -- '----------------\nRendering done: %s lines were drawn\n' $((1 << n))
    printf -- '--------------------------------\n'
  done; } >"$work/expected"
expect_console "$work/expected" "reports after L"
quit 20

# Peak memory: at most 2.5 bytes per letter of the ceiling (the kept word and the next
# one) over the program's memory with a one-letter word. The OpenGL driver's memory
# grows with the lines drawn and varies from run to run by more than this budget, so
# here the word doubles A -> AA, which draws nothing: the difference is the rewriting's.
printf 'n=0\nA\n' >"$work/one.lsys"
start "$work/one.lsys"
wait_for_window 20
wait_for_text 'Rendering done: 0 lines were drawn' 20
sleep 1
baseline=$(memory_kb VmHWM)
quit 20

printf 'n=60\nA\nA->AA\n' >"$work/letters.lsys"
start "$work/letters.lsys"
wait_for_window 20
wait_for_text "final product has $letters letters" 60
for n in 61 62; do
  press p
  wait_for_title "Tendrilview, n=$n" 30
done
wait_for_count 'Rendering done: 0 lines were drawn' 3 30
[ "$(count 'Production stopped at iteration')" -eq 3 ] || fail "A -> AA did not stop at the ceiling each time"
sleep 1
peak=$(memory_kb VmHWM)
budget=$((ceiling * 5 / 2 / 1024))
quit 20
echo "peak memory ${peak} kB, ${baseline} kB with a one-letter word:" \
     "$((peak - baseline)) kB for a budget of ${budget} kB"
[ "$memory_check" = no-budget ] || [ $((peak - baseline)) -le "$budget" ] ||
  fail "peak memory $((peak - baseline)) kB over the budget of $budget kB"
echo "ok: ceiling"
