# Shared steps of the end-to-end reliability tests, sourced by each test script: start
# the real program on a file, find its window, press keys through XTEST as a person
# would, read its console and memory, and end it. Needs DISPLAY (tests/with-xvfb.sh).
# The test script sets `program` first; every failure ends the test with a message.

work=$(mktemp -d)
console="$work/console"
errors="$work/errors"
pid=""
window=""

cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The end of the console, shown readable (NUL and other control bytes escaped).
show_console() {
  echo "--- last lines of the console:" >&2
  tail -c 2000 "$console" 2>/dev/null | cat -v | tail -n 20 >&2
  if [ -s "$errors" ]; then
    echo "--- standard error:" >&2
    tail -n 20 "$errors" | cat -v >&2
  fi
}

fail() {
  echo "FAIL: $*" >&2
  show_console
  exit 1
}

# start FILE: runs the program on FILE in the background.
start() {
  "$program" "$@" >"$console" 2>"$errors" &
  pid=$!
}

alive() { kill -0 "$pid" 2>/dev/null; }

# wait_for_text TEXT SECONDS: until the last 64 KB of the console hold TEXT.
wait_for_text() {
  local text=$1 deadline=$((SECONDS + $2))
  until tail -c 65536 "$console" | grep -q -a -F -- "$text"; do
    alive || fail "the program ended (or crashed) before printing '$text'"
    [ "$SECONDS" -lt "$deadline" ] || fail "no '$text' on the console after $2 s"
    sleep 0.1
  done
}

# count TEXT: how often TEXT stands in the console.
count() { { grep -a -o -F -- "$1" "$console" || true; } | wc -l; }

# wait_for_count TEXT N SECONDS: until TEXT stands N times in the console.
wait_for_count() {
  local deadline=$((SECONDS + $3))
  until [ "$(count "$1")" -ge "$2" ]; do
    alive || fail "the program ended (or crashed) before printing '$1' $2 times"
    [ "$SECONDS" -lt "$deadline" ] || fail "'$1' only $(count "$1") times, not $2, after $3 s"
    sleep 0.1
  done
}

# wait_for_window SECONDS: sets `window` to the program's window.
wait_for_window() {
  local deadline=$((SECONDS + $1))
  until window=$(xdotool search --name '^Tendrilview' 2>/dev/null | head -n 1) && [ -n "$window" ]; do
    alive || fail "the program ended (or crashed) before its window appeared"
    [ "$SECONDS" -lt "$deadline" ] || fail "no window after $1 s"
    sleep 0.1
  done
  xdotool windowfocus "$window" 2>/dev/null || true
}

# wait_for_title TITLE SECONDS
wait_for_title() {
  local deadline=$((SECONDS + $2)) title
  until title=$(xdotool getwindowname "$window" 2>/dev/null) && [ "$title" = "$1" ]; do
    alive || fail "the program ended (or crashed) while waiting for the title '$1'"
    [ "$SECONDS" -lt "$deadline" ] || fail "the title is '$title', not '$1', after $2 s"
    sleep 0.1
  done
}

# press KEY...: presses and releases each key in turn, as typed on the keyboard.
press() { xdotool key --delay 30 "$@"; }

# pixels: the window's pixel classes, "... white=N red=N ink=N other=N ...".
pixels() { "$x11_probe" picture "$window"; }

# pixel CLASS: one class of the last `pixels` call, e.g. $(pixel ink "$counts").
pixel() { sed -n "s/.*$1=\([0-9]*\).*/\1/p" <<<"$2"; }

# memory_kb FIELD: a field of /proc/PID/status in kB, VmRSS or VmHWM.
memory_kb() { awk -v field="$1:" '$1 == field { print $2 }' "/proc/$pid/status"; }

# quit SECONDS: releases Esc and waits for the end; fails on a hang or an exit code other than 0.
quit() {
  press Escape
  local deadline=$((SECONDS + $1)) status
  while alive; do
    [ "$SECONDS" -lt "$deadline" ] || fail "the program still runs $1 s after Esc"
    sleep 0.1
  done
  if wait "$pid"; then status=0; else status=$?; fi
  pid=""
  [ "$status" -eq 0 ] || fail "exit code $status after Esc, not 0"
}
