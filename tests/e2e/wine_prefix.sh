#!/usr/bin/env bash
# The Wine prefix of one test run: `setup STATE` makes it in a new temporary folder and
# boots it (the slow first start, done once), writing its path into the file STATE;
# `cleanup STATE` stops its server and removes it.
set -euo pipefail
action=$1
state=$2
export WINEDEBUG=-all
export LANG=C.UTF-8 LC_ALL=C.UTF-8  # the prefix is made in the locale the cases run in

case $action in
  setup)
    if [ -f "$state" ]; then  # left by a run that was interrupted
      old=$(cat "$state")
      WINEPREFIX=$old wineserver -k 2>/dev/null || true
      rm -rf "$old"
    fi
    prefix=$(mktemp -d "${TMPDIR:-/tmp}/tendrilview-wine.XXXXXX")
    echo "$prefix" >"$state"
    export WINEPREFIX=$prefix
    # No Mono or Gecko: the program needs neither, and installing them would ask.
    export WINEDLLOVERRIDES="mscoree=;mshtml="
    start=$(date +%s)
    wine wineboot --init >/dev/null 2>&1
    # A crash should end the program with an error code, not wait in the debugger.
    wine reg delete "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug" /v Debugger /f \
      >/dev/null 2>&1 || true
    wineserver -w
    echo "Wine prefix $prefix booted in $(( $(date +%s) - start )) s"
    ;;
  cleanup)
    [ -f "$state" ] || exit 0
    prefix=$(cat "$state")
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    rm -rf "$prefix" "$state"
    ;;
  *)
    echo "usage: wine_prefix.sh setup|cleanup STATE" >&2
    exit 2
    ;;
esac
