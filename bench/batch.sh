#!/usr/bin/env bash
# Times one run over many small levels against one run per level: 200
# generated levels of all seven kinds, /Info --json and /Water 1, each as 200
# separate runs, as one run with --jobs 1 and as one run with --jobs 2. Prints
# the medians of 5 rounds (the forms take turns) and their ratios to the
# separate runs; "*" marks a ratio that misses its goal (--jobs 1 <= 0.9x,
# --jobs 2 <= 0.5x).
#   bash bench/batch.sh [LEVELS]
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-200}
rounds=5
build=build/bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQM_BENCH=ON -DQM_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target quillmap qm_make_levels >/dev/null
tool=$PWD/$build/tool/quillmap
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/orig" "$work/edit"
"$build/bench/qm_make_levels" --batch "$work/orig" "$count" >/dev/null
cd "$work/edit"
cp ../orig/* .

now() { date +%s%N; }
fresh() { rm -f ./*; cp ../orig/* .; sync; }
# ms of one form of one function: separate | jobs1 | jobs2
timed() { # <form> <function...>
  local form=$1; shift
  local start end
  [[ $1 == /Water ]] && fresh
  start=$(now)
  case $form in
    separate) for f in b*; do "$tool" --json "$f" "$@" >/dev/null || true; done ;;
    jobs1) "$tool" --json -j 1 b* "$@" >/dev/null || true ;;
    jobs2) "$tool" --json -j 2 b* "$@" >/dev/null || true ;;
  esac
  end=$(now)
  echo $(((end - start) / 1000))
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] / 1000 }'; }

printf "%-12s %10s %10s %7s %10s %7s\n" "function" "separate" "--jobs 1" "ratio" "--jobs 2" "ratio"
for fn in "/Info" "/Water 1"; do
  declare -A t=()
  for r in $(seq $rounds); do
    for form in separate jobs1 jobs2; do t[$form]+="$(timed $form $fn) "; done
  done
  s=$(tr ' ' '\n' <<<"${t[separate]}" | grep . | median)
  j1=$(tr ' ' '\n' <<<"${t[jobs1]}" | grep . | median)
  j2=$(tr ' ' '\n' <<<"${t[jobs2]}" | grep . | median)
  awk -v f="$fn" -v s="$s" -v a="$j1" -v b="$j2" -v n="$count" 'BEGIN {
    printf "%-12s %8.1fms %8.1fms %6.2f%s %8.1fms %6.2f%s   (%d levels)\n", f, s, a, a / s, (a / s > 0.9 ? "*" : " "),
           b, b / s, (b / s > 0.5 ? "*" : " "), n }'
  unset t
done
