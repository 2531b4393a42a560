#!/usr/bin/env bash
# Installs what the build and the tests need when it is missing, builds
# histrel and its tests in build/ and runs every test.
# Usage: ./test.sh [cmake option...]   (for instance -DHISTREL_WERROR=ON)
# The sanitizer builds and the fuzzers take longer; .ci/run runs them.
set -euo pipefail
cd "$(dirname "$0")"
# git: the tests of --diff apply its output; mandoc: the man page test;
# strace: the interruption tests kill or fail each step of a rewrite with it.
tools/need-packages cmake make g++ libncurses-dev libgtest-dev tmux git mandoc strace
echo "Building histrel and its tests in build/ (the first time about ten minutes on two cores)"
# With the tests, which the README's Install section may have turned off in build/.
cmake -S . -B build -DHISTREL_TESTS=ON "$@" >/dev/null
cmake --build build -j2
# A skipped test passes; the reasons follow the summary, whatever it says.
status=0
ctest --test-dir build -j2 --output-on-failure --no-tests=error || status=$?
tools/skip-reasons build
exit "$status"
