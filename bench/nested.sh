#!/usr/bin/env bash
# CPU time of the functions that pair rooms (by place: the storeys of
# /ShowRooms and /Map; by flip room: the notes of /Flood and /Drain) on a
# generated TR3 level of ROOMS rooms nested over each other, beside /Info on
# the same level as the floor. Goal: each within 2 s on 65,000 rooms.
#   bash bench/nested.sh [ROOMS]
set -euo pipefail
cd "$(dirname "$0")/.."
rooms=${1:-65000}
build=build/bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQM_BENCH=ON -DQM_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target quillmap qm_make_levels >/dev/null
tool=$PWD/$build/tool/quillmap
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
level=$("$PWD/$build/bench/qm_make_levels" --nested "$work" "$rooms")

printf "%-34s %9s %7s\n" "run ($rooms nested rooms)" "CPU s" "x /Info"
floor=""
while IFS='|' read -r name args; do
  # shellcheck disable=SC2086
  /usr/bin/time -f "%U %S" -o "$work/time" "$tool" -q "$level" $args >/dev/null 2>&1
  cpu=$(awk '{ print $1 + $2 }' "$work/time")
  [ -z "$floor" ] && floor=$cpu
  awk -v n="$name" -v c="$cpu" -v f="$floor" \
      'BEGIN { printf "%-34s %9.2f %7.2f%s\n", n, c, (f > 0 ? c / f : 0), (c > 2 ? " *" : "") }'
done <<ROWS
/Info|/Info
/ShowRooms 0 0|/ShowRooms 0 0
--dry-run /Flood|--dry-run /Flood
--dry-run /Drain|--dry-run /Drain
/Map (SVG, dry run)|--dry-run /Map $work/m.svg
ROWS
