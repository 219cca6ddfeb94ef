#!/usr/bin/env bash
# Makes examples/gallery/NAME.png, a screenshot of the real program's window, for every
# examples/NAME.lsys: each file is opened in a private Xvfb server, and the window is
# captured once its first picture has been drawn and has stopped changing.
# Usage: examples/gallery.sh [BUILD_DIR]   (default build/linux, a build with the tests)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build/linux}" && pwd)
program=$build/app/tendrilview
probe=$build/tests/e2e/x11_probe

if [ -z "${TENDRILVIEW_GALLERY_XVFB:-}" ]; then
  TENDRILVIEW_GALLERY_XVFB=1 exec "$here/../tests/with-xvfb.sh" "$0" "$build"
fi

mkdir -p "$here/gallery"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for file in "$here"/*.lsys; do
  name=$(basename "$file" .lsys)
  "$program" "$file" >"$work/out" &
  pid=$!
  window=""
  for _ in $(seq 200); do
    window=$(xdotool search --name '^Tendrilview$' 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && grep -q '^Rendering done' "$work/out" && break
    sleep 0.1
  done
  # Two equal summaries in a row: the picture on the screen is the finished one.
  last=""
  for _ in $(seq 100); do
    now=$("$probe" picture "$window")
    [ "$now" = "$last" ] && break
    last=$now
    sleep 0.2
  done
  "$probe" png "$window" "$here/gallery/$name.png"
  "$probe" close "$window"
  wait "$pid"
  echo "$name: $(grep '^Rendering done' "$work/out")"
done
