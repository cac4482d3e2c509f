#!/usr/bin/env bash
# The build and test scripts' own parts: the line of counts that ends
# scripts/test.sh, read from CTest's lines of every outcome, and the compiler
# launcher of bench/buildtime.sh, which must time a compile without changing
# what it does (its exit status above all: a failed compile must fail the build).
#   bash tests/scripts_test.sh <source dir>
set -uo pipefail
src=${1:?usage: scripts_test.sh <source dir>}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
expect() { # <what> <expected> <actual>
  if [ "$2" != "$3" ]; then
    echo "FAIL: $1: expected [$2], got [$3]"
    failures=$((failures + 1))
  fi
}

passed='  1/9 Test   #1: A.Passes ........................   Passed    0.02 sec'
skipped='  2/9 Test   #2: A.Skips .........................***Skipped   0.00 sec'
failed='  3/9 Test   #3: A.Fails .........................***Failed    0.10 sec'
timeout='  4/9 Test   #4: A.Hangs .........................***Timeout 900.01 sec'
crashed='  5/9 Test   #5: A.Crashes .......................***Exception: SegFault  0.20 sec'
notrun='  6/9 Test   #6: A.IsMissing .....................***Not Run   0.00 sec'
named='  7/9 Test   #7: A.PassedFailedSkipped ...........   Passed    0.02 sec'
started='        Start   8: A.Starts'
summary='100% tests passed, 0 tests failed out of 9'

# One row per case: the log lines, then the line of counts they give.
rows=(
  "$passed"$'\n'"$passed"                                  "2 passed, 0 failed"
  "$passed"$'\n'"$skipped"                                 "1 passed, 0 failed, 1 skipped"
  "$failed"                                                "0 passed, 1 failed"
  "$timeout"$'\n'"$crashed"$'\n'"$notrun"                  "0 passed, 3 failed"
  "$named"$'\n'"$started"$'\n'"$summary"                   "1 passed, 0 failed"
  "$started"                                               "0 passed, 0 failed"
)
for ((i = 0; i < ${#rows[@]}; i += 2)); do
  printf '%s\n' "${rows[i]}" >"$work/ctest.log"
  expect "counts of row $((i / 2 + 1))" "${rows[i + 1]}" "$(bash "$src/scripts/test.sh" --count "$work/ctest.log")"
done
# Two suites' logs add up.
printf '%s\n' "$passed" "$skipped" >"$work/a.log"
printf '%s\n' "$failed" "$passed" >"$work/b.log"
expect "counts of two logs" "2 passed, 1 failed, 1 skipped" "$(bash "$src/scripts/test.sh" --count "$work/a.log" "$work/b.log")"

# The launcher: the command's exit status and output file as they are, one
# line of CPU seconds, build label and object per compile.
launch() { bash "$src/bench/buildtime.sh" --compile "$work/units.log" test "$@"; }
: >"$work/units.log"
launch sh -c 'echo made >"$2"' sh -o "$work/x.o"
expect "a compile's status" 0 $?
expect "a compile's output" made "$(cat "$work/x.o")"
launch sh -c 'exit 3' sh -o CMakeFiles/y.o
expect "a failed compile's status" 3 $?
launch sh -c 'i=0; while [ $i -lt 200000 ]; do i=$((i + 1)); done' sh -o CMakeFiles/z.o
expect "lines logged" 3 "$(wc -l <"$work/units.log")"
expect "line of a failed compile" "test y.o" "$(sed -n 2p "$work/units.log" | cut -d' ' -f2-)"
expect "seconds are a number" 3 "$(grep -cE '^[0-9]+\.[0-9]{2} test ' "$work/units.log")"
expect "a busy compile takes time" 1 "$(awk 'NR == 3 { print ($1 > 0) }' "$work/units.log")"

if [ $failures -ne 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "scripts: every check passed"
