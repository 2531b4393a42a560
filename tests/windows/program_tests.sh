#!/usr/bin/env bash
# The program's end-to-end tests (the GoogleTest cases in tests/, which start
# the built program and look at its files and output) run against the Windows
# build's histrel.exe under Wine. The test program itself is the Linux build's
# (build/ by default): TestSupport starts histrel.exe through the build's
# wine-run and reads its CR LF output as LF lines; the cases that cannot apply
# to the Windows build skip themselves with their reason.
# Usage: tests/windows/program_tests.sh WINDOWS_BUILD [LINUX_BUILD]
set -euo pipefail
cd "$(dirname "$0")/../.."
windows="$(cd "$1" && pwd)"
linux="${2:-build}"

if [ ! -x "$linux/histrel_tests" ]; then
  cmake -S . -B "$linux" >/dev/null
fi
cmake --build "$linux" -j2 --target histrel_tests

suites="$(grep -ho '^TEST\(_F\|_P\)\?([A-Za-z]*' tests/*_test.cpp | sed 's/.*(//' | sort -u)"
filter="$(printf '%s.*\n' $suites | paste -sd:)"
export HISTREL_TEST_PROGRAM="$windows/histrel.exe"
export HISTREL_TEST_LAUNCHER="$windows/wine-run"
log="$windows/program-tests.log"
status=0
"$linux/histrel_tests" --gtest_filter="$filter" >"$log" 2>&1 || status=$?
# One line per case that did not pass, the reasons of the skipped ones with
# their counts, and the totals.
grep -E '^\[  FAILED  \] .*\(' "$log" || true
echo "Skipped under Wine, by reason:"
grep -o 'under Wine: .*' "$log" | sed 's/^under Wine: //' | sort | uniq -c || true
passed="$(grep -c '^\[       OK \]' "$log" || true)"
skipped="$(grep -c '^\[  SKIPPED \] .*(' "$log" || true)"
failed="$(grep -c '^\[  FAILED  \] .*(' "$log" || true)"
echo "histrel.exe end to end: $passed passed, $skipped skipped, $failed failed (log: $log)"
exit "$status"
