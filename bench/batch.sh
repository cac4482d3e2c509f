#!/usr/bin/env bash
# Times one run over many levels against other ways of editing them.
#
# Generated levels: 200 generated levels of all seven kinds, /Info --json and
# /Water 1, each as 200 separate runs, as one run with --jobs 1 and as one run
# with --jobs 2. Prints the medians of 5 rounds (the forms take turns) and
# their ratios to the separate runs; "*" marks a ratio that misses its goal
# (--jobs 1 <= 0.9x, --jobs 2 <= 0.5x).
#
# Real levels: 200 and 2,000 copies of the real TR1 and TR4 levels of
# ../shared/levels, /Water 1 with --jobs 1 and --jobs 2, beside the build of
# BASE (4740049: one flush per level, built once from the project's history)
# and beside qm_inplace in a loop over the copies (what a tool that edits in
# place does: the changed bytes written over the file, no temporary file, no
# flush). The runs take turns, ROUNDS times; each prints its wall time and
# the CPU time (user + system) it took, and the median wall times give the
# ratios: goals for 200 TR1 copies --jobs 1 <= 0.45x BASE and <= 1.0x in
# place, --jobs 2 <= 0.5x BASE and <= 0.8x in place. The edit is the same
# every time (the levels are wet after a first, untimed edit), so the copies
# are made once; a sync before each run starts it with no writes pending.
#   bash bench/batch.sh [LEVELS] [--only generated|real] [--counts "200 2000"] [--rounds 3] [--base 4740049]
set -euo pipefail
cd "$(dirname "$0")/.."
count=200 only="" counts="200 2000" realRounds=3 base=4740049
while [ $# -gt 0 ]; do
  case $1 in
    --only) only=$2; shift 2 ;;
    --counts) counts=$2; shift 2 ;;
    --rounds) realRounds=$2; shift 2 ;;
    --base) base=$2; shift 2 ;;
    *) count=$1; shift ;;
  esac
done
rounds=5
build=build/bench
launcher=(); command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQM_BENCH=ON -DQM_TESTS=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j2 --target quillmap qm_make_levels qm_inplace >/dev/null
tool=$PWD/$build/tool/quillmap
inplace=$PWD/$build/bench/qm_inplace
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
repo=$PWD
generated() {
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
}

# ---- real levels -------------------------------------------------------------

# The build of BASE, made once into a folder of its own.
baseline() {
  local old=$repo/build/bench-base-$base
  if [ ! -x "$old/build/tool/quillmap" ]; then
    echo "Building the baseline $base (once) ..." >&2
    rm -rf "$old" && mkdir -p "$old/src"
    git -C "$repo" archive "$base" | tar -x -C "$old/src"
    cmake -S "$old/src" -B "$old/build" -DCMAKE_BUILD_TYPE=Release -DQM_TESTS=OFF "${launcher[@]}" >/dev/null
    cmake --build "$old/build" -j2 --target quillmap >/dev/null
  fi
  echo "$old/build/tool/quillmap"
}

# "wall user+system" seconds of one form over the copies in the current folder.
realrun() { # <form>
  local TIMEFORMAT='%R %U %S' t
  sync
  case $1 in
    new1) t=$( { time "$tool" -q -j 1 c* /Water 1 >/dev/null; } 2>&1 ) ;;
    new2) t=$( { time "$tool" -q -j 2 c* /Water 1 >/dev/null; } 2>&1 ) ;;
    base1) t=$( { time "$oldtool" -q -j 1 c* /Water 1 >/dev/null; } 2>&1 ) ;;
    base2) t=$( { time "$oldtool" -q -j 2 c* /Water 1 >/dev/null; } 2>&1 ) ;;
    inplace) t=$( { time for f in c*; do "$inplace" ../patch "$f"; done; } 2>&1 ) ;;
  esac
  awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' <<<"$t"
}

real() {
  oldtool=$(baseline)
  echo
  echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
  printf "%-20s %-5s | %8s %7s | %8s %7s | %8s %7s | %6s %6s\n" "levels" "form" "BASE s" "cpu s" \
         "inpl. s" "cpu s" "new s" "cpu s" "/BASE" "/inpl."
  for kind in tr1/TEST1.PHD tr4/TEST1.TR4; do
    src=$repo/../shared/levels/$kind
    [ -f "$src" ] || { echo "(no $kind)"; continue; }
    for n in $counts; do
      local need=$(( $(stat -c %s "$src") * n / 1048576 + 512 ))
      local free=$(df -Pm "$work" | awk 'NR == 2 { print $4 }')
      [ "$free" -gt $((need * 2)) ] || { echo "$n copies of $kind: too little free disk ($free MB)"; continue; }
      rm -rf "$work/real" && mkdir -p "$work/real/c"
      cp "$src" "$work/real/before" && chmod u+w "$work/real/before"
      cp "$src" "$work/real/after" && chmod u+w "$work/real/after" && "$tool" -q "$work/real/after" /Water 1 >/dev/null
      "$inplace" --patch "$work/real/before" "$work/real/after" "$work/real/patch"
      for i in $(seq -w 1 "$n"); do cp "$work/real/before" "$work/real/c/c$i"; done
      cd "$work/real/c"
      # The first edit changes the levels (a TR4 level's data is packed anew);
      # every later one writes the same bytes again, which is what is timed.
      "$tool" -q -j 2 c* /Water 1 >/dev/null
      declare -A wall=() cpu=()
      for r in $(seq "$realRounds"); do
        for form in base1 new1 inplace base2 new2; do
          read -r w c < <(realrun $form)
          wall[$form]+="$w " cpu[$form]+="$c "
          echo "  $kind x$n round $r $form: ${w}s wall, ${c}s cpu" >&2
        done
      done
      med() { tr ' ' '\n' <<<"$1" | grep . | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
      for j in 1 2; do
        awk -v what="$kind x$n" -v form="-j $j" -v b="$(med "${wall[base$j]}")" -v bc="$(med "${cpu[base$j]}")" \
            -v p="$(med "${wall[inplace]}")" -v pc="$(med "${cpu[inplace]}")" -v t="$(med "${wall[new$j]}")" \
            -v tc="$(med "${cpu[new$j]}")" -v gb="$([ $j = 1 ] && echo 0.45 || echo 0.5)" \
            -v gp="$([ $j = 1 ] && echo 1.0 || echo 0.8)" -v goals="$([[ $kind == tr1/* && $n == 200 ]] && echo 1 || echo 0)" '
          function mark(v, g) { return sprintf("%.2f%s", v, goals && v > g ? "*" : " ") }
          BEGIN { printf "%-20s %-5s | %8.2f %7.2f | %8.2f %7.2f | %8.2f %7.2f | %6s %6s\n", what, form, b, bc,
                         p, pc, t, tc, mark(t / b, gb), mark(t / p, gp) }'
      done
      unset wall cpu
      cd "$work" && rm -rf "$work/real"
    done
  done
  echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "* misses its goal (200 TR1 copies)"
}

[ "$only" = real ] || generated
[ "$only" = generated ] || real
