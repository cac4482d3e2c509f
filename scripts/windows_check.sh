#!/usr/bin/env bash
# Builds quillmap.exe with MinGW-w64 and runs it under Wine beside the Linux
# build, on the same command lines and the same levels: the bundled samples and,
# when present, the real levels in ../shared/levels. Standard output (byte for
# byte), exit status and the bytes of the edited level must be the same on both
# sides; the exe must need no DLL beyond Windows' own.
#
#   bash scripts/windows_check.sh [--linux-bin PATH]
#
# --linux-bin takes an already built Linux quillmap (CI passes the one the test
# suite just built); without it the script builds one in build/windows-check-linux.
# Needs cmake, ninja, g++-mingw-w64-x86-64-posix, libz-mingw-w64-dev and wine64.
# The Wine prefix is made once, in build/wine-prefix, and reused.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)
started=$(date +%s.%N)

linux_bin=
while [ $# -gt 0 ]; do
  case $1 in
    --linux-bin) linux_bin=${2:?--linux-bin needs a path}; shift 2 ;;
    *) echo "usage: $0 [--linux-bin PATH]" >&2; exit 2 ;;
  esac
done

say() { printf '%s\n' "$*"; }
seconds_since() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }

# Runs a command quietly; shows its output only when it fails.
quiet() {
  local log rc=0
  log=$(mktemp)
  "$@" >"$log" 2>&1 || rc=$?
  [ $rc -eq 0 ] || { cat "$log" >&2; say "failed ($rc): $*" >&2; }
  rm -f "$log"
  return $rc
}

for tool in x86_64-w64-mingw32-objdump cmake ninja; do
  command -v "$tool" >/dev/null || { say "windows check: $tool is missing (see README, Windows)" >&2; exit 1; }
done
# shellcheck source=scripts/wine.sh
source "$root/scripts/wine.sh"
[ -x "$wine" ] || { say "windows check: wine64 is missing (apt-get install wine64)" >&2; exit 1; }

# --- Builds --------------------------------------------------------------------
if [ -n "$linux_bin" ] && [ ! -x "$linux_bin" ]; then
  say "no Linux quillmap at $linux_bin; building one"
  linux_bin=
fi
if [ -z "$linux_bin" ]; then
  quiet cmake -S . -B build/windows-check-linux -G Ninja -DQM_TESTS=OFF
  quiet cmake --build build/windows-check-linux --target quillmap -j "$jobs"
  linux_bin=build/windows-check-linux/tool/quillmap
fi
linux_bin=$(cd "$(dirname "$linux_bin")" && pwd)/$(basename "$linux_bin")

# Configured with the tests on (the default): a cross build skips them by itself.
quiet cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_CXX_FLAGS=-Werror
quiet cmake --build build/windows --target quillmap -j "$jobs"
exe=$root/build/windows/tool/quillmap.exe
say "built $exe ($(stat -c %s "$exe") bytes) in $(seconds_since "$started") s"

passed=0
failed=0
pass() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); say "FAIL: $*"; }

# Self-contained: only DLLs that every Windows has.
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ')
foreign=
for dll in $dlls; do
  case ${dll,,} in
    kernel32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-*.dll | shell32.dll | user32.dll | advapi32.dll) ;;
    *) foreign="$foreign $dll" ;;
  esac
done
if [ -z "$foreign" ]; then pass; else fail "quillmap.exe needs non-system DLLs:$foreign (all: $dlls)"; fi
say "imports: $dlls"

# --- Wine (scripts/wine.sh) ------------------------------------------------------
work=$(mktemp -d "${TMPDIR:-/tmp}/qm-windows-check.XXXXXX")
cleanup() {
  wine_stop
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

wine_started=$(date +%s.%N)
wine_start "$root/build/wine-prefix"
say "wine prefix $wine_prefix_made and started in $(seconds_since "$wine_started") s ($WINEPREFIX)"

# --- The two sides ---------------------------------------------------------------
lin=$work/linux
win=$work/windows
mkdir -p "$lin" "$win"

# Puts the same file under the same name on both sides.
place() { # <source> <name>
  cp "$1" "$lin/$2" && cp "$1" "$win/$2"
  chmod u+w "$lin/$2" "$win/$2"
}

# Runs one command line on both sides and compares. The label names the case;
# file, when not empty, is the level whose bytes must then be the same on both.
check() { # <label> <file or ""> <arguments...>
  local label=$1 file=$2
  shift 2
  local rc_lin=0 rc_win=0 why=
  (cd "$lin" && "$linux_bin" "$@") >"$work/out.linux" 2>"$work/err.linux" || rc_lin=$?
  (cd "$win" && "$wine" "$exe" "$@") >"$work/out.windows" 2>"$work/err.windows" || rc_win=$?
  last_status=$rc_win
  [ $rc_lin -eq $rc_win ] || why="$why exit status $rc_lin on Linux, $rc_win on Windows;"
  cmp -s "$work/out.linux" "$work/out.windows" || why="$why standard output differs;"
  if [ -n "$file" ] && ! cmp -s "$lin/$file" "$win/$file"; then why="$why $file differs afterwards;"; fi
  if [ -z "$why" ]; then
    pass
    return 0
  fi
  fail "$label ($*):$why"
  diff <(cat -A "$work/out.linux") <(cat -A "$work/out.windows") | head -20 || true
  [ -s "$work/err.windows" ] && head -5 "$work/err.windows"
  return 0
}

# The exit status of the last check's Windows run must be the given one.
last_status=
expect_status() { # <status> <label>
  if [ "$last_status" = "$1" ]; then pass; else fail "$2: exit status $last_status, expected $1"; fi
}

# Every function on every bundled sample; each edit works on the file the one
# before left, so a difference shows up in every later step too.
for path in examples/levels/*; do
  name=$(basename "$path")
  place "$path" "$name"
  for fn in /Info /ShowItems /ShowStatics /ShowAnimtext; do
    check "$name $fn" "$name" "$name" "$fn"
  done
  check "$name /Step_sound" "$name" "$name" /Step_sound 2
  check "$name /Lara_Light" "$name" "$name" /Lara_Light 20 0 1
  check "$name /Water" "$name" "$name" /Water 1
  check "$name /Sky" "$name" "$name" /Sky 1 1 1
  check "$name /QuickSand" "$name" "$name" /QuickSand 1 0 2
  check "$name /Textures" "$name" "$name" /Textures 1 2
done

# The real levels, when there: the report, one listing and one edit each, the
# kinds of listing and edit taking turns.
listings=(/ShowItems /ShowStatics /ShowAnimtext)
edits=("/Step_sound 3" "/Lara_Light 7" "/Water 1 0 4" "/Sky 1 2" "/QuickSand 1" "/Textures 5 6 0 3")
turn=0
shopt -s nullglob
for path in ../shared/levels/*/*; do
  case $path in *.md) continue ;; esac
  name=real_$(basename "$(dirname "$path")")_$(basename "$path")
  place "$path" "$name"
  check "$name /Info" "$name" "$name" /Info
  check "$name listing" "$name" "$name" "${listings[turn % 3]}"
  # shellcheck disable=SC2086 # the edit's words are separate arguments
  check "$name edit" "$name" "$name" ${edits[turn % 6]}
  turn=$((turn + 1))
done
shopt -u nullglob

sample=examples/levels/sample_tr4.tr4
place "$sample" level.tr4
place examples/levels/sample_tr1.phd level.phd

# Help, and what the command line can get wrong: 0 for the help, 1 for an
# error report, 2 for a one-line user error.
check "no arguments" ""; expect_status 0 "no arguments"
check "help" "" /h; expect_status 0 "help"
for habit in -h --help /? --version; do
  check "$habit" "" "$habit"; expect_status 0 "$habit"
done
check "missing file" "" missing.tr4 /Info; expect_status 2 "missing file"
check "empty name" "" "" /Info; expect_status 2 "empty name"
check "unknown function" level.tr4 level.tr4 /Bogus; expect_status 2 "unknown function"
check "missing parameter" level.tr4 level.tr4 /Textures; expect_status 2 "missing parameter"
check "missing flag value" level.tr4 level.tr4 /Water; expect_status 2 "missing flag value"
check "bad number" level.tr4 level.tr4 /Water abc; expect_status 2 "bad number"
check "bad room number" level.tr4 level.tr4 /Sky 1 x1g; expect_status 2 "bad room number"
# shellcheck disable=SC2016 # a literal $, as typed
check "hexadecimal numbers" level.tr4 level.tr4 /Lara_Light '$1F' 0x0 x1; expect_status 0 "hexadecimal numbers"
check "signed numbers" level.tr4 level.tr4 /Textures +007 -12
check "room outside the level" level.tr4 level.tr4 /Water 1 45; expect_status 2 "room outside the level"
check "function not for TR1" level.phd level.phd /Step_sound 2; expect_status 2 "function not for TR1"
check "switch in other case" level.phd level.phd /wAtEr 1

# Names as users type them: non-ASCII letters, spaces, a folder with forward
# slashes; a folder is no level.
fancy="niveau_é_тест_レベル.phd"
place examples/levels/sample_tr1.phd "$fancy"
check "non-ASCII name /Info" "$fancy" "$fancy" /Info
check "non-ASCII name /Water" "$fancy" "$fancy" /Water 1
check "non-ASCII name missing" "" "absent_é_тест_レベル.tr4" /Info
place examples/levels/sample_tr2.tr2 "my level.tr2"
check "name with spaces" "my level.tr2" "my level.tr2" /Sky 1 0 1
mkdir -p "$lin/sub dir" "$win/sub dir"
place examples/levels/sample_trc.trc "sub dir/lvl.trc"
check "level in a folder" "sub dir/lvl.trc" "sub dir/lvl.trc" /Textures 1 3
check "a folder as the level" "" "sub dir" /Info

# Files that are no (whole) level: the report's place line must match too.
printf 'not a level at all' >"$work/junk"
place "$work/junk" junk.tr4
check "not a level" junk.tr4 junk.tr4 /Info; expect_status 2 "not a level"
: >"$work/empty"
place "$work/empty" empty.tr2
check "empty file" empty.tr2 empty.tr2 /Info
head -c 3000 "$sample" >"$work/cut"
place "$work/cut" cut.tr4
check "level cut short" cut.tr4 cut.tr4 /Water 1
head -c 40000 examples/levels/sample_tr2.tr2 >"$work/cut2"
place "$work/cut2" cut.tr2
check "TR2 level cut short" cut.tr2 cut.tr2 /ShowItems

# A write-protected level: on Linux without write permission, on Windows with
# the read-only attribute set by attrib. Refused, and left as it was.
place examples/levels/sample_tr3.tr2 locked.tr2
chmod a-w "$lin/locked.tr2"
(cd "$win" && quiet "$wine" attrib +r locked.tr2)
check "read-only level" locked.tr2 locked.tr2 /Water 1
if grep -q "File access denied." "$work/out.windows" && cmp -s "$win/locked.tr2" examples/levels/sample_tr3.tr2 &&
   cmp -s "$lin/locked.tr2" examples/levels/sample_tr3.tr2; then
  pass
else
  fail "read-only level: not refused with \"File access denied.\", or changed"
fi

# A symbolic link (which Wine shows as the file it points to): the file it
# points to is edited, the link stays a link.
place examples/levels/sample_tr4_zlib.tr4 target.tr4
ln -s target.tr4 "$lin/link.tr4"
ln -s target.tr4 "$win/link.tr4"
check "level through a link" target.tr4 link.tr4 /Sky 1
if [ -L "$lin/link.tr4" ] && [ -L "$win/link.tr4" ]; then pass; else fail "a link was replaced by a file"; fi

# Wildcards: cmd.exe hands them over as typed and the Windows program expands
# them itself, as the Linux shell does before the program starts.
mkdir -p "$lin/many" "$win/many"
for n in b a c; do place examples/levels/sample_tr1.phd "many/w$n.phd"; done
place examples/levels/sample_tr2.tr2 many/other.tr2
(cd "$win/many" && "$wine" "$exe" 'w*.PHD' '?ther.tr2' 'nomatch*.phd' /Info) >"$work/out.windows" 2>&1 || true
(cd "$lin/many" && "$linux_bin" wa.phd wb.phd wc.phd other.tr2 'nomatch*.phd' /Info) >"$work/out.expected" 2>&1 || true
if cmp -s "$work/out.windows" "$work/out.expected"; then pass; else fail "wildcards are not expanded as a shell would"; fi

# Texture pages out as PNG pictures and one back in: the same pictures and the
# same level on both sides.
for level in level.tr4 level.phd; do
  check "export pages of $level" "$level" "$level" /ExportPages "pages_$level"
  if cmp -s "$lin/pages_$level/page_000.png" "$win/pages_$level/page_000.png"; then pass; else fail "exported page of $level differs"; fi
  check "import a page into $level" "$level" "$level" /ImportPage 0 "pages_$level/page_000.png"
done

# No temporary file may be left anywhere.
left=$(find "$lin" "$win" -name '*qmtmp*' | head -3)
if [ -z "$left" ]; then pass; else fail "temporary files left behind: $left"; fi

say "windows check took $(seconds_since "$started") s"
say "windows-check: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
