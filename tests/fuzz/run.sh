#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for a bounded time, both at once (one per
# core). Fails on any finding; the input that triggered it is kept in build/rel-fuzz/findings.
# Usage: tests/fuzz/run.sh [SECONDS_PER_TARGET]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
build=build/rel-fuzz
targets=(reader_fuzz pipeline_fuzz)

flags="-g -O1 -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all"
cmake -S tests/fuzz -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="" \
      -DTENDRILVIEW_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$build/findings"
mkdir -p "$build/findings"

pids=()
for target in "${targets[@]}"; do
  mkdir -p "$work/$target"
  cp examples/*.lsys "$work/$target/" 2>/dev/null || true
  # New inputs go to a scratch corpus, which starts with the examples; the committed
  # seeds are only read.
  ASAN_OPTIONS=detect_leaks=1 "$build/$target" "$work/$target" tests/fuzz/corpus \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
      -dict=tests/fuzz/lsys.dict -print_final_stats=1 \
      -artifact_prefix="$build/findings/$target-" >"$build/$target.log" 2>&1 &
  pids+=($!)
done

failed=0
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  if wait "${pids[$i]}"; then status=0; else status=$?; fi
  # libFuzzer ends without the destructors that remove the target's scratch files.
  rm -f "/dev/shm/tendrilview-fuzz-${pids[$i]}."* "/tmp/tendrilview-fuzz-${pids[$i]}."*
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/$target.log" | tail -n 1)
  coverage=$(grep -o 'cov: [0-9]*' "$build/$target.log" | tail -n 1 || true)
  echo "$target: ${runs:-?} runs within ${seconds} s, ${coverage:-cov: ?}, exit status $status"
  if [ "$status" -ne 0 ]; then
    failed=1
    echo "--- $target found a fault (log $build/$target.log):"
    grep -v '^#[0-9]' "$build/$target.log" | tail -n 60
    ls "$build/findings/$target-"* 2>/dev/null || true
  fi
done
exit "$failed"
