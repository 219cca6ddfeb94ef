#!/usr/bin/env bash
# Soak: the program redraws one picture continuously for 60 seconds; its resident
# memory may grow by less than 1 MB between the 10th and the 60th second. Two words:
#   open-brackets  5461 more "[" than "]", left on the turtle's stack by every pass
#   stack-error    ends in an unmatched "]": "Stack error !" on every redraw
# At the end the program still answers P and ends with exit code 0 on Esc.
# Usage: soak.sh PROGRAM X11_PROBE KIND [SECONDS]
set -euo pipefail
program=$1 probe=$2 kind=$3 duration=${4:-60}
case_name="soak $kind"
source "$(dirname "$0")/../e2e/driver.sh"

case $kind in
open-brackets)
  next_n=8
  # Each F gives F[+F[-F]F: four F, two "[" and one "]"; at n=7, 16384 lines.
  printf 'n=7 delta=22.5\nF\nF->F[+F[-F]F\n' >"$work/soak.lsys"
  first='Rendering done: 16384 lines were drawn'
  after_p='Rendering done: 65536 lines were drawn' ;;
stack-error)
  next_n=5
  # The plant of 625 lines, then the "]" that finds the stack empty.
  printf 'n=4 delta=22.5\nF]\nF->F[+F]F[-F]F\n' >"$work/soak.lsys"
  first='Stack error !'
  after_p='final product has 7812 letters' ;;
*)
  echo "unknown kind '$kind'" >&2; exit 2 ;;
esac

launch "$work/soak.lsys"
expect_within 20 "its window" find_window
xdotool windowfocus "$wid" 2>/dev/null || true
expect_within 30 "'$first' on the console" console_has "$first"
# Resident memory rises and falls within every redraw, so one sample may land anywhere
# in that cycle. Five samples a second; the highest of the five seconds before the 10th
# and of the five before the last are compared.
begin=$SECONDS
rss_early=0 rss_late=0 errors_10=""
while [ $((SECONDS - begin)) -lt "$duration" ]; do
  sleep 0.2
  running || fail "the program ended (or crashed) after $((SECONDS - begin)) s"
  rss=$(memory_kb VmRSS) elapsed=$((SECONDS - begin))
  if [ "$elapsed" -ge 5 ] && [ "$elapsed" -lt 10 ] && [ "$rss" -gt "$rss_early" ]; then rss_early=$rss; fi
  if [ "$elapsed" -ge $((duration - 5)) ] && [ "$rss" -gt "$rss_late" ]; then rss_late=$rss; fi
  if [ -z "$errors_10" ] && [ "$elapsed" -ge 10 ]; then errors_10=$(occurrences 'Stack error !'); fi
done
errors_60=$(occurrences 'Stack error !')
growth=$((rss_late - rss_early))
echo "VmRSS ${rss_early} kB at 10 s, ${rss_late} kB at ${duration} s: growth ${growth} kB"

counts=$("$probe" picture "$wid")
[ "$(field ink "$counts")" -gt 0 ] || fail "the picture is gone: $counts"
if [ "$kind" = stack-error ]; then
  echo "\"Stack error !\" printed $errors_10 times by 10 s, $errors_60 times by $duration s"
  [ "$errors_60" -gt "$errors_10" ] || fail "the redraws stopped: no new \"Stack error !\" after 10 s"
  [ "$(occurrences 'Rendering done: ')" -eq 0 ] || fail "a pass with an unmatched \"]\" reported lines"
else
  [ "$(occurrences 'Stack error !')" -eq 0 ] || fail "\"Stack error !\" for a word whose every \"]\" is matched"
fi
[ "$growth" -lt 1024 ] || fail "resident memory grew by $growth kB"

xdotool key --delay 30 p
expect_within 30 "the title 'Tendrilview, n=$next_n'" title_is "Tendrilview, n=$next_n"
expect_within 30 "'$after_p' on the console" console_has "$after_p"
quit_with_escape
echo "ok: soak $kind"
