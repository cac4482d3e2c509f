#!/usr/bin/env bash
# Builds the tool and the test suite twice (plain with warnings as errors, and
# with AddressSanitizer + UndefinedBehaviorSanitizer) and runs every test. Ends
# with the time it took and one line of counts: "N passed, M failed" (and
# ", K skipped" when tests were skipped, each with its reason in the log above).
set -euo pipefail

# The line of counts of CTest's logs, from its line per test: a test that did not
# pass, for whatever reason (failed, timed out, crashed, not run), has failed.
#   bash scripts/test.sh --count LOG...
count() {
  awk '/ Test +#[0-9]+: / { if (/\*\*\*Skipped/) s++; else if (/ Passed /) p++; else f++ }
       END { printf "%d passed, %d failed", p, f; if (s) printf ", %d skipped", s; printf "\n" }' "$@"
}
if [[ ${1:-} == --count ]]; then shift; count "$@"; exit; fi

cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
started=$(date +%s)
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

# The counts of every suite run so far, from CTest's line per test.
summary() {
  local elapsed=$(($(date +%s) - started))
  echo
  echo "scripts/test.sh took $((elapsed / 60)) min $((elapsed % 60)) s"
  [ -z "$unfinished" ] || echo "$unfinished did not build; its tests did not run"
  cat "$logs"/*.log 2>/dev/null | count
}

# Both builds are optimized (-O2; the sanitizer build's instrumented code -O1,
# see CMakeLists.txt) with line tables only for debug information (-g1): enough
# for the file and line of every frame a sanitizer reports, at about two thirds
# of the compile time of full debug information. Called where set -e does not
# stop it, so each step returns by itself.
run_suite() { # <build dir> <extra cmake args...>
  local dir=$1; shift
  unfinished=$dir
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_TESTS=ON \
        -DCMAKE_CXX_FLAGS="-Werror" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" "$@" >/dev/null || return
  cmake --build "$dir" -j "$jobs" || return
  unfinished=
  ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$jobs" | tee "$logs/$(basename "$dir").log"
}

status=0 unfinished=
run_suite build/test || status=$?
if [ $status -eq 0 ]; then
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_suite build/sanitize -DQM_SANITIZE=ON || status=$?
fi
summary
exit $status
