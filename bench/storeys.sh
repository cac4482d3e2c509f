#!/usr/bin/env bash
# Times the storeys and the map on stacked rooms and on the large real level:
# /ShowRooms 0 0 on generated TR3 levels of 65,000 rooms (one tower of 65,000
# storeys; 250 towers side by side) <= 2 s of CPU, the map of
# ../shared/levels/tr2-large/OPERA.TR2 in SVG and HTML <= 3x its /Info, the
# PNG <= 3x the SVG. Medians of wall time, CPU time of the tool for the towers.
#   bash bench/storeys.sh
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQM_BENCH=ON -DQM_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target quillmap qm_make_stacks qm_measure >/dev/null
tool=$PWD/$build/tool/quillmap
bin=$PWD/$build/bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpu() { /usr/bin/time -f "%U %S" "$@" 2>&1 >/dev/null | tail -1 | awk '{ printf "%.2f", $1 + $2 }'; }
# The value and a "*" when it misses its goal (the test in parentheses: bare, awk
# takes its ">" for a redirection of printf's output to a file).
mark() { awk -v v="$1" -v g="$2" 'BEGIN { printf "%.2f%s", v, (v > g ? "*" : " ") }'; }
printf "%-36s %10s %8s\n" "stacked rooms" "CPU s" "goal 2"
for places in 1 250; do
  "$bin/qm_make_stacks" "$work/s$places.tr2" 65000 "$places" >/dev/null
  for fn in "/ShowRooms 0 0" "/Map $work/m.svg" "/Map $work/m.png"; do
    printf "%-36s %10s\n" "65000 rooms, $places places, $(basename "$fn")" "$(mark "$(cpu "$tool" "$work/s$places.tr2" $fn)" 2)"
  done
done

opera=../shared/levels/tr2-large/OPERA.TR2
[ -f "$opera" ] || { echo "no $opera: the real level's rows are left out"; exit 0; }
# The four medians on one line (read needs its newline: without it, it fails
# and set -e ends the script).
read -r info svg png html < <("$bin/qm_measure" 15 -- "$tool" "$opera" /Info -- "$tool" "$opera" /Map "$work/o.svg" \
  -- "$tool" "$opera" /Map "$work/o.png" -- "$tool" "$opera" /Map "$work/o.html" | awk '{ printf "%s ", $1 } END { print "" }')
printf "%-10s %8s %8s | %8s %7s | %8s %7s | %8s %7s\n" level "Info ms" "" "SVG ms" "/Info" "PNG ms" "/SVG" "HTML ms" "/Info"
printf "%-10s %8.1f %8s | %8.1f %7s | %8.1f %7s | %8.1f %7s\n" OPERA "$info" "" "$svg" "$(mark "$(echo "$svg / $info" | bc -l)" 3)" \
  "$png" "$(mark "$(echo "$png / $svg" | bc -l)" 3)" "$html" "$(mark "$(echo "$html / $info" | bc -l)" 3)"
