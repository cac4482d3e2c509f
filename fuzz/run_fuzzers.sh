#!/usr/bin/env bash
# Builds the fuzz targets (clang++, libFuzzer, ASan+UBSan), writes the seed
# corpora and runs every target (or those named) for the given number of seconds.
#   fuzz/run_fuzzers.sh <seconds-per-target> [target...]
# Exits non-zero when a target finds a crash, a leak, a time-out or a fault.
# The inputs that broke a target are kept in $QM_FUZZ_WORK/artifacts; each one
# belongs in tests/regressions/<target>-<name>.bin once its fault is fixed.
# Environment: QM_FUZZ_BUILD (default /tmp/bld-fuzz), QM_FUZZ_SEED_BUILD
# (default /tmp/bld-fuzzseed), QM_FUZZ_WORK (default /tmp/qm-fuzz).
set -euo pipefail

seconds=${1:-}
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ]; then
  echo "usage: $0 <seconds-per-target> [target...]" >&2
  exit 2
fi
if ! command -v clang++ >/dev/null 2>&1; then
  echo "$0: clang++ is not installed; the fuzz targets need it (apt-get install clang)" >&2
  exit 2
fi

src=$(cd "$(dirname "$0")/.." && pwd)
build=${QM_FUZZ_BUILD:-/tmp/bld-fuzz}
seedbuild=${QM_FUZZ_SEED_BUILD:-/tmp/bld-fuzzseed}
work=${QM_FUZZ_WORK:-/tmp/qm-fuzz}
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
targets=(fuzz_load fuzz_roundtrip fuzz_container fuzz_number fuzz_picture)
if [ $# -gt 1 ]; then
  shift
  for target in "$@"; do
    if [[ " ${targets[*]} " != *" $target "* ]]; then
      echo "$0: no fuzz target $target (targets: ${targets[*]})" >&2
      exit 2
    fi
  done
  targets=("$@")
fi

echo "== building the fuzz targets in $build"
# Settings a reused build directory may hold are given explicitly. Debug
# information is line tables only: the file and line of every frame of a
# report, at less compile time than full debug information.
CXX=clang++ cmake -S "$src" -B "$build" "${generator[@]}" -DQM_FUZZ=ON -DQM_TESTS=OFF \
  -DQM_SANITIZE=OFF -DCMAKE_CXX_FLAGS= -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

echo "== building the seed generator in $seedbuild"
env -u CXX cmake -S "$src" -B "$seedbuild" "${generator[@]}" -DQM_FUZZ=ON -DQM_TESTS=OFF \
  -DQM_SANITIZE=OFF -DCMAKE_CXX_FLAGS= -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$seedbuild" -j2 --target make_seeds
rm -rf "$work/seeds"
"$seedbuild/fuzz/make_seeds" "$work/seeds"

# The targets' scratch files, in memory where possible, removed at the end.
scratch=$(mktemp -d -p /dev/shm qm-fuzz.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$scratch"' EXIT

failed=()
for target in "${targets[@]}"; do
  # The picture reader takes a bounded amount of memory whatever the file:
  # one allocation over 16 MiB is a fault there.
  extra=()
  case $target in
    fuzz_container) seeds=container ;;
    fuzz_number) seeds=number ;;
    fuzz_picture) seeds=picture; extra=(-malloc_limit_mb=16) ;;
    *) seeds=level ;;
  esac
  mkdir -p "$work/corpus/$target" "$work/artifacts"
  log="$work/$target.log"
  echo "== $target for ${seconds}s (log: $log)"
  status=0
  TMPDIR=$scratch "$build/fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
    -print_final_stats=1 "${extra[@]}" -artifact_prefix="$work/artifacts/$target-" \
    "$work/corpus/$target" "$work/seeds/$seeds" >"$log" 2>&1 || status=$?
  grep -E '^#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units' "$log" || true
  if [ "$status" -ne 0 ]; then
    echo "!! $target failed (exit $status):"
    grep -E -A12 '^==[0-9]+==ERROR|runtime error|fuzz_[a-z]+: |Test unit written' "$log" | head -n 40 || tail -n 40 "$log"
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzzing FAILED: ${failed[*]}; inputs in $work/artifacts"
  exit 1
fi
echo "fuzzing passed: ${#targets[@]} targets, ${seconds}s each"
