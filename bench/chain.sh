#!/usr/bin/env bash
# Times five edits chained in one run against one edit, on the generated
# medium levels of every kind and the real TR1-TR4 levels of ../shared/levels:
#   one:   LEVEL /Water 1
#   five:  LEVEL /Water 1 /Sky 1 /QuickSand 1 /Lara_Light 5 /Flag nolensflare 1
# (medians of wall time, each run from a fresh copy). "*" marks a ratio that
# misses its goal: five edits <= 1.2x one edit.
#   bash bench/chain.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-7}
build=build/bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQM_BENCH=ON -DQM_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target quillmap qm_make_levels qm_measure >/dev/null
tool=$PWD/$build/tool/quillmap
bin=$PWD/$build/bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$bin/qm_make_levels" "$work" M 8 100 >"$work/manifest"
for f in ../shared/levels/tr1/*.PHD ../shared/levels/tr2/*.TR2 ../shared/levels/tr3/*.TR2 ../shared/levels/tr4/*.TR4; do
  [ -f "$f" ] && echo "real M $PWD/$f 0 0 0" >>"$work/manifest"
done

printf "%-28s %8s %8s %7s\n" "level" "one ms" "five ms" "ratio"
while read -r _ _ path _ <&3; do
  copy=$work/edit_$(basename "$path")
  cp "$path" "$copy" && chmod u+w "$copy"
  five=("$copy" /Water 1 /Sky 1 /QuickSand 1 /Lara_Light 5 /Flag 0x0200 1)
  "$tool" "${five[@]}" | tail -n 1 | grep -q '^Done' || { echo "five edits failed on $path" >&2; exit 1; }
  read -r one _ five_ms _ < <("$bin/qm_measure" "$runs" --fresh "$path" "$copy" -- "$tool" "$copy" /Water 1 \
                                 -- "$tool" "${five[@]}" | tr '\n' ' '; echo)
  awk -v n="$(basename "$path")" -v a="$one" -v b="$five_ms" \
      'BEGIN { r = b / a; printf "%-28s %8.1f %8.1f %6.2f%s\n", n, a, b, r, (r > 1.2 ? "*" : " ") }'
done 3<"$work/manifest"
