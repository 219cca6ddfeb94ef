#!/usr/bin/env bash
# Builds the program and its tests with AddressSanitizer and UndefinedBehaviorSanitizer
# (gcc) in build/rel-sanitize and runs every test except the long soaks, display tests
# included: any report of either sanitizer ends the process and fails its test.
# Usage: tests/sanitize.sh
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/rel-sanitize

flags="-g -O1 -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=all"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS="$flags" \
      -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="" -DTENDRILVIEW_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"

# Leaks inside the system's OpenGL and X libraries are theirs, not the program's.
suppressions="$PWD/$build/lsan.supp"
printf '%s\n' 'leak:libGLX_mesa.so' 'leak:libgallium' 'leak:libLLVM' 'leak:libX11.so' \
              'leak:libxcb.so' 'leak:libdrm.so' 'leak:libGLdispatch.so' 'leak:libEGL_mesa.so' \
              'leak:swrast_dri.so' >"$suppressions"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1"
export LSAN_OPTIONS="suppressions=$suppressions:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" -LE soak
