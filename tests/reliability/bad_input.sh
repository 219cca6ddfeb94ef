#!/usr/bin/env bash
# One case of the bad-input matrix, end to end: the program runs on the file in Xvfb,
# prints its message or the defaults and the reports, shows its window, neither crashes
# nor hangs, and ends with exit code 0 when Esc is released. Big files are made here.
# Usage: bad_input.sh PROGRAM MAKE_INPUT X11_PROBE CASE
set -euo pipefail
program=$1 make_input=$2 probe=$3 case=$4
case_name="bad_input $case"
source "$(dirname "$0")/../e2e/driver.sh"

file="$work/description.lsys"
expected="$work/expected"
reader_end='-----------------------\n'
defaults='Finished parsing file: \n  n=1, d=1, delta=90.000000\n  \n'"$reader_end"
produce_empty='1 \nProduction done: 0 replaces done, final product has 0 letters\n----------------\n'
rendered() { printf 'Rendering done: %s lines were drawn\n--------------------------------\n' "$1"; }
lines=""  # the picture: "none" for a white window, "some" for black lines

case $case in
missing)
  file="$work/no such file.lsys"
  { printf "Couldn't open specified file!\n$produce_empty"; rendered 0; } >"$expected"
  lines=none ;;
directory)
  file="$work"
  { printf "Couldn't open specified file!\n$produce_empty"; rendered 0; } >"$expected"
  lines=none ;;
empty)
  : >"$file"
  { printf "$defaults$produce_empty"; rendered 0; } >"$expected"
  lines=none ;;
random)
  "$make_input" random 1048576 6 >"$file" ;;
token)
  # One axiom token of 50 MB: 52428800 letters, 2016493 of them F, walking a square.
  "$make_input" token 52428800 >"$file"
  { printf 'Finished parsing file: \n  n=1, d=1, delta=90.000000\n  '; tail -c +5 "$file"
    printf -- "$reader_end"'1 \nProduction done: 0 replaces done, final product has 52428800 letters\n'
    printf -- '----------------\n'; rendered 2016493; } >"$expected"
  lines=some ;;
nul)
  # A NUL byte is a symbol like any other: F\0F becomes FF\0FF.
  printf 'n=1\nF\0F\nF->FF\n' >"$file"
  { printf 'Finished parsing file: \n  n=1, d=1, delta=90.000000\n  F\0F\n  F->FF\n'"$reader_end"
    printf '1 \nProduction done: 2 replaces done, final product has 5 letters\n----------------\n'
    rendered 4; } >"$expected"
  lines=some ;;
crlf)
  printf 'n=2\r\ndelta=22.5\r\nF\r\nF->F[+F]F[-F]F\r\n' >"$file"
  { printf 'Finished parsing file: \n  n=2, d=1, delta=22.500000\n  F\n  F->F[+F]F[-F]F\n'"$reader_end"
    printf '1 2 \nProduction done: 6 replaces done, final product has 61 letters\n----------------\n'
    rendered 25; } >"$expected"
  lines=some ;;
rules)
  # 100,000 rules Q00000->F ... Q99999->F, then F->FF; the axiom Q00042Q99999F gives FFFF.
  "$make_input" rules 100000 >"$file"
  { printf 'Finished parsing file: \n  n=1, d=1, delta=90.000000\n  Q00042Q99999F\n'
    head -n 100001 "$file" | sed 's/^/  /'
    printf -- "$reader_end"'1 \nProduction done: 3 replaces done, final product has 4 letters\n'
    printf -- '----------------\n'; rendered 4; } >"$expected"
  lines=some ;;
nesting)
  # 1,000 iterations of X->[+FX] nest 1,000 brackets: [+F[+F ... X] ... ]].
  printf 'n=1000 delta=0.36 X X->[+FX]\n' >"$file"
  { printf 'Finished parsing file: \n  n=1000, d=1, delta=0.360000\n  X\n  X->[+FX]\n'"$reader_end"
    for i in $(seq 1000); do printf '%s ' "$i"; done
    printf '\nProduction done: 1000 replaces done, final product has 4001 letters\n----------------\n'
    rendered 1000; } >"$expected"
  lines=some ;;
*)
  echo "unknown case '$case'" >&2; exit 2 ;;
esac

launch "$file"
expect_within 20 "its window" find_window
xdotool windowfocus "$wid" 2>/dev/null || true
# The first drawing pass reports, or meets an unmatched "]": the program is in its loop.
drawn() { tail -c 65536 "$work/raw" | grep -q -a -e 'Rendering done: [0-9]* lines were drawn' -e 'Stack error !'; }
expect_within 60 "a drawing pass" drawn
sleep 0.5  # a few idle redraws and buffer swaps

case $lines in
none|some)
  # The first buffer swap comes after the first idle redraw, which for a big word takes a while.
  deadline=$((SECONDS + 60))
  until counts=$("$probe" picture "$wid") && [ "$(field white "$counts")" -gt 300000 ]; do
    running || fail "the program ended (or crashed) before showing its picture"
    [ "$SECONDS" -lt "$deadline" ] || fail "the window is not mostly white after 60 s: $counts"
    sleep 0.2
  done
  ink=$(field ink "$counts")
  if [ "$lines" = none ]; then
    [ "$ink" -eq 0 ] || fail "lines drawn where there are none: $counts"
  else
    [ "$ink" -gt 0 ] || fail "no lines in the window: $counts"
  fi ;;
esac

quit_with_escape

if [ -s "$expected" ]; then
  expect_console_bytes "$expected" "the console differs from the expected text"
else
  # Random bytes: the reader's summary, a production report and a drawing pass.
  grep -q -a -F 'Finished parsing file: ' "$work/raw" || fail "no reader summary"
  grep -q -a -F 'Production done: ' "$work/raw" || fail "no production report"
  grep -q -a -e 'Rendering done: ' -e 'Stack error !' "$work/raw" || fail "no drawing pass"
fi
echo "ok: $case"
