#!/usr/bin/env bash
# Makes examples/gallery/NAME.png, a screenshot of the real program's window, for every
# examples/NAME.lsys: each file is opened in a private Xvfb server, and the window is
# captured once its first picture has been drawn and has stopped changing. The program
# is driven with the end-to-end tests' helpers (tests/e2e/driver.sh).
# Usage: examples/gallery.sh [BUILD_DIR]   (default build/linux, a build with the tests)
set -euo pipefail
# (Not "here" or "examples": driver.sh sets those for itself.)
folder=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$folder/../build/linux}" && pwd)
program=$build/app/tendrilview
probe=$build/tests/e2e/x11_probe

if [ -z "${TENDRILVIEW_GALLERY_XVFB:-}" ]; then
  TENDRILVIEW_GALLERY_XVFB=1 exec "$folder/../tests/with-xvfb.sh" "$0" "$build"
fi

source "$folder/../tests/e2e/driver.sh"
mkdir -p "$folder/gallery"
for file in "$folder"/*.lsys; do
  name=$(basename "$file" .lsys)
  case_name=$name
  launch "$file"
  expect_within 20 "a window" find_window
  expect_within 20 "a line-count report" reports_reach 1
  picture >/dev/null  # two equal summaries in a row: the picture on the screen is the finished one
  "$probe" png "$wid" "$folder/gallery/$name.png"
  "$probe" close "$wid"
  wait_exit
  [ "$rc" -eq 0 ] || fail "exit code $rc after the close box"
  echo "$name: $(grep '^Rendering done' "$work/raw")"
done
