# What the tests of the Windows programs share: a private Wine prefix kept beside the executables
# (made once, which takes a while), one Wine server for the whole test, and a skip with a message
# where Wine cannot start. Sourced; sets `work` (a temporary folder, removed at exit).
SKIP=77

# Checks that EXE exists and Wine runs; starts the server. Exits with SKIP when either is missing.
wine_start_or_skip() {
  local exe="$1"
  # Debian's wine64 keeps its programs in /usr/lib/wine.
  WINE="$(command -v wine64 || echo /usr/lib/wine/wine64)"
  WINESERVER="$(command -v wineserver || echo /usr/lib/wine/wineserver)"
  export WINESERVER
  if [ ! -x "$WINE" ] || [ ! -x "$WINESERVER" ]; then
    echo "SKIP: Wine is not installed (scripts/build-windows.sh installs it)"
    exit $SKIP
  fi
  if [ ! -f "$exe" ]; then
    echo "SKIP: $exe is not built (scripts/build-windows.sh builds it)"
    exit $SKIP
  fi
  export WINEPREFIX="$(cd "$(dirname "$exe")" && pwd)/wineprefix"
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  work="$(mktemp -d)"
  trap '"$WINESERVER" -k 2>/dev/null; rm -rf "$work"' EXIT
  "$WINESERVER" -p 2>/dev/null
  if ! "$WINE" cmd /c exit 0 >/dev/null 2>&1; then
    echo "SKIP: Wine cannot start a program here"
    exit $SKIP
  fi
  # The probe's desktop process stays with the server and keeps the display it started with (none,
  # before a test has made one), where windows of later programs could not open: start afresh, so
  # that the first program that needs the desktop brings it up on the test's display.
  "$WINESERVER" -k 2>/dev/null
  "$WINESERVER" -w 2>/dev/null
  "$WINESERVER" -p 2>/dev/null
}

# Runs a Windows program under Wine with the given arguments.
run_wine() { "$WINE" "$@"; }
