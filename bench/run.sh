#!/usr/bin/env bash
# Times quillmap against the floor of loading and saving on large generated
# levels of every kind at three sizes, and prints one table.
#   bash bench/run.sh           sizes of 16/24/32 pages and 200/300/400 rooms, 5 runs
#   bash bench/run.sh --quick   sizes of 4/8/16 pages and 50/100/200 rooms, 3 runs
# Times are medians of wall time (tool and floor take turns); "*" marks a
# value that misses its goal: /Info <= 0.80x the loading floor (TR4 family) or
# 1.2x (TR1-TR3); an edit <= 0.65x the saving floors (TR4 family) or 1.3x the
# floor of reading and writing with fsync (TR1-TR3); peak memory of /Info <=
# file + 4 MiB and of an edit <= file + 6 MiB (TR1-TR3), 1.3x (Info) / 1.6x
# (edit) of file + unpacked chunks, plus 8 MiB (TR4 family). A second table
# gives decompression bombs: refused, at a peak of at most 2x the file + 64 MiB.
# /Map to SVG and to HTML <= 3x /Info of the same level, to PNG <= 3x the SVG,
# the PNG's peak memory <= /Info's + the picture's own RGBA pixels;
# /ShowEntities <= 1.1x /Info and an item edit (/ItemFlags) <= 1.1x /Water of
# the same level, each pair in one run. A third table, on the real levels
# (OPERA.TR2 first): /ShowTriggers <= 1.5x /Info, /Map with its triggered
# sectors to SVG and to HTML <= 3x /Info, and /RemoveItem <= 1.1x /MoveItem of
# the same item (the first item no trigger names), each group in one run.
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ ${1:-} == --quick ]]; then runs=3; sizes=(S 4 50 M 8 100 L 16 200)
else runs=5; sizes=(S 16 200 M 24 300 L 32 400); fi

build=build/bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQM_BENCH=ON -DQM_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target quillmap qm_make_levels qm_floor qm_measure >/dev/null
tool=$PWD/$build/tool/quillmap
bin=$PWD/$build/bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "Generating levels in $work ..."
"$bin/qm_make_levels" "$work" "${sizes[@]}" >"$work/manifest"
"$bin/qm_make_levels" --bombs "$work" >"$work/bombs"
# The real TR1-TR4 levels, when ../shared/levels is there (size column "R").
real=()
for f in ../shared/levels/tr1/*.PHD ../shared/levels/tr2/*.TR2 ../shared/levels/tr3/*.TR2 ../shared/levels/tr4/*.TR4; do
  [ -f "$f" ] && real+=("$PWD/$f")
done
[ ${#real[@]} -eq 0 ] || "$bin/qm_make_levels" --describe R "${real[@]}" >>"$work/manifest"

measure() { "$bin/qm_measure" "$runs" "$@" | tr '\n' ' '; }
rows=$work/rows
while read -r kind size path bytes unpacked texratio <&3; do
  copy=$work/edit_$(basename "$path")
  "$tool" "$path" /Info | grep -q '^Done' || { echo "/Info failed on $path" >&2; exit 1; }
  cp "$path" "$copy" && chmod u+w "$copy"
  "$tool" "$copy" /Water 1 | grep -q '^Done' || { echo "/Water failed on $path" >&2; exit 1; }
  "$tool" "$copy" /ItemFlags 0 activation=31 | grep -q '^Done' || { echo "/ItemFlags failed on $path" >&2; exit 1; }
  info=$(measure -- "$tool" "$path" /Info -- "$bin/qm_floor" load "$path" -- "$tool" "$path" /ShowEntities)
  map=$(measure -- "$tool" "$path" /Map "$work/map.svg" -- "$tool" "$path" /Map "$work/map.png" \
        -- "$tool" "$path" /Map "$work/map.html")
  # The picture's own size: its RGBA pixels, width x height x 4 bytes from the PNG's header, in MiB.
  picture=$(od -An -tu1 -j16 -N8 "$work/map.png" | awk '{ printf "%.2f", ($1*16777216+$2*65536+$3*256+$4) * ($5*16777216+$6*65536+$7*256+$8) * 4 / 1048576 }')
  edit=$(measure --fresh "$path" "$copy" -- "$tool" "$copy" /Water 1 \
         -- "$bin/qm_floor" save "$copy" -- "$bin/qm_floor" save-fsync "$copy" \
         -- "$tool" "$copy" /ItemFlags 0 activation=31)
  echo "$kind $size $bytes $unpacked $texratio $info $edit $map $picture" | tee -a "$rows" | awk '{printf "  %s %s done\n", $1, $2}' >&2
done 3<"$work/manifest"

awk '
BEGIN {
  split("TR1 TUB TR2 TRG TR3 TR4 TRC", name, " ")
  printf "%-4s %-2s %7s %5s | %7s %7s %6s | %7s %7s %6s %7s %6s | %7s %7s %7s %7s | %7s %6s | %7s %6s %7s %7s | %7s %6s | %7s %6s | %7s %6s\n", "kind", "sz",
         "file MB", "tex:1", "Info ms", "floor", "ratio", "edit ms", "floor", "ratio", "+fsync", "ratio",
         "Info MB", "goal", "edit MB", "goal", "Map ms", "/Info", "PNG ms", "/SVG", "PNG MB", "goal", "Html ms", "/Info",
         "Ent ms", "/Info", "item ms", "/Water"
}
function mark(v, goal) { return sprintf("%.2f%s", v, v > goal ? "*" : " ") }
{
  k = $1; tr4 = k >= 6; mb = ($3 + $4) / 1048576
  info = $6; lfloor = $8; ents = $10; edit = $12; sfloor = $14; sync = $16; item = $18; map = $20; png = $22; html = $24
  gp = $7 + $26
  gi = tr4 ? 1.3 * mb + 8 : mb + 4; ge = tr4 ? 1.6 * mb + 8 : mb + 6
  printf "%-4s %-2s %7.1f %5s | %7.1f %7.1f %6s | %7.1f %7.1f %6s %7.1f %6s | %6.1f%s %7.1f %6.1f%s %7.1f | %7.1f %6s | %7.1f %6s %6.1f%s %7.1f | %7.1f %6s | %7.1f %6s | %7.1f %6s\n",
         name[k], $2, $3 / 1048576, tr4 ? $5 : "-", info, lfloor, mark(info / lfloor, tr4 ? 0.80 : 1.2),
         edit, sfloor, mark(edit / sfloor, tr4 ? 0.65 : 99), sync, mark(edit / sync, tr4 ? 0.65 : 1.3),
         $7, ($7 > gi ? "*" : " "), gi, $13, ($13 > ge ? "*" : " "), ge, map, mark(map / info, 3.0),
         png, mark(png / map, 3.0), $23, ($23 > gp ? "*" : " "), gp, html, mark(html / info, 3.0),
         ents, mark(ents / info, 1.1), item, mark(item / edit, 1.1)
  # Cost per MB of file + unpacked chunks, first and last size of each kind.
  if (!(k in first)) first[k] = sprintf("%.1f/%.1f", info / mb, edit / mb)
  last[k] = sprintf("%.1f/%.1f", info / mb, edit / mb)
}
END {
  printf "ms per MB (Info/edit), smallest -> largest size:"
  for (k = 1; k <= 7; ++k) if (k in first) printf "  %s %s -> %s", name[k], first[k], last[k]
  printf "\n* misses its goal\n"
}' "$rows"

echo
printf "%-12s %8s | %8s %8s %8s\n" "bomb" "file MB" "Info ms" "peak MB" "bound"
while read -r name path bytes <&3; do
  out=$("$tool" "$path" /Info | tr -d '\r' | sed -n 7,8p | tr '\n' ' ') || true
  case $out in *"unpacks to more than 256 MiB"*) ;; *) echo "$name was not refused: $out" >&2; exit 1 ;; esac
  read -r ms peak < <("$bin/qm_measure" "$runs" --status 1 -- "$tool" "$path" /Info)
  awk -v n="$name" -v b="$bytes" -v t="$ms" -v p="$peak" 'BEGIN {
    bound = 2 * b / 1048576 + 64
    printf "%-12s %8.1f | %8.1f %7.1f%s %8.1f\n", n, b / 1048576, t, p, (p > bound ? "*" : " "), bound }'
done 3<"$work/bombs"

# The triggers: reading every sector's floor data against loading alone, and a
# removal (which renumbers the triggers) against a move of the same item.
echo
printf "%-12s | %8s %8s %6s %8s %6s %8s %6s | %8s %8s %6s\n" "level" "Info ms" "Trig ms" "/Info" "Map ms" "/Info" \
  "Html ms" "/Info" "Move ms" "Remove" "/Move"
for f in "$PWD/../shared/levels/tr2-large/OPERA.TR2" "${real[@]}"; do
  [ -f "$f" ] || continue
  copy=$work/trig_$(basename "$f")
  cp "$f" "$copy" && chmod u+w "$copy"
  n=$("$tool" -q "$f" /ShowTriggers | tr -d '\r' | sed -n 's/^Items no trigger names: \([0-9]*\).*/\1/p')
  [ -n "$n" ] || { echo "every item of $f is triggered" >&2; continue; }
  read -r room x y z < <("$tool" -q "$f" /ShowEntities "$n" "$n" | tr -d '\r' | awk 'NR == 4 { print $4, $5, $6, $7 }')
  shows=$(measure -- "$tool" "$f" /Info -- "$tool" "$f" /ShowTriggers -- "$tool" "$f" /Map "$work/trig.svg" \
          -- "$tool" "$f" /Map "$work/trig.html")
  # The move lifts the item by one unit, so that the level changes and is saved.
  edits=$(measure --fresh "$f" "$copy" -- "$tool" "$copy" /MoveItem "$n" "$room" "$x" "$((y - 1))" "$z" \
          -- "$tool" "$copy" /RemoveItem "$n")
  echo "$(basename "$f") $shows $edits" | awk '
    function mark(v, goal) { return sprintf("%.2f%s", v, v > goal ? "*" : " ") }
    { printf "%-12s | %8.1f %8.1f %6s %8.1f %6s %8.1f %6s | %8.1f %8.1f %6s\n", $1, $2, $4, mark($4 / $2, 1.5),
             $6, mark($6 / $2, 3.0), $8, mark($8 / $2, 3.0), $10, $12, mark($12 / $10, 1.1) }'
done
