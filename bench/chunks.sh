#!/usr/bin/env bash
# TR4-family edits against the program as it was before a save kept the packed
# bytes of unchanged chunks (the baseline, built from the commit BASE), in one
# run, as ratios:
#   - a room edit (/Water 1) on a large generated TR4 level of the proportions
#     of real ones (32 pages, 110 rooms: its level data 1.7 MB unpacked beside
#     13 MB of pages, as in a 2.7 MB TRNG title level) and on the real
#     TR4-family levels of ../shared/levels: at most 0.45 x the baseline; the
#     generated level of 400 rooms (6 MB of level data) is shown too, where
#     the level data's own floor is already about 0.6 x the baseline; and at most 1.3 x the floor of such an edit (read the
#     file, inflate the level data chunk, deflate it at level 9, write the file
#     once; with and without fsync, as the program syncs its saves);
#   - /Info on the same levels: no slower than the baseline (ratio <= 1.0);
#   - 200 TR4 levels (copies of the real TR4 level, else generated ones of 24
#     pages) in one run with --jobs 2 /Water 1: at most 0.4 x the baseline.
# Times are medians (5 runs, the commands taking turns, each edit from a fresh
# copy); "*" marks a ratio that misses its goal.
#   bash bench/chunks.sh [BASE]    BASE defaults to 7757d6b
set -euo pipefail
cd "$(dirname "$0")/.."
base=${1:-7757d6b}
runs=5
rounds=3

build=build/bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQM_BENCH=ON -DQM_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target quillmap qm_make_levels qm_floor qm_measure >/dev/null
tool=$PWD/$build/tool/quillmap
bin=$PWD/$build/bench
# The baseline program, built once from BASE into a folder of its own.
old=$PWD/build/bench-base-$base
if [ ! -x "$old/build/tool/quillmap" ]; then
  echo "Building the baseline $base (once) ..." >&2
  rm -rf "$old" && mkdir -p "$old/src"
  git archive "$base" | tar -x -C "$old/src"
  cmake -S "$old/src" -B "$old/build" -DCMAKE_BUILD_TYPE=Release -DQM_TESTS=OFF >/dev/null
  cmake --build "$old/build" -j2 --target quillmap >/dev/null
fi
oldtool=$old/build/tool/quillmap
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "Generating levels in $work ..." >&2
mkdir "$work/large" "$work/rooms"
levels=("$("$bin/qm_make_levels" --tr4 "$work/large" 1 32 110)" "$("$bin/qm_make_levels" --tr4 "$work/rooms" 1 32 400)")
names=("TR4 generated L, 110 rooms" "TR4 generated, 400 rooms")
for f in ../shared/levels/tr4/*.TR4 ../shared/levels/trng/*.tr4 ../shared/levels/tr5/*.TRC; do
  [ -f "$f" ] || continue
  cp "$f" "$work/" && chmod u+w "$work/$(basename "$f")"
  levels+=("$work/$(basename "$f")") && names+=("real ${f#../shared/levels/}")
done

measure() { "$bin/qm_measure" "$runs" "$@" | awk '{ print $1 }' | tr '\n' ' '; }
printf "%-26s %6s | %8s %8s %6s | %8s %6s %8s %6s | %7s %7s %6s\n" "level" "MB" "edit ms" "base" "ratio" \
       "floor" "ratio" "+fsync" "ratio" "Info ms" "base" "ratio"
for i in "${!levels[@]}"; do
  path=${levels[$i]}
  copy=$work/edit_$(basename "$path")
  for t in "$tool" "$oldtool"; do
    cp "$path" "$copy" && chmod u+w "$copy" && "$t" "$copy" /Water 1 | grep -q '^Done' || { echo "/Water failed on $path" >&2; exit 1; }
  done
  # The floor rows apply to the TR4 layout, whose level data is a chunk.
  tr5=0; [[ $path == *.TRC ]] && tr5=1
  floors=()
  [ $tr5 = 1 ] || floors=(-- "$bin/qm_floor" edit "$copy" -- "$bin/qm_floor" edit-fsync "$copy")
  read -r e eo fl fs < <(measure --fresh "$path" "$copy" -- "$tool" "$copy" /Water 1 -- "$oldtool" "$copy" /Water 1 \
                                 "${floors[@]}"; echo)
  read -r n no < <(measure -- "$tool" "$path" /Info -- "$oldtool" "$path" /Info; echo)
  awk -v name="${names[$i]}" -v mb="$(stat -c %s "$path")" -v e="$e" -v eo="$eo" -v fl="${fl:-0}" -v fs="${fs:-0}" \
      -v n="$n" -v no="$no" 'function mark(v, goal) { return sprintf("%.2f%s", v, v > goal ? "*" : " ") }
    BEGIN {
      floor = fl > 0 ? sprintf("%8.1f %6s %8.1f %6s", fl, mark(e / fl, 1.3), fs, mark(e / fs, 1.3)) \
                     : sprintf("%8s %6s %8s %6s", "-", "", "-", "")
      printf "%-26s %6.1f | %8.1f %8.1f %6s | %s | %7.1f %7.1f %6s\n", name, mb / 1048576, e, eo, mark(e / eo, 0.45),
             floor, n, no, mark(n / no, 1.0)
    }'
done

echo
# The batch: 200 copies of the real TR4 level when it is there (the edits of
# many such levels are what the change is for), else 200 generated TR4 levels
# of as many pages.
mkdir "$work/orig" "$work/batch"
real=../shared/levels/tr4/TEST1.TR4
if [ -f "$real" ]; then
  batch="copies of tr4/TEST1.TR4"
  for i in $(seq -w 0 199); do cp "$real" "$work/orig/t$i.tr4"; done
  chmod u+w "$work"/orig/*.tr4
else
  batch="generated, 24 pages, 30 rooms"
  "$bin/qm_make_levels" --tr4 "$work/orig" 200 24 30 >/dev/null
fi
cd "$work/batch"
now() { date +%s%N; }
timed() { # <program>: ms of one run over fresh copies of the 200 levels
  rm -f ./*.tr4 && cp ../orig/*.tr4 . && sync
  local start end
  start=$(now)
  "$1" -q -j 2 ./*.tr4 /Water 1 >/dev/null
  end=$(now)
  echo $(((end - start) / 1000000))
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
new=() base=()
for r in $(seq $rounds); do new+=("$(timed "$tool")") base+=("$(timed "$oldtool")"); done
n=$(printf '%s\n' "${new[@]}" | median) o=$(printf '%s\n' "${base[@]}" | median)
awk -v n="$n" -v o="$o" -v what="$batch" -v mb="$(du -sm ../orig | cut -f1)" 'BEGIN {
  printf "200 TR4 levels (%s, %d MB), --jobs 2 /Water 1: %d ms, baseline %d ms, ratio %.2f%s\n", what, mb, n, o,
         n / o, (n / o > 0.4 ? "*" : "") }'
echo "* misses its goal"
