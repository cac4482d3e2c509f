#!/usr/bin/env bash
# Builds the tool and the test suite twice (plain with warnings as errors, and
# with AddressSanitizer + UndefinedBehaviorSanitizer) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

run_suite() { # <build dir> <extra cmake args...>
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_TESTS=ON \
        -DCMAKE_CXX_FLAGS="-Werror" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$jobs"
}

run_suite build/test
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build/sanitize -DQM_SANITIZE=ON
