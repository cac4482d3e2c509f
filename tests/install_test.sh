#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs the installed program from
# there, as a user would after "cmake --install": by name, through PATH.
#
#   install_test.sh <cmake> <build dir> <sample level> <project version>
set -euo pipefail
cmake=$1 build=$2 sample=$3 version=$4

prefix=$(mktemp -d "${TMPDIR:-/tmp}/qm-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
fail() { printf 'install test: %s\n' "$*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$prefix" >/dev/null
[ -x "$prefix/bin/quillmap" ] || fail "no program at $prefix/bin/quillmap"
man=$prefix/share/man/man1/quillmap.1.gz
[ -f "$man" ] || fail "no manual page at $man"
if command -v groff >/dev/null; then
  # The page must render without a single warning.
  warnings=$(gzip -dc "$man" | groff -man -Tutf8 -ww -z 2>&1)
  [ -z "$warnings" ] || fail "the manual page has warnings: $warnings"
fi
# Beside the program: its notices, the changelog, the README and a sample level.
for doc in copyright changelog.gz README.md.gz examples/sample_rooms.tr4; do
  [ -f "$prefix/share/doc/quillmap/$doc" ] || fail "no $doc in $prefix/share/doc/quillmap"
done

export PATH=$prefix/bin:$PATH
[ "$(command -v quillmap)" = "$prefix/bin/quillmap" ] || fail "quillmap is not found through PATH"
[[ "$(quillmap --version)" =~ ^"Quillmap $version"( \([0-9a-f]{7,}\))?$'\r'$ ]] || fail "--version says: $(quillmap --version)"

cd "$prefix"
cp "$sample" level.tr4
out=$(quillmap level.tr4 /Info) || fail "/Info ended with status $?"
grep -q $'^Level Version: TR4\r$' <<<"$out" || fail "/Info printed: $out"
status=0
quillmap missing.tr4 /Info >/dev/null || status=$?
[ $status -eq 2 ] || fail "a missing level ended with status $status, not 2"
echo "installed into $prefix and ran: fine"
