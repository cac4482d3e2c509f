#!/usr/bin/env bash
# Where the build and test time goes, from clean build directories:
#   bash bench/buildtime.sh              the README's set-up build (the tool alone), then the
#                                        plain test build and its suite
#   bash bench/buildtime.sh --sanitize   also the sanitizer build and its suite
#   bash bench/buildtime.sh --no-run     builds only, no suite
#   bash bench/buildtime.sh --setup      the set-up build alone
# Prints wall time and CPU time (user + sys, of every process the step started)
# for each step, the machine's load before and after, the ten slowest
# translation units by CPU time and the ten slowest tests of each suite.
# Compiler caches are disabled, so every unit is compiled from scratch.
set -euo pipefail

# Compiler launcher mode: runs one compile and appends its CPU seconds and its
# object file to the log.
if [[ ${1:-} == --compile ]]; then
  log=$2; label=$3; shift 3
  out=?; prev=
  for a in "$@"; do [[ $prev == -o ]] && out=$a; prev=$a; done
  rc=0; "$@" || rc=$?
  # times runs in this shell (a forked one would count no children).
  times >"$log.$$"
  tail -1 "$log.$$" | awk -v b="$label" -v o="${out#CMakeFiles/}" '{
    for (i = 1; i <= 2; ++i) { split($i, p, "m"); sub("s", "", p[2]); t += p[1] * 60 + p[2] }
    printf "%.2f %s %s\n", t, b, o }' >>"$log"
  rm -f "$log.$$"
  exit $rc
fi

sanitize=0; run=1; tests=1
for a in "$@"; do
  case $a in
    --sanitize) sanitize=1 ;;
    --no-run) run=0 ;;
    --setup) tests=0 ;;
    *) echo "usage: bash bench/buildtime.sh [--sanitize] [--no-run] [--setup]" >&2; exit 2 ;;
  esac
done
cd "$(dirname "$0")/.."
export CCACHE_DISABLE=1
jobs=$(nproc 2>/dev/null || echo 2)
root=$PWD/build/buildtime
rm -rf "$root"; mkdir -p "$root"
units=$root/units.log; : >"$units"
summary=$root/summary.txt; : >"$summary"
self=$PWD/bench/buildtime.sh

# cpu_now <var>: sets var to the CPU seconds of this shell's children so far. times
# runs in this shell: a forked one would count no children.
cpu_now() {
  times >"$root/.times"
  printf -v "$1" '%s' "$(tail -1 "$root/.times" | awk '{
    for (i = 1; i <= 2; ++i) { split($i, p, "m"); sub("s", "", p[2]); t += p[1] * 60 + p[2] } printf "%.2f", t }')"
}
load() { cut -d' ' -f1-3 /proc/loadavg; }

# step [--may-fail] <name> <command...>: runs the command with its output in the
# step's log and prints its wall and CPU time; stops the script if it fails,
# unless it may (a suite with failing tests still has its timings).
step() {
  local may_fail=0; [[ $1 == --may-fail ]] && { may_fail=1; shift; }
  local name=$1; shift
  local t0 c0 t1 c1 rc=0
  t0=$(date +%s.%N); cpu_now c0
  "$@" >"$root/$name.log" 2>&1 || rc=$?
  t1=$(date +%s.%N); cpu_now c1
  awk -v n="$name" -v w="$t1 - $t0" -v c="$c1 - $c0" -v r=$rc -v l="$(load)" 'BEGIN {
    split(w, a, " - "); split(c, b, " - ")
    printf "%-20s wall %7.1f s   cpu %7.1f s   load %s%s\n", n, a[1] - a[2], b[1] - b[2], l, (r ? "   FAILED (exit " r ")" : "") }' | tee -a "$summary"
  [ $rc -eq 0 ] || [ $may_fail -eq 1 ] || { echo "see $root/$name.log" >&2; tail -20 "$root/$name.log" >&2; exit 1; }
}

# suite <dir> <name>: runs the suite of a build and lists its ten slowest tests.
suite() {
  local dir=$1 name=$2
  step --may-fail "$name" ctest --test-dir "$dir" --no-tests=error -j "$jobs"
  grep -Eo '[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$root/$name.log" | tee -a "$summary"
  echo "ten slowest tests ($name, seconds):" | tee -a "$summary"
  grep -E 'Test +#[0-9]+: ' "$root/$name.log" | sed -E 's/.*Test +#[0-9]+: ([^ ]+) .* ([0-9.]+) sec$/\2 \1/' |
    sort -rn | head -10 | awk '{ printf "  %8.2f  %s\n", $1, $2 }' | tee -a "$summary"
}

# Configured as scripts/test.sh configures its two builds.
configure_test() { # <dir> <label> <extra cmake args...>
  local dir=$1 label=$2; shift 2
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_TESTS=ON -DCMAKE_CXX_FLAGS=-Werror \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
        "-DCMAKE_CXX_COMPILER_LAUNCHER=bash;$self;--compile;$units;$label" "$@"
}

echo "load at start: $(load), $jobs jobs" | tee -a "$summary"

# The README's set-up build: the tool alone, Release, no tests. Its units are
# timed too.
step setup-configure cmake -S . -B "$root/setup" -G Ninja -DQM_TESTS=OFF \
  "-DCMAKE_CXX_COMPILER_LAUNCHER=bash;$self;--compile;$units;setup"
step setup-build cmake --build "$root/setup" -j "$jobs" --target quillmap

# The plain test build: its tool first, then the rest (tests, builder, samples).
if [ $tests -eq 1 ]; then
  step test-configure configure_test "$root/test" test
  step test-build-tool cmake --build "$root/test" -j "$jobs" --target quillmap
  step test-build-rest cmake --build "$root/test" -j "$jobs"
  [ $run -eq 0 ] || suite "$root/test" test-suite
fi

if [ $tests -eq 1 ] && [ $sanitize -eq 1 ]; then
  step sanitize-configure configure_test "$root/sanitize" sanitize -DQM_SANITIZE=ON
  step sanitize-build cmake --build "$root/sanitize" -j "$jobs"
  [ $run -eq 0 ] || ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    suite "$root/sanitize" sanitize-suite
fi

echo "ten slowest translation units (CPU seconds, build, object):" | tee -a "$summary"
sort -rn "$units" | head -10 | awk '{ printf "  %6.2f  %-8s %s\n", $1, $2, $3 }' | tee -a "$summary"
awk '{ t[$2] += $1; n[$2]++ } END { for (b in t) printf "all units of %s: %d, %.1f s of CPU\n", b, n[b], t[b] }' "$units" | tee -a "$summary"
echo "load at end: $(load); logs in $root" | tee -a "$summary"
