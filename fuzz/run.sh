#!/usr/bin/env bash
# Builds the fuzzers with clang (libFuzzer, ASan, UBSan) and runs each for a
# while on its seed corpus. Usage: fuzz/run.sh [seconds-per-target] [target...]
# (0 seconds: no time limit). FUZZ_RUNS=N also ends each target after N
# executions, whichever comes first; FUZZ_LOG_PREFIX names the logs
# (<build directory>/<prefix><target>.log, default no prefix). FUZZ_SANITIZERS
# chooses the sanitizers (default address,undefined; "undefined" alone runs a
# campaign faster, in build-fuzz-undefined/, and the merge into the corpus
# then replays every input it kept under ASan). A campaign:
#   FUZZ_RUNS=10000000 FUZZ_LOG_PREFIX=campaign- nice -n 10 fuzz/run.sh 0 walk_fuzzer
# A finding, or a fuzzer that ends with a non-zero status for any other
# reason, stops the run with a non-zero status; a finding leaves its file.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
runs="${FUZZ_RUNS:-0}"
case "$seconds$runs" in
  *[!0-9]*)
    echo "usage: [FUZZ_RUNS=executions] fuzz/run.sh [seconds] [target...]" >&2
    exit 2
    ;;
esac
budget=(-max_total_time="$seconds")
if [ "$runs" -gt 0 ]; then budget+=(-runs="$runs"); fi

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in fuzz/*_fuzzer.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi
sanitizers="${FUZZ_SANITIZERS:-address,undefined}"
build=build-fuzz
if [ "$sanitizers" != address,undefined ]; then build="build-fuzz-${sanitizers//,/-}"; fi
CC=clang CXX=clang++ cmake -S . -B "$build" -DHISTREL_FUZZ=ON -DHISTREL_FUZZ_SANITIZERS="$sanitizers" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
for target in "${targets[@]}"; do
  corpus="fuzz/corpus/${target%_fuzzer}"
  work="build-fuzz/corpus/${target%_fuzzer}"
  mkdir -p "$work" "build-fuzz/findings"
  echo "== $target: ${seconds}s, ${runs} executions (0: no limit)"
  log="$build/${FUZZ_LOG_PREFIX:-}$target.log"
  # Hive and INI texts of a few KB reach everything larger ones do, and
  # each byte more slows every execution.
  max_len=65536
  if [ "$target" = stores_fuzzer ]; then max_len=4096; fi
  # The bytes drive a generator that stops at a few hundred bytes of source.
  if [ "$target" = pascal_diff_fuzzer ]; then max_len=512; fi
  status=0
  "$build/$target" "$work" "$corpus" "${budget[@]}" -max_len="$max_len" \
    -artifact_prefix="build-fuzz/findings/$target-" -print_final_stats=1 >"$log" 2>&1 ||
    status=$?
  grep -E 'stat::number_of_executed_units|ERROR|SUMMARY|Done' "$log" || true
  if [ "$status" -ne 0 ]; then
    # A crash in the fuzzer's own start-up leaves no artifact: the end of the log says why.
    tail -n 30 "$log" >&2
    echo "$target failed with status $status; log: $log, findings: build-fuzz/findings/" >&2
    exit 1
  fi
done
