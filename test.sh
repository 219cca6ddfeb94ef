#!/usr/bin/env bash
# Installs what the tests need on Debian, builds the Linux and the Windows program and
# their packages (build/packages: a .deb and a zip), and runs every test: unit tests,
# end-to-end tests of both programs in Xvfb (the Windows one under Wine) and of the
# installed .deb, the sanitizer build and the fuzzers.
set -euo pipefail
cd "$(dirname "$0")"
jobs=$(nproc)

packages=(cmake make g++ clang libclang-rt-14-dev libgtest-dev libbenchmark-dev
          libgl-dev libopengl-dev libx11-dev libgl1-mesa-dri xvfb xdotool x11-utils
          g++-mingw-w64-x86-64 wine wine64 libpng-dev dpkg-dev file lintian)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

step() { printf '\n== %s\n' "$*"; }

step "Windows build (MinGW-w64)"
cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
      -DCMAKE_BUILD_TYPE=Release -DTENDRILVIEW_WERROR=ON >/dev/null
cmake --build build/windows -j"$jobs"

step "Linux build"
cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=Release -DTENDRILVIEW_WERROR=ON \
      -DTENDRILVIEW_WINDOWS_EXE="$PWD/build/windows/app/tendrilview.exe" >/dev/null
cmake --build build/linux -j"$jobs"

step "Packages: the Debian package and the Windows zip"
cpack -G DEB --config build/linux/CPackConfig.cmake -B build/packages
cpack -G ZIP --config build/windows/CPackConfig.cmake -B build/packages

step "Unit and end-to-end tests"
ctest --test-dir build/linux --output-on-failure -j"$jobs"

step "Sanitizer build: AddressSanitizer and UndefinedBehaviorSanitizer over the tests"
tests/sanitize.sh

step "Fuzzing: each target for 60 seconds"
tests/fuzz/run.sh 60
