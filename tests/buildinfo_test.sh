#!/usr/bin/env bash
# The build's version source (cmake/BuildInfo.cmake), run on scratch trees:
# one row per case, each with the commit the source must name ("" for none).
#
#   buildinfo_test.sh <cmake> <BuildInfo.cmake>
set -euo pipefail
cmake=$1 script=$2
command -v git >/dev/null || { echo "git is missing: skipped"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qm-buildinfo.XXXXXX")
trap 'rm -rf "$work"' EXIT
failed=0
fail() { printf 'buildinfo test: %s\n' "$*" >&2; failed=1; }

g() { git -C "$1" -c user.name=t -c user.email=t@example.org -c init.defaultBranch=main "${@:2}"; }

# A repository with one commit; the sources either at its top or in a folder of it.
mkdir -p "$work/repo/sub"
g "$work/repo" init -q
echo x >"$work/repo/sub/file"
g "$work/repo" add sub/file
g "$work/repo" commit -q -m one
head=$(g "$work/repo" rev-parse --short=7 HEAD)
# A repository without any commit yet.
mkdir -p "$work/empty"
g "$work/empty" init -q

# Runs the script; prints the commit the written source names.
commit_of() { # <source dir> <extra -D...>
  local out=$work/buildinfo.cpp
  rm -f "$out"
  "$cmake" -DOUTPUT="$out" -DVERSION=1.1.0 -DSOURCE_DIR="$1" "${@:2}" -P "$script" >/dev/null 2>&1 || { echo "FAILED"; return; }
  sed -n 's/.*TBuildId build{"1\.1\.0", "\([^"]*\)"}.*/\1/p' "$out"
}

git=$(command -v git)
while IFS='|' read -r label dir expected extra; do
  # shellcheck disable=SC2086 # the extra words are separate arguments
  got=$(commit_of "$dir" $extra)
  [ "$got" = "$expected" ] || fail "$label: commit \"$got\", expected \"$expected\""
done <<ROWS
top of a work tree|$work/repo|$head|-DGIT=$git
a folder inside someone else's work tree|$work/repo/sub||-DGIT=$git
a work tree without a commit|$work/empty||-DGIT=$git
no git at all|$work/repo||
a given commit wins over git|$work/repo|feedbee|-DGIT=$git -DCOMMIT=feedbee
a given commit where there is no work tree|$work/repo/sub|feedbee|-DGIT=$git -DCOMMIT=feedbee
a commit that would break the source|$work/repo|FAILED|-DCOMMIT=a"b
ROWS

# Unchanged inputs leave the file alone, so nothing is compiled again.
out=$work/kept.cpp
"$cmake" -DOUTPUT="$out" -DVERSION=1.1.0 -DSOURCE_DIR="$work/repo" -DGIT="$git" -P "$script"
touch -d '2001-03-01' "$out"
"$cmake" -DOUTPUT="$out" -DVERSION=1.1.0 -DSOURCE_DIR="$work/repo" -DGIT="$git" -P "$script"
[ "$(date -r "$out" +%Y)" = 2001 ] || fail "an unchanged source was written again"
# A new commit reaches it.
g "$work/repo" commit -q --allow-empty -m two
"$cmake" -DOUTPUT="$out" -DVERSION=1.1.0 -DSOURCE_DIR="$work/repo" -DGIT="$git" -P "$script"
grep -q "\"$(g "$work/repo" rev-parse --short=7 HEAD)\"" "$out" || fail "a new commit did not reach the source"

[ $failed -eq 0 ] && echo "buildinfo: every case fine"
exit $failed
