# shellcheck shell=bash
# Wine for the checks that run the Windows program: sourced by
# scripts/windows_check.sh and scripts/package_check.sh.
#
#   source scripts/wine.sh
#   wine_start "$root/build/wine-prefix"    # then "$wine" program.exe ...
#   wine_stop                               # from the caller's exit trap
#
# Headless and quiet: no debug channels, no display, no prompts to install the
# Mono or Gecko add-ons, no menu entries. Arguments reach a Windows program
# through Wine's conversion from the locale's encoding, which must be UTF-8.
# The prefix is made once and reused; one server serves all the runs, so each
# run starts in a fraction of a second.

wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo "$(dirname "$wine")/wineserver")

# Sets wine_prefix_made to "created" or "reused" for the caller to report.
# shellcheck disable=SC2034 # wine_prefix_made is read by the caller
wine_start() { # <prefix folder>
  [ -x "$wine" ] || { printf '%s\n' "wine64 is missing (apt-get install wine64)" >&2; return 1; }
  export WINEPREFIX=$1 WINEARCH=win64 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  unset DISPLAY WAYLAND_DISPLAY
  export LC_ALL=C.UTF-8
  wine_prefix_made=reused
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wine_prefix_made=created
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
  fi
  "$wineserver" -p
  local log rc=0
  log=$(mktemp)
  "$wine" wineboot -i >"$log" 2>&1 || rc=$?
  [ $rc -eq 0 ] || { cat "$log" >&2; printf '%s\n' "failed ($rc): wineboot -i" >&2; }
  rm -f "$log"
  return $rc
}

wine_stop() {
  "$wineserver" -k >/dev/null 2>&1 || true
}
