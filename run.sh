#!/usr/bin/env bash
# Installs what Tendrilview needs to build on Debian, builds it and opens a description
# file: the one named, or an example.
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake make g++ libgl-dev libopengl-dev libx11-dev libgl1-mesa-dri)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build/run -DCMAKE_BUILD_TYPE=Release -DTENDRILVIEW_TESTS=OFF -DTENDRILVIEW_BENCH=OFF >/dev/null
cmake --build build/run -j"$(nproc)" >/dev/null
exec build/run/app/tendrilview "${1:-examples/abop-1.24a.lsys}"
