#!/usr/bin/env bash
# The Debian package end to end: CPack makes the .deb of this build, its files are
# unpacked into a temporary root (dpkg-deb -x, as dpkg would place them under /), and the
# program from there opens an installed example: the picture appears, and Esc ends the
# program with exit code 0. Its Depends names the run-time libraries, and lintian (where it
# is installed) finds nothing to complain of. Meant to run inside
# tests/with-xvfb.sh.
# Usage: deb_package.sh CPACK_CONFIG X11_PROBE
set -euo pipefail
config=$1 probe=$2
program=""  # set once the package is unpacked
source "$(dirname "$0")/driver.sh"

cpack -G DEB --config "$config" -B "$work/package" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack -G DEB failed"; }
deb=$(find "$work/package" -maxdepth 1 -name 'tendrilview_*.deb' | head -n 1)
[ -n "$deb" ] || fail "cpack made no .deb: $(ls "$work/package")"

# OpenGL (GLVND's libOpenGL and libGLX, or the whole libGL), X11 and Mesa's drivers.
depends=$(dpkg-deb -f "$deb" Depends)
names() { grep -Eq "(^|, )($1)( |,|$)" <<<"$depends"; }
names 'libopengl0|libgl1' || fail "Depends names no OpenGL library: $depends"
names 'libglx0|libgl1' || fail "Depends names no GLX library: $depends"
names libx11-6 || fail "Depends does not name libx11-6: $depends"
names libgl1-mesa-dri || fail "Depends does not name Mesa's drivers: $depends"

# Debian's own checks: no error and no warning (a missing copyright file, changelog or
# manual page, a bogus maintainer address, over-long description lines, ...).
if command -v lintian >/dev/null; then
  lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 ||
    { grep -v 'root privileges' "$work/lintian.log" >&2; fail "lintian finds errors or warnings"; }
fi

root=$work/root
dpkg-deb -x "$deb" "$root"
program=$root/usr/bin/tendrilview
[ -x "$program" ] || fail "no usr/bin/tendrilview in the package"
examples=$root/usr/share/tendrilview/examples
[ -f "$examples/README.md" ] || fail "no examples README in the package"

open_window "$examples/abop-1.24a.lsys"
console | grep -qx 'Rendering done: 3125 lines were drawn' || fail "not the example's 3125 lines"
seen=$(picture)
[ "$(field white "$seen")" -ge 300000 ] && [ "$(field ink "$seen")" -ge 3000 ] &&
  [ "$(field red "$seen")" -ge 6 ] || fail "no picture of the example: $seen"
quit_with_escape
echo "ok (installed package $(basename "$deb"))"
