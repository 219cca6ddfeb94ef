#!/usr/bin/env bash
# Builds the program and its tests with AddressSanitizer and UndefinedBehaviorSanitizer
# (gcc) in build/rel-sanitize and runs every test except the long soaks, display tests
# included: any report of either sanitizer, leaks included, ends the process and fails its test.
# Usage: tests/sanitize.sh
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/rel-sanitize

flags="-g -O1 -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=all"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS="$flags" \
      -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="" -DTENDRILVIEW_BENCH=OFF -DTENDRILVIEW_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)"

# Mesa unloads its OpenGL driver when the display closes, and the driver's static
# pointers to its own allocations go with it; LeakSanitizer would then report those
# allocations at exit. A dlclose that keeps every library loaded until exit leaves the
# pointers in place. (verify_asan_link_order: this library comes before the runtime.)
shim="$PWD/$build/keep_libraries_loaded.so"
printf 'int dlclose(void* handle) { (void)handle; return 0; }\n' | gcc -shared -fPIC -x c -o "$shim" -
export LD_PRELOAD="$shim"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:verify_asan_link_order=0:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" -LE soak
