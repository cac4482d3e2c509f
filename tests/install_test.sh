#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs the installed program from
# there, as a user would after "cmake --install": by name, through PATH.
#
#   install_test.sh <cmake> <build dir> <sample level>
set -euo pipefail
cmake=$1 build=$2 sample=$3

prefix=$(mktemp -d "${TMPDIR:-/tmp}/qm-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
fail() { printf 'install test: %s\n' "$*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$prefix" >/dev/null
[ -x "$prefix/bin/quillmap" ] || fail "no program at $prefix/bin/quillmap"
man=$prefix/share/man/man1/quillmap.1
[ -f "$man" ] || fail "no manual page at $man"
if command -v groff >/dev/null; then
  # The page must render without a single warning.
  warnings=$(groff -man -Tutf8 -ww -z "$man" 2>&1)
  [ -z "$warnings" ] || fail "the manual page has warnings: $warnings"
fi

export PATH=$prefix/bin:$PATH
[ "$(command -v quillmap)" = "$prefix/bin/quillmap" ] || fail "quillmap is not found through PATH"
[ "$(quillmap --version)" = $'Quillmap 1.0\r' ] || fail "--version says: $(quillmap --version)"

cd "$prefix"
cp "$sample" level.tr4
out=$(quillmap level.tr4 /Info) || fail "/Info ended with status $?"
grep -q $'^Level Version: TR4\r$' <<<"$out" || fail "/Info printed: $out"
status=0
quillmap missing.tr4 /Info >/dev/null || status=$?
[ $status -eq 2 ] || fail "a missing level ended with status $status, not 2"
echo "installed into $prefix and ran: fine"
