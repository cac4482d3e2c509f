#!/usr/bin/env bash
# Builds the two packages and tries them as a user would. The Debian package:
# its fields and files (dpkg-deb), lintian with no error-level tag, then
# unpacked into a scratch root, where the installed program reports on a sample
# level and its manual page renders (man -l). The Windows zip: its files, a
# README.txt in CR LF, then unpacked and its exe run under Wine on the sample
# level inside it and on the README's examples, giving the Linux program's
# bytes and exit status.
#
#   bash scripts/package_check.sh [--build DIR] [--windows-build DIR]
#
# --build takes a configured Linux build (CI passes build/test, which the test
# suite has just built); without it the script configures a release build in
# build/package. --windows-build takes the cross build (default build/windows,
# the one scripts/windows_check.sh leaves), configured here when missing.
# Needs lintian, man-db, unzip, and for the zip what
# scripts/windows_check.sh needs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)
started=$(date +%s.%N)

build=
windows_build=build/windows
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=${2:?--build needs a folder}; shift 2 ;;
    --windows-build) windows_build=${2:?--windows-build needs a folder}; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--windows-build DIR]" >&2; exit 2 ;;
  esac
done

say() { printf '%s\n' "$*"; }
seconds_since() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }
quiet() {
  local log rc=0
  log=$(mktemp)
  "$@" >"$log" 2>&1 || rc=$?
  [ $rc -eq 0 ] || { cat "$log" >&2; say "failed ($rc): $*" >&2; }
  rm -f "$log"
  return $rc
}

passed=0
failed=0
pass() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); say "FAIL: $*"; }
# Passes when the command succeeds, else fails with the label.
expect() { # <label> <command...>
  local label=$1
  shift
  if "$@"; then pass; else fail "$label"; fi
}

for tool in cmake ninja dpkg-deb lintian man unzip; do
  command -v "$tool" >/dev/null || { say "package check: $tool is missing (see README, Install)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/qm-package-check.XXXXXX")
cleanup() {
  declare -F wine_stop >/dev/null && wine_stop
  rm -rf "$work"
}
trap cleanup EXIT

# --- The Debian package -----------------------------------------------------------
if [ -z "$build" ]; then
  build=build/package
  quiet cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQM_TESTS=OFF
fi
build=$(cd "$build" && pwd)
quiet cmake --build "$build" --target package -j "$jobs"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$build/quillmap_${version}_amd64.deb
[ -f "$deb" ] || { say "package check: no $deb after building the package" >&2; exit 1; }
say "built $deb ($(stat -c %s "$deb") bytes)"

# Fields: the name and version, the architecture, a maintainer, a description of
# a synopsis and a paragraph, and dependencies the program really has.
field() { dpkg-deb --field "$deb" "$1"; }
expect "package name $(field Package)" [ "$(field Package)" = quillmap ]
expect "package version $(field Version), not $version" [ "$(field Version)" = "$version" ]
expect "architecture $(field Architecture)" [ "$(field Architecture)" = amd64 ]
expect "no maintainer" [ -n "$(field Maintainer)" ]
expect "description without a paragraph" [ "$(dpkg-deb --field "$deb" Description | wc -l)" -gt 3 ]
dpkg-deb --info "$deb" >"$work/info" || fail "dpkg-deb --info"

# Unpacked into a scratch root, as dpkg would install it.
dpkg-deb -x "$deb" "$work/root"
installed=$work/root/usr/bin/quillmap
doc=$work/root/usr/share/doc/quillmap
# The shared libraries the program loads: none when it is static.
needed=$(LC_ALL=C readelf -d "$installed" 2>/dev/null | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')

# The files: exactly these (a static program also answers lintian's remarks on
# static programs), owned by root, folders 755, files 644, the program 755.
dpkg-deb --contents "$deb" >"$work/contents"
expected_files="./usr/bin/quillmap
./usr/share/doc/quillmap/README.md.gz
./usr/share/doc/quillmap/changelog.gz
./usr/share/doc/quillmap/copyright
./usr/share/doc/quillmap/examples/sample_rooms.tr4"
[ -z "$needed" ] && expected_files="$expected_files
./usr/share/lintian/overrides/quillmap"
expected_files="$expected_files
./usr/share/man/man1/quillmap.1.gz"
files=$(awk '$1 !~ /^d/ { print $6 }' "$work/contents" | LC_ALL=C sort)
expect "the package's files differ: $files" [ "$files" = "$expected_files" ]
bad_modes=$(awk '!($2 == "root/root" && ($1 == "drwxr-xr-x" || $1 == "-rw-r--r--" || ($1 == "-rwxr-xr-x" && $6 == "./usr/bin/quillmap")))' "$work/contents")
expect "owners or modes: $bad_modes" [ -z "$bad_modes" ]

# Dependencies: none for a program without shared libraries, else each one's package.
depends=$(field Depends)
if [ -z "$needed" ]; then
  expect "a program without shared libraries depends on: $depends" [ -z "$depends" ]
else
  expect "the program loads $needed but the package depends on nothing" [ -n "$depends" ]
fi

# The notices: one paragraph per library built in (a static program has zlib, the
# C library and the C++ runtime inside), lintian-readable, and the changelog's
# latest entry is this version.
built_in="json stb"
[ -z "$needed" ] && built_in="$built_in zlib glibc gcc-runtime"
for lib in $built_in; do
  expect "the copyright file has no paragraph for $lib" grep -q "^Files: built-in/$lib/" "$doc/copyright"
done
# Every licence a paragraph names has its text once: in a paragraph of its own,
# or in the naming paragraph itself.
licence_faults=$(awk '
  /^$/ { first = 1; files = 0; next }
  first && /^Files: / { files = 1 }
  first && /^License: / {
    name = substr($0, 10)
    if ((getline line) <= 0 || line !~ /^ /) print "no text for " name
    else if (text[name]++) print "two texts for " name
    first = 0
    next
  }
  files && /^License: / {
    name = substr($0, 10)
    n = split(name, names, / or | and /)
    for (i = 1; i <= n; i++) named[names[i]] = 1
    if ((getline line) > 0 && line ~ /^ /) text[name]++  # the text in the paragraph itself
  }
  { first = 0 }
  END { for (name in named) if (!text[name]) print "no paragraph for " name }' "$doc/copyright")
expect "the copyright file's licences: $licence_faults" [ -z "$licence_faults" ]
top=$(gzip -dc "$doc/changelog.gz" | head -1)
expect "the changelog's latest entry is \"$top\", not $version" [ "${top#quillmap ("$version") }" != "$top" ]

# The installed program: its version line, and /Info on a sample level gives the
# same bytes as the program the package was made from.
line=$("$installed" --version | tr -d '\r')
if [[ "$line" =~ ^"Quillmap $version"( \([0-9a-f]{7,}\))?$ ]]; then pass; else fail "--version says \"$line\""; fi
cp examples/levels/sample_tr4.tr4 "$work/level.tr4"
status=0
(cd "$work" && "$installed" level.tr4 /Info) >"$work/info.deb" || status=$?
(cd "$work" && "$build/tool/quillmap" level.tr4 /Info) >"$work/info.build" 2>&1 || true
expect "installed /Info ended with status $status" [ $status -eq 0 ]
expect "installed /Info differs from the build's" cmp -s "$work/info.deb" "$work/info.build"
expect "installed /Info does not report a TR4 level" grep -q $'^Level Version: TR4\r$' "$work/info.deb"

# The manual page, as man shows a page given by its file.
MANWIDTH=80 MANPAGER=cat man -l "$work/root/usr/share/man/man1/quillmap.1.gz" >"$work/man" 2>"$work/man.err" || fail "man -l failed: $(head -3 "$work/man.err")"
expect "man -l shows no NAME section" grep -q '^NAME' "$work/man"
expect "man -l warned: $(head -3 "$work/man.err")" [ ! -s "$work/man.err" ]

# lintian: no error-level tag ("E:"). The other tags, and the overridden ones
# ("O:", which would count as errors for --fail-on), are shown, not failed.
lintian_status=0
lintian --fail-on none --show-overrides "$deb" >"$work/lintian" 2>&1 || lintian_status=$?
grep -E '^[EWIPXO]: ' "$work/lintian" | sed 's/^/  lintian /' || true
expect "lintian did not run (status $lintian_status)" [ $lintian_status -eq 0 ]
expect "lintian found an error-level tag" [ "$(grep -c '^E: ' "$work/lintian")" -eq 0 ]
say "Debian package checked in $(seconds_since "$started") s"

# --- The Windows zip ----------------------------------------------------------------
zip_started=$(date +%s.%N)
if [ ! -f "$windows_build/CMakeCache.txt" ]; then
  quiet cmake -S . -B "$windows_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_CXX_FLAGS=-Werror
fi
quiet cmake --build "$windows_build" --target package -j "$jobs"
folder=quillmap-${version}-win64
zip=$windows_build/$folder.zip
[ -f "$zip" ] || { say "package check: no $zip after building the package" >&2; exit 1; }
say "built $zip ($(stat -c %s "$zip") bytes)"

listed=$(unzip -Z1 "$zip" | grep -v '/$' | LC_ALL=C sort)
expected_files="$folder/README.txt
$folder/licenses/gcc-runtime.txt
$folder/licenses/json.txt
$folder/licenses/mingw-runtime.txt
$folder/licenses/quillmap.txt
$folder/licenses/stb.txt
$folder/licenses/zlib.txt
$folder/quillmap.exe
$folder/sample_rooms.tr4"
expect "the zip's files differ: $listed" [ "$listed" = "$expected_files" ]
unzip -q "$zip" -d "$work/zip"
unpacked=$work/zip/$folder

# Text for Windows readers: every line ends in CR LF.
for text in README.txt licenses/quillmap.txt licenses/zlib.txt; do
  expect "$text has a line without CR LF" [ "$(grep -c $'[^\r]$\|^$' "$unpacked/$text")" -eq 0 ]
done
expect "README.txt does not name version $version" grep -q "^Quillmap $version " "$unpacked/README.txt"
expect "the sample level differs from examples/levels" cmp -s "$unpacked/sample_rooms.tr4" examples/levels/sample_rooms.tr4

# shellcheck source=scripts/wine.sh
source "$root/scripts/wine.sh"
wine_start "$root/build/wine-prefix"

# One command line in the zip's folder under Wine and in a copy of it with the
# installed Linux program: the same output, exit status and files.
mkdir -p "$work/linux"
cp -r "$unpacked/." "$work/linux/"
rm "$work/linux/quillmap.exe"
# The Linux side runs through sh, so that a wildcard is expanded as a Linux
# user's shell does; the exe gets the words as the Command Prompt passes them.
compare() { # <label> <arguments...>
  local label=$1 rc_lin=0 rc_win=0
  shift
  (cd "$work/linux" && PATH="$(dirname "$installed"):$PATH" sh -c "quillmap $*") >"$work/out.linux" 2>&1 || rc_lin=$?
  (cd "$unpacked" && "$wine" quillmap.exe "$@") >"$work/out.windows" 2>&1 || rc_win=$?
  if [ $rc_lin -eq $rc_win ] && cmp -s "$work/out.linux" "$work/out.windows"; then
    pass
  else
    fail "$label ($*): status $rc_lin on Linux, $rc_win under Wine, or the output differs"
    diff <(cat -A "$work/out.linux") <(cat -A "$work/out.windows") | head -10 || true
  fi
}
compare "--version" --version
compare "/Info on the zip's sample level" sample_rooms.tr4 /Info

# The README's examples, as typed: "copy" is the Command Prompt's, the rest
# are the program's.
examples=0
while IFS= read -r command; do
  read -r -a words <<<"$command"
  if [ "${words[0]}" = copy ]; then
    cp "$unpacked/${words[1]}" "$unpacked/${words[2]}"
    cp "$work/linux/${words[1]}" "$work/linux/${words[2]}"
  else
    compare "README.txt example" "${words[@]:1}"
  fi
  examples=$((examples + 1))
done < <(tr -d '\r' <"$unpacked/README.txt" | sed -n '/^Examples$/,/^[A-Z]/s/^  \(quillmap .*\|copy .*\)$/\1/p')
expect "README.txt shows no examples" [ $examples -ge 5 ]
for f in rooms.tr4 rooms.tr4.bak rooms.html; do
  expect "$f differs after the README's examples" cmp -s "$work/linux/$f" "$unpacked/$f"
done
say "Windows zip checked in $(seconds_since "$zip_started") s"

say "package check took $(seconds_since "$started") s"
say "package-check: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
