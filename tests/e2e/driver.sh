#!/usr/bin/env bash
# One end-to-end case of Tendrilview, run as a person would run it: the program is started
# on a description file, its window is found, keys are pressed, and the console, the exit
# code, the title, the window's geometry and its pixels are checked. Meant to run inside
# tests/with-xvfb.sh, which gives every case a private X server without a window manager.
# Usage: driver.sh CASE linux|windows PROGRAM X11_PROBE [WINE_PREFIX_STATE]
# The other scripts that drive the program (tests/reliability, examples/gallery.sh) source
# this file for its helpers alone: they set program and probe first (platform is linux
# unless set), and get the scratch folder work, removed at the end, and no case.
# CMake registers one test per case_NAME function below.
set -euo pipefail
sourced=false
[ "${BASH_SOURCE[0]}" = "$0" ] || sourced=true
if $sourced; then
  case_name=${case_name:-$(basename "$0" .sh)}
  platform=${platform:-linux}
else
  case_name=$1
  platform=$2
  program=$3
  probe=$4
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
examples=$here/../../examples

work=$(mktemp -d)
pid=""
wid=""
plain_x=""  # a second X server, started by a case
cleanup() {
  if [ -n "$plain_x" ]; then kill "$plain_x" 2>/dev/null || true; fi
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill -9 "$pid" 2>/dev/null || true; fi
  if [ "$platform" = windows ]; then wineserver -k 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
if ! $sourced; then
  cp "$examples"/*.lsys "$here"/data/*.lsys "$work"/
  cd "$work"
fi

if [ "$platform" = windows ]; then
  export WINEPREFIX
  WINEPREFIX=$(cat "$5")
  export WINEDEBUG=-all
  # Wine takes the program's ANSI code page and its file-name encoding from the locale;
  # the cases set it, so that they answer the same whatever the caller's environment.
  export LANG=C.UTF-8 LC_ALL=C.UTF-8
fi

# ---- helpers -------------------------------------------------------------------------

fail() {
  echo "FAIL ($case_name, $platform): $*" >&2
  echo "--- console so far (its last 40 lines, control bytes shown):" >&2
  console 2>/dev/null | tail -c 8000 | cat -v | tail -n 40 >&2 || true
  if [ -s "$work/err" ]; then
    echo "--- standard error:" >&2
    tail -n 20 "$work/err" | cat -v >&2
  fi
  exit 1
}

# The console as the program wrote it, with Windows' CR LF line ends made LF.
console() { tr -d '\r' <"$work/raw"; }

# Whether the last 64 KB of the console hold TEXT (any bytes, NUL included): quick on a
# console that grows without end.
console_has() { tail -c 65536 "$work/raw" | grep -q -a -F -- "$1"; }

# How often TEXT stands in the console, counting each time on a line.
occurrences() { { grep -a -o -F -- "$1" "$work/raw" || true; } | wc -l; }
occurs() { [ "$(occurrences "$1")" -ge "$2" ]; }  # occurs TEXT N: at least N times

# Fails unless the console so far is, byte for byte, the text of FILE.
expect_console_bytes() {
  cmp -s "$work/raw" "$1" && return 0
  cmp "$work/raw" "$1" >&2 || true
  fail "$2"
}

# memory_kb FIELD: a field of the program's /proc/PID/status in kB, VmRSS or VmHWM.
memory_kb() { awk -v field="$1:" '$1 == field { print $2 }' "/proc/$pid/status"; }

# Starts the program in the background on the given arguments; stdout goes to raw.
launch() {
  if [ "$platform" = windows ]; then
    wine "$program" "$@" >"$work/raw" 2>"$work/err" &
  else
    "$program" "$@" >"$work/raw" 2>"$work/err" &
  fi
  pid=$!
}

# Starts the program in the background with standard output into TARGET (a pipe, say)
# and waits until its window has the keyboard focus; no report is waited for.
launch_into() {
  local target=$1
  shift
  if [ "$platform" = windows ]; then
    wine "$program" "$@" >"$target" 2>"$work/err" &
  else
    "$program" "$@" >"$target" 2>"$work/err" &
  fi
  pid=$!
  await_focus
}

# Waits until the program's window shows and has the keyboard focus.
await_focus() {
  wait_until 30 find_window || fail "no window appeared"
  if [ "$platform" = windows ]; then
    # Wine asks the window manager to focus the window; Xvfb has none, so the test
    # does what the window manager would.
    xdotool windowfocus --sync "$wid"
  fi
  wait_until 10 has_focus || fail "the window did not get the keyboard focus"
}

# Runs the program to its end (at most 30 s); sets rc.
run_to_end() {
  launch "$@"
  wait_exit
}

# Waits for the program to end, at most 30 s; sets rc to its exit code.
wait_exit() {
  local end=$((SECONDS + 30))
  while running && [ "$SECONDS" -lt "$end" ]; do sleep 0.05; done
  running && fail "the program did not end within 30 s"
  rc=0
  wait "$pid" || rc=$?
  pid=""
}

# Whether the program is still running (not ended, nor a zombie waiting to be reaped).
running() {
  local state=""
  [ -r "/proc/$pid/stat" ] && read -r _ _ state _ <"/proc/$pid/stat"
  [ -n "$state" ] && [ "$state" != Z ]
}

# Retries a check every 0.1 s for at most the given number of seconds; gives up at once
# if the program has ended.
wait_until() {
  local seconds=$1
  shift
  local end=$((SECONDS + seconds))
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    running || return 1
    sleep 0.1
  done
}

# expect_within SECONDS WHAT CHECK...: waits for the check; fails naming WHAT, and
# whether the program ended first.
expect_within() {
  local seconds=$1 what=$2
  shift 2
  wait_until "$seconds" "$@" && return 0
  running || fail "the program ended (or crashed) before $what"
  fail "no $what after $seconds s"
}

find_window() { wid=$(xdotool search --onlyvisible --name '^Tendrilview' 2>/dev/null | head -n 1 || true); [ -n "$wid" ]; }
has_focus() { [ "$(xdotool getwindowfocus 2>/dev/null || true)" = "$wid" ]; }
title() { xdotool getwindowname "$wid"; }
title_is() { [ "$(title)" = "$1" ]; }
count() { console | grep -c "$1" || true; }
reports_reach() { [ "$(count '^Rendering done')" -ge "$1" ]; }

# Starts the program on a file and waits until its window has the keyboard focus and
# the first picture has been reported.
open_window() {
  launch "$@"
  await_focus
  wait_until 30 reports_reach 1 || fail "no line-count report"
}

# Whether the program has used next to no processor time for half a second: it waits
# (for a pipe, say) rather than works. /proc's times are in hundredths of a second.
idle() {
  local before after
  before=$(awk '{ print $14 + $15 }' "/proc/$pid/stat")
  sleep 0.5
  after=$(awk '{ print $14 + $15 }' "/proc/$pid/stat")
  [ $((after - before)) -le 10 ]
}

# Whether no window of the program shows any more.
window_gone() { ! xdotool search --onlyvisible --name '^Tendrilview' >/dev/null 2>&1; }

# Esc or the close box (HOW: escape or close); then the window must be gone within
# SECONDS, measured from the key or the click, although the program may still be
# writing its reports. Under Wine a destroyed window leaves the screen about two seconds
# late, even at idle, so there the bound is 3 s longer.
close_within() {
  local how=$1 seconds=$2 start
  if [ "$platform" = windows ]; then seconds=$((seconds + 3)); fi
  start=$(now)
  if [ "$how" = escape ]; then xdotool key Escape; else "$probe" close "$wid"; fi
  while ! window_gone; do
    awk -v a="$start" -v b="$(now)" -v limit="$seconds" 'BEGIN { exit !(b - a <= limit) }' ||
      fail "the window was still open $seconds s after $how"
    sleep 0.02
  done
}

# The window's pixels, summarised once two looks in a row agree (the swap has happened).
picture() {
  local last="" now=""
  for _ in $(seq 50); do
    now=$("$probe" picture "$wid")
    [ "$now" = "$last" ] && break
    last=$now
    sleep 0.2
  done
  echo "$now"
}
field() { sed -n "s/.*\(^\| \)$1=\([^ ]*\).*/\2/p" <<<"$2"; }

# Fails unless VALUE lies within TOLERANCE of EXPECTED.
near() {
  local what=$1 value=$2 expected=$3 tolerance=$4
  [ $((value - expected)) -le "$tolerance" ] && [ $((expected - value)) -le "$tolerance" ] ||
    fail "$what is $value, expected $expected (+-$tolerance)"
}

# fills_frame WHAT SEEN: the ink box of the picture counts SEEN lies on the frame's
# margins, 27 pixels in from each side of the window (within 2 pixels).
fills_frame() {
  local box
  IFS=, read -r -a box <<<"$(field ink_box "$2")"
  near "left of the $1" "${box[0]}" 27 2
  near "top of the $1" "${box[1]}" 27 2
  near "right of the $1" "${box[2]}" 572 2
  near "bottom of the $1" "${box[3]}" 572 2
}

# Releases Esc and expects the program to end with exit code 0.
quit_with_escape() {
  xdotool key Escape
  wait_exit
  [ "$rc" -eq 0 ] || fail "exit code $rc after Esc, expected 0"
}

expect_console() {
  diff -u "$here/expected/$1" <(console) >&2 || fail "the console differs from expected/$1"
}

# Sourced for the helpers above: the cases are the driver's own.
if $sourced; then return 0; fi

# ---- cases ---------------------------------------------------------------------------

# Without an argument the message comes before any window would open: with no display
# at all, opening one would fail with another message and another code.
case_no_argument() {
  unset DISPLAY
  run_to_end
  [ "$(console)" = "You have to pass filename as argument!" ] || fail "wrong message"
  [ "$(console | wc -l)" -eq 1 ] || fail "more than the message"
  [ "$rc" -eq 255 ] || fail "exit code $rc, expected 255 (-1)"
}

# No X display (unset, or one that does not exist), or one without OpenGL: one clear
# line that names what failed, and exit code 1.
case_no_display() {
  local display fifo
  fifo=$work/displayfd
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -extension GLX 3>"$fifo" >/dev/null 2>&1 &
  plain_x=$!
  read -r -t 20 display <"$fifo" || fail "Xvfb without GLX did not start"
  local without_glx=":$display"
  for display in "" ":987" "$without_glx"; do
    if [ -z "$display" ]; then unset DISPLAY; else export DISPLAY=$display; fi
    run_to_end abop-1.24a.lsys
    if [ "$platform" = windows ]; then wineserver -k 2>/dev/null || true; fi  # new display
    [ "$rc" -eq 1 ] || fail "exit code $rc without a display '$display', expected 1"
    [ "$(console | wc -l)" -eq 1 ] || fail "more than one line without a display"
    console | grep -q "^Couldn't open a window: ." || fail "no clear message without a display"
    if [ "$platform" = linux ]; then
      if [ "$display" = "$without_glx" ]; then
        [ "$(console)" = "Couldn't open a window: the X display has no OpenGL (GLX)" ] ||
          fail "the message does not name OpenGL"
      else
        [ "$(console)" = "Couldn't open a window: no X display (is DISPLAY set?)" ] ||
          fail "the message does not name the X display"
      fi
    fi
  done
}

# A file that can't be opened: the message, the defaults (n=1, empty axiom), a white
# window with no line (at most the start point shows); P still works and shows that n
# was 1.
case_missing_file() {
  open_window no-such-file.lsys
  title_is "Tendrilview" || fail "title '$(title)'"
  local seen
  seen=$(picture)
  [ "$(field ink "$seen")" -eq 0 ] && [ "$(field other "$seen")" -eq 0 ] &&
    [ "$(field red "$seen")" -le 16 ] || fail "the window is not white: $seen"
  xdotool key p
  wait_until 10 reports_reach 2 || fail "no report after P"
  title_is "Tendrilview, n=2" || fail "title '$(title)' after P"
  quit_with_escape
  expect_console missing-file.txt
}

# The whole console of a run, for files of several kinds; arguments after the first are
# ignored.
case_transcripts() {
  local file
  for file in abop-1.24a koch-island hilbert-curve gosper-curve; do
    if [ "$file" = hilbert-curve ]; then
      open_window "$file.lsys" koch-island.lsys more
    else
      open_window "$file.lsys"
    fi
    quit_with_escape
    expect_console "$file.txt"
  done
}

# P raises n, L lowers it but not below 0; each release retitles, produces, reports
# and redraws.
case_keys() {
  open_window keys.lsys
  title_is "Tendrilview" || fail "title '$(title)' before any key"
  local first second third zero
  first=$(picture)
  xdotool key p
  wait_until 10 reports_reach 2 || fail "no report after P"
  title_is "Tendrilview, n=2" || fail "title '$(title)' after P"
  second=$(picture)
  [ "$second" != "$first" ] || fail "the picture did not change after P"
  xdotool key l
  wait_until 10 reports_reach 3 || fail "no report after L"
  title_is "Tendrilview, n=1" || fail "title '$(title)' after L"
  third=$(picture)
  [ "$third" = "$first" ] || fail "n=1 again, but the picture differs: $third vs $first"
  xdotool key l
  wait_until 10 reports_reach 4 || fail "no report after L to 0"
  title_is "Tendrilview, n=0" || fail "title '$(title)' at n=0"
  zero=$(picture)
  # The word F: one line straight up through the middle, framed with its 5% margin.
  local box
  IFS=, read -r -a box <<<"$(field ink_box "$zero")"
  near "left of the line" "${box[0]}" 299 2
  near "right of the line" "${box[2]}" 300 2
  near "top of the line" "${box[1]}" 27 2
  near "bottom of the line" "${box[3]}" 572 2
  xdotool key l
  wait_until 10 reports_reach 5 || fail "no report after L at 0"
  title_is "Tendrilview, n=0" || fail "title '$(title)' after L at 0"
  quit_with_escape
  expect_console keys.txt
}

# Releasing any other key changes nothing: no report, no title, the same picture.
case_other_key() {
  open_window keys.lsys
  local before after
  before=$(picture)
  xdotool key a space Return 1 F5 Tab shift+q ctrl+k Left
  sleep 1
  running || fail "the program ended on another key"
  [ "$(count '^Rendering done')" -eq 1 ] || fail "another key made a report"
  title_is "Tendrilview" || fail "title '$(title)' after other keys"
  after=$(picture)
  [ "$after" = "$before" ] || fail "the picture changed after other keys"
  xdotool key p  # the keys did arrive: P still works
  wait_until 10 reports_reach 2 || fail "no report after P"
  quit_with_escape
}

# A key held down while the keyboard repeats counts once, at its release; Shift and
# Caps Lock make no difference.
case_hold_key() {
  open_window keys.lsys
  xdotool keydown p
  sleep 1.5
  xdotool keyup p
  wait_until 10 reports_reach 2 || fail "no report after holding P"
  sleep 0.5
  title_is "Tendrilview, n=2" || fail "title '$(title)' after holding P: one rise expected"
  xdotool keydown shift
  xdotool keydown p
  sleep 1.5
  xdotool keyup p
  xdotool keyup shift
  wait_until 10 reports_reach 3 || fail "no report after Shift+P"
  sleep 0.5
  title_is "Tendrilview, n=3" || fail "title '$(title)' after holding Shift+P"
  xdotool key Caps_Lock
  xdotool key p
  xdotool key Caps_Lock
  wait_until 10 reports_reach 4 || fail "no report after P with Caps Lock"
  title_is "Tendrilview, n=4" || fail "title '$(title)' after P with Caps Lock"
  [ "$(count '^Rendering done')" -eq 4 ] || fail "more reports than releases"
  quit_with_escape
}

# Pressing Esc does nothing; releasing it ends the program with exit code 0.
case_escape() {
  open_window keys.lsys
  xdotool keydown Escape
  sleep 1
  running || fail "the program ended when Esc was pressed, before its release"
  find_window || fail "the window closed when Esc was pressed"
  xdotool keyup Escape
  wait_exit
  [ "$rc" -eq 0 ] || fail "exit code $rc after releasing Esc, expected 0"
}

# The close box, as a window manager reports it: exit code 0.
case_close_box() {
  open_window abop-1.24a.lsys
  "$probe" close "$wid"
  wait_exit
  [ "$rc" -eq 0 ] || fail "exit code $rc after the close box, expected 0"
}

# A client area of 600x600 whose window sits at the screen's origin, with size hints
# that forbid resizing; the title and names a window manager shows.
case_geometry() {
  open_window abop-1.24a.lsys
  local info hints x y
  info=$(xwininfo -id "$wid")
  x=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
  y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
  grep -q '^ *Width: 600$' <<<"$info" || fail "width is not 600: $info"
  grep -q '^ *Height: 600$' <<<"$info" || fail "height is not 600: $info"
  if [ "$platform" = linux ]; then
    [ "$x,$y" = "0,0" ] || fail "the window is at $x,$y, not at the origin"
  else
    # Without a window manager Wine shows the client area alone, where the frame of a
    # window with its outer corner at the origin puts it: right of the border, below
    # the title bar.
    [ "$x" -ge 1 ] && [ "$x" -le 8 ] && [ "$y" -gt "$x" ] && [ "$y" -le 40 ] ||
      fail "the client area is at $x,$y: not inside a frame at the origin"
  fi
  hints=$(xprop -id "$wid" WM_NORMAL_HINTS)
  grep -q 'minimum size: 600 by 600' <<<"$hints" || fail "no minimum size 600x600: $hints"
  grep -q 'maximum size: 600 by 600' <<<"$hints" || fail "no maximum size 600x600: $hints"
  xprop -id "$wid" WM_NAME | grep -q '= "Tendrilview"$' || fail "WM_NAME is not Tendrilview"
  if [ "$platform" = linux ]; then
    xprop -id "$wid" _NET_WM_NAME | grep -q '= "Tendrilview"$' || fail "no _NET_WM_NAME"
    xprop -id "$wid" WM_CLASS | grep -q '"tendrilview", "Tendrilview"' || fail "no WM_CLASS"
    xprop -id "$wid" WM_PROTOCOLS | grep -q WM_DELETE_WINDOW || fail "no WM_DELETE_WINDOW"
  fi
  quit_with_escape
}

# The picture: white background, the red start point at the foot of the plant, black
# lines, and the whole plant framed so that its height fills the window but a 5% margin
# (27 pixels of 600) on each side. A closed curve round the start fills both ways.
case_picture() {
  local seen box red
  open_window abop-1.24a.lsys
  seen=$(picture)
  [ "$(field size "$seen")" = 600x600 ] || fail "captured $(field size "$seen")"
  [ "$(field white "$seen")" -ge 300000 ] || fail "not a white background: $seen"
  [ "$(field ink "$seen")" -ge 3000 ] || fail "too few black line pixels: $seen"
  [ "$(field other "$seen")" -le 200 ] || fail "colours the program never draws: $seen"
  [ "$(field red "$seen")" -ge 6 ] || fail "no red start point: $seen"
  IFS=, read -r -a box <<<"$(field ink_box "$seen")"
  IFS=, read -r -a red <<<"$(field red_box "$seen")"
  near "top of the plant" "${box[1]}" 27 2
  near "foot of the plant" "${box[3]}" 572 2
  near "start point's height" $(((red[1] + red[3]) / 2)) 572 2
  [ $((red[2] - red[0])) -le 5 ] && [ $((red[3] - red[1])) -le 5 ] ||
    fail "the start point is not a 4-pixel point: ${red[*]}"
  quit_with_escape

  open_window koch-island.lsys
  seen=$(picture)
  fills_frame island "$seen"
  [ "$(field red "$seen")" -ge 4 ] || fail "no red start point: $seen"
  quit_with_escape
}

# Every example: its line count (worked out from its rules, not taken from a run), and a
# picture of white, red and ink that fills the window in its longer direction, less the
# 27-pixel margin, and stays inside the margin in the other.
case_examples() {
  local entry name lines seen box width height
  for entry in abop-1.24a:3125 abop-1.24b:3125 abop-1.24c:4096 abop-1.24d:4118 \
               abop-1.24e:4118 abop-1.24f:1488 koch-island:2048 dragon-curve:1024 \
               hilbert-curve:1023 sierpinski-arrowhead:729 gosper-curve:2401 \
               context-tree:576; do
    name=${entry%:*}
    lines=${entry#*:}
    open_window "$name.lsys"
    console | grep -qx "Rendering done: $lines lines were drawn" || fail "$name: not $lines lines"
    seen=$(picture)
    [ "$(field red "$seen")" -ge 4 ] && [ "$(field other "$seen")" -le 200 ] &&
      [ "$(field ink "$seen")" -ge 1000 ] || fail "$name: not a line drawing: $seen"
    IFS=, read -r -a box <<<"$(field ink_box "$seen")"
    width=$((box[2] - box[0]))
    height=$((box[3] - box[1]))
    if [ "$width" -ge "$height" ]; then
      near "$name: left" "${box[0]}" 27 2
      near "$name: right" "${box[2]}" 572 2
      [ "${box[1]}" -ge 25 ] && [ "${box[3]}" -le 574 ] || fail "$name: outside the margin: ${box[*]}"
    else
      near "$name: top" "${box[1]}" 27 2
      near "$name: bottom" "${box[3]}" 572 2
      [ "${box[0]}" -ge 25 ] && [ "${box[2]}" -le 574 ] || fail "$name: outside the margin: ${box[*]}"
    fi
    quit_with_escape
  done
}

# Writes the bush F -> F[+F]F[-F]F with the given n to bush-N.lsys.
write_bush() { printf 'n=%s delta=22.5\nF\nF->F[+F]F[-F]F\n' "$1" >"bush-$1.lsys"; }

# Seconds (with a fraction) since the epoch.
now() { date +%s.%N; }
# Whether the time from $1 to $2 is at most $3 seconds. Under Wine a process takes about
# two seconds more to end, whatever the program does, so there the bound is 3 s longer.
within() {
  local limit=$3
  if [ "$platform" = windows ]; then limit=$((limit + 3)); fi
  awk -v a="$1" -v b="$2" -v limit="$limit" 'BEGIN { exit !(b - a <= limit) }'
}

# escape_ends_within SECONDS WHAT: releases Esc; the program must end with exit code 0
# within SECONDS (as within counts them), else the case fails, saying how long WHAT took.
escape_ends_within() {
  local pressed ended
  pressed=$(now)
  xdotool key Escape
  wait_exit
  ended=$(now)
  [ "$rc" -eq 0 ] || fail "exit code $rc after Esc, expected 0"
  within "$pressed" "$ended" "$1" || fail "$2 took $(awk -v a="$pressed" -v b="$ended" 'BEGIN { print b - a }') s"
}

# Esc while the program is busy making a word of 610 million letters: it ends at once,
# with exit code 0, the work abandoned.
case_escape_while_busy() {
  write_bush 12
  launch bush-12.lsys
  wait_until 30 find_window || fail "no window appeared"
  if [ "$platform" = windows ]; then xdotool windowfocus --sync "$wid"; fi
  wait_until 10 has_focus || fail "the window did not get the keyboard focus"
  wait_until 30 grep -q '^1 ' "$work/raw" || fail "the rewriting did not start"
  sleep 0.5
  escape_ends_within 3 "Esc"
  [ "$(count '^Rendering done')" -eq 0 ] || fail "the work was finished, not abandoned: too small a test"
}

# P and L released while the program is busy take effect afterwards, in their order:
# n=11, then n=10 again, each produced, framed and drawn.
case_keys_while_busy() {
  write_bush 10
  launch bush-10.lsys
  wait_until 30 find_window || fail "no window appeared"
  if [ "$platform" = windows ]; then xdotool windowfocus --sync "$wid"; fi
  wait_until 10 has_focus || fail "the window did not get the keyboard focus"
  xdotool key p l
  wait_until 60 reports_reach 3 || fail "not three reports after P and L"
  title_is "Tendrilview, n=10" || fail "title '$(title)' after P and L"
  local lengths
  lengths=$(console | sed -n 's/.*final product has \([0-9]*\) letters/\1/p' | paste -sd,)
  [ "$lengths" = "24414061,122070311,24414061" ] ||
    fail "the words were not made for n=10, 11, 10 in this order: $lengths"
  quit_with_escape
}

# A big picture stays on the screen, redrawn, and dark where the plant is: the bush at
# n=10 (9.8 million lines, most far below a pixel) keeps its ink frame after frame, and
# Esc at idle ends the program at once.
case_big_picture() {
  write_bush 10
  open_window bush-10.lsys
  local first later
  first=$(picture)
  sleep 2
  later=$(picture)
  [ "$later" = "$first" ] || fail "the picture changed while idle: $first, then $later"
  [ "$(field ink "$first")" -ge 4000 ] || fail "the plant has faded: $first"
  escape_ends_within 1 "Esc at idle"
}

# Whether the window shows the plant of abop-1.24a framed as case_picture expects it.
plant_shown() {
  local seen box
  seen=$("$probe" picture "$wid")
  [ "$(field white "$seen")" -ge 300000 ] && [ "$(field ink "$seen")" -ge 3000 ] &&
    [ "$(field red "$seen")" -ge 6 ] || return 1
  IFS=, read -r -a box <<<"$(field ink_box "$seen")"
  [ $((box[1] - 27)) -le 2 ] && [ $((27 - box[1])) -le 2 ] &&
    [ $((box[3] - 572)) -le 2 ] && [ $((572 - box[3])) -le 2 ]
}

# Closed standard streams: the program starts with standard output closed (and then with
# all three closed, on Windows output and error), draws the picture all the same and ends on Esc with exit code 0.
# Nothing of its own may land on descriptors 0 to 2, such as the X connection, where the
# console's text would corrupt it.
case_closed_streams() {
  local closing
  for closing in stdout all; do
    if [ "$closing" = stdout ]; then
      if [ "$platform" = windows ]; then
        wine "$program" abop-1.24a.lsys >&- 2>"$work/err" &
      else
        "$program" abop-1.24a.lsys >&- 2>"$work/err" &
      fi
    elif [ "$platform" = windows ]; then
      # Wine itself can't start without descriptor 0 (a protocol error with its server,
      # before the program runs): output and error only.
      wine "$program" abop-1.24a.lsys >&- 2>&- &
    else
      "$program" abop-1.24a.lsys <&- >&- 2>&- &
    fi
    pid=$!
    wait_until 30 find_window || fail "no window appeared with $closing closed"
    if [ "$platform" = windows ]; then
      xdotool windowfocus --sync "$wid"
    fi
    wait_until 10 has_focus || fail "the window did not get the keyboard focus ($closing closed)"
    wait_until 30 plant_shown || fail "no plant with $closing closed: $("$probe" picture "$wid")"
    quit_with_escape
    if [ "$platform" = windows ]; then wineserver -w; fi
  done
}

# Standard output on a pipe that nobody reads, with a word whose unmatched "]" prints
# "Stack error !" at every redraw: the pipe fills within a second, yet ten seconds later
# the window still answers Esc, and the program ends with exit code 0.
case_unread_pipe() {
  echo 'F]' >stack-error.lsys
  mkfifo "$work/pipe"
  exec 7<>"$work/pipe"  # the pipe's reading end stays open, and nothing reads it
  # Full from the start (64 KiB), as it would be after minutes of "Stack error !".
  head -c 65536 /dev/zero >&7
  if [ "$platform" = windows ]; then
    wine "$program" stack-error.lsys >"$work/pipe" 2>"$work/err" &
  else
    "$program" stack-error.lsys >"$work/pipe" 2>"$work/err" &
  fi
  pid=$!
  wait_until 30 find_window || fail "no window appeared"
  if [ "$platform" = windows ]; then
    xdotool windowfocus --sync "$wid"
  fi
  wait_until 10 has_focus || fail "the window did not get the keyboard focus"
  sleep 10
  running || fail "the program ended by itself"
  # P still answers: the word is made again and its reports wait for the pipe.
  xdotool key p
  wait_until 10 title_is "Tendrilview, n=2" || fail "title '$(title)' after P: the window did not answer"
  xdotool key Escape
  # The reports are never lost: once somebody reads the pipe they come, and the program ends.
  sleep 1
  cat "$work/pipe" >"$work/drained" 7<&- &  # without the shell's end, so that it sees the end
  sleep 1
  local reader=$!
  wait_exit
  [ "$rc" -eq 0 ] || fail "exit code $rc after Esc, expected 0"
  exec 7<&-
  wait "$reader" || true
  [ "$(tr -d '\0\r' <"$work/drained" | grep -c '^Production done: 0 replaces done, final product has 2 letters$')" -eq 2 ] ||
    fail "a report was lost: $(tr -d '\0' <"$work/drained" | grep -v '^Stack error' | head -c 600)"
}

# Standard output on a pipe that nobody reads while the rewriting prints its iteration
# numbers (n=4000000000 with no rule): within a second 16 MiB of them wait, and the next
# number waits for room. The window answers all the same: Esc, and the close box in a
# second run, close it within a second. Nothing is lost: once somebody reads the pipe,
# every number comes, once and in order, and the program ends with 0. In a third run
# the reader's summary of a 17 MiB axiom waits for room: P and L released meanwhile take
# effect in their order once the pipe is read.
case_unread_pipe_busy() {
  printf 'n=4000000000 F\n' >numbers.lsys
  { printf 'n=1 '; head -c $((17 << 20)) /dev/zero | tr '\0' A; printf '\n'; } >summary.lsys
  local how reader
  for how in escape close keys; do
    rm -f "$work/pipe"
    mkfifo "$work/pipe"
    exec 7<>"$work/pipe"  # a reader that reads nothing, so that the program's writes wait
    if [ "$how" = keys ]; then launch_into "$work/pipe" summary.lsys; else launch_into "$work/pipe" numbers.lsys; fi
    sleep 1
    wait_until 30 idle || fail "the program did not come to wait for the pipe"
    running || fail "the program ended by itself"
    if [ "$how" = keys ]; then
      xdotool key p
      sleep 0.5
      xdotool key l
      sleep 0.5
      title_is "Tendrilview" || fail "title '$(title)': the keys did not wait for the summary"
    else
      close_within "$how" 1
    fi
    exec 8<"$work/pipe"  # the reader that drains it, and sees its end
    cat <&8 >"$work/raw" 7<&- 8<&- &
    reader=$!
    exec 7<&- 8<&-
    if [ "$how" = keys ]; then
      wait_until 60 reports_reach 3 || fail "not three pictures after P and L"
      title_is "Tendrilview, n=1" || fail "title '$(title)' after P and L"
      [ "$(count '^Production done: 0 replaces done, final product has 17825792 letters$')" -eq 3 ] ||
        fail "not three productions of the axiom"
      [ "$(console | grep -c '^1 $')" -eq 2 ] && [ "$(console | grep -c '^1 2 $')" -eq 1 ] ||
        fail "the productions were not for n=1, 2, 1 in this order"
      quit_with_escape
    else
      wait_exit
      [ "$rc" -eq 0 ] || fail "exit code $rc after $how, expected 0"
    fi
    wait "$reader" || true
    if [ "$how" != keys ]; then
      [ "$(wc -c <"$work/raw")" -ge $((16 << 20)) ] ||
        fail "only $(wc -c <"$work/raw") bytes came: the buffer was not full at $how"
      console | sed -n 5p | awk '{ for (i = 1; i <= NF; i++) if ($i != i) exit 1 }' ||
        fail "an iteration number was lost or came twice"
    fi
  done
}

# Standard output on a pipe whose reader goes away (`tendrilview plant.lsys | head -c 20`):
# the reports after that are dropped, the window works on, P is answered again and
# again, and Esc ends the program with exit code 0.
case_broken_pipe() {
  mkfifo "$work/pipe"
  head -c 20 <"$work/pipe" >"$work/head" &
  local head=$!
  launch_into "$work/pipe" abop-1.24a.lsys
  wait "$head"
  [ "$(cat "$work/head")" = "Finished parsing fil" ] || fail "the pipe's reader got '$(cat "$work/head")'"
  local n
  for n in 6 7; do
    xdotool key p
    wait_until 10 title_is "Tendrilview, n=$n" || fail "title '$(title)' after P"
  done
  sleep 1  # the reports of n=7 go to the broken pipe
  running || fail "the program ended when its output's reader went away"
  quit_with_escape
}

# The window answers while the description is read: from a FIFO whose writer stays
# open, having sent only part of it; from /dev/zero, an endless token; from a file of a
# two million rules (39 MB). Esc or the close box, released while it reads, close the window
# within a second, the program ends with exit code 0, and the reading was abandoned: no
# summary.
case_answers_while_reading() {
  awk 'BEGIN { for (i = 0; i < 2000000; i++) printf "A%dB->F%dF\n", i, i }' >rules.lsys
  mkfifo "$work/description"
  exec 7<>"$work/description"
  printf 'n=2 F F->FF ' >&7  # and no end
  local entry source how
  for entry in "$work/description:escape" /dev/zero:close rules.lsys:escape; do
    source=${entry%:*}
    how=${entry##*:}
    launch "$source"
    await_focus
    close_within "$how" 1
    wait_exit
    [ "$rc" -eq 0 ] || fail "exit code $rc after $how while reading $source, expected 0"
    console_has 'Finished parsing' && fail "the reading of $source was finished, not abandoned"
    true
  done
  exec 7<&-
}

# The idle redraw comes about 60 times a second, whatever the driver says of its swap
# (under Wine a swap interval of 1 is accepted and does nothing): a word with an
# unmatched "]" prints "Stack error !" at every redraw, and over 3 s they come 20 to 120
# times a second. The window answers Esc at once all the same.
case_redraw_pace() {
  echo 'F]' >stack-error.lsys
  launch stack-error.lsys
  await_focus
  sleep 1
  local first last rate
  first=$(occurrences 'Stack error !')
  sleep 3
  last=$(occurrences 'Stack error !')
  rate=$(((last - first) / 3))
  [ "$rate" -ge 20 ] && [ "$rate" -le 120 ] || fail "$rate redraws a second, expected about 60"
  close_within escape 1
  wait_exit
  [ "$rc" -eq 0 ] || fail "exit code $rc after Esc, expected 0"
}

# A path of CJK and Greek letters, in a folder of such letters too, outside any ANSI code
# page: the file is read, as the console's transcript shows.
case_unicode_path() {
  mkdir "植物-φυτά"
  cp abop-1.24a.lsys "植物-φυτά/日本語-Ελληνικά.lsys"
  open_window "植物-φυτά/日本語-Ελληνικά.lsys"
  quit_with_escape
  expect_console abop-1.24a.txt
}

# P at the largest n keeps it there rather than wrapping to 0; the title and the redo
# come as for any P. The rule's successor is long enough that the second iteration
# would cross any word ceiling, so each production stops after one iteration.
case_largest_n() {
  printf 'n=4294967295 F F->%s\n' "$(head -c 66000 /dev/zero | tr '\0' F)" >largest-n.lsys
  open_window largest-n.lsys
  xdotool key p
  wait_until 30 reports_reach 2 || fail "no report after P"
  title_is "Tendrilview, n=4294967295" || fail "title '$(title)' after P at the largest n"
  [ "$(count '^Production stopped at iteration 2: ')" -eq 2 ] ||
    fail "the production after P did not run to its second iteration"
  [ "$(count '^Rendering done: 66000 lines were drawn$')" -eq 2 ] || fail "not 66000 lines twice"
  quit_with_escape
}

# A picture far from the start point: a unit square 2^21 units above it, where float
# vertices through OpenGL's float transform would spread it over the whole window. It is
# framed and drawn as the same square at the start point: inside the 27-pixel margin.
case_far_picture() {
  local seen
  printf 'n=21\nfF+F+F+F\nf->ff\n' >far-square.lsys
  open_window far-square.lsys
  console_has "Rendering done: 4 lines were drawn" || fail "wrong line count: $(console)"
  seen=$(picture)
  fills_frame square "$seen"
  [ "$(field ink "$seen")" -ge 1500 ] || fail "too little ink for the square's sides: $seen"
  quit_with_escape
}

# escape_as_rewriting_starts FILE: Esc released once the rewriting of FILE has begun;
# the program ends within 3 s (under Wine, within its slower end) with exit code 0, as
# in case_escape_while_busy: a sanitized build's leak check at exit reads the whole heap,
# which here holds the huge description (an unmended build takes 7 s or more).
escape_as_rewriting_starts() {
  launch "$1"
  wait_until 60 find_window || fail "no window appeared"
  if [ "$platform" = windows ]; then xdotool windowfocus --sync "$wid"; fi
  wait_until 10 has_focus || fail "the window did not get the keyboard focus"
  wait_until 60 eval 'tail -c 256 "$work/raw" | grep -q -a "^1 "' || fail "the rewriting did not start"
  escape_ends_within 3 "Esc"
}

# One rule whose successor is 600 million letters, at n=1: the rule's output is copied
# and written in pieces that ask whether to go on, so Esc acts at once.
case_escape_huge_successor() {
  { printf 'n=1 F F->'; head -c 600000000 /dev/zero | tr '\0' F; printf '\n'; } >huge-successor.lsys
  escape_as_rewriting_starts huge-successor.lsys
  [ "$(tail -c 4096 "$work/raw" | grep -a -c '^Rendering done')" -eq 0 ] ||
    fail "the work was finished, not abandoned: too small a test"
}

# 17,000 rules of 10,000-byte match texts that share their first 16 bytes, over an
# axiom of 200,000 A's: a description of 170 MB, whose automaton for long texts would
# take more than the description ceiling leaves. The long texts are then found by their
# hashes, in time linear in the word, asking as it goes; Esc acts at once.
case_escape_long_match_texts() {
  awk 'BEGIN {
    printf "n=1\n"
    for (r = 0; r < 17000; ++r) {
      body = sprintf("B%05d", r)
      while (length(body) < 9984) body = body body
      printf "AAAAAAAAAAAAAAAA%s->X\n", substr(body, 1, 9984)
    }
    axiom = "A"
    while (length(axiom) < 200000) axiom = axiom axiom
    print substr(axiom, 1, 200000)
  }' >long-match-texts.lsys
  escape_as_rewriting_starts long-match-texts.lsys
}

"case_$case_name"
echo "ok ($case_name, $platform)"
