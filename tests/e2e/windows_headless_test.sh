#!/usr/bin/env bash
# The Windows build of the headless runner under Wine gives what the Linux build gives: the same
# CPU trace on nestest, the same frame logs (picture and sound hashes) on the demo with scripted
# input, our mapper cartridges and a sound cartridge, and the same verdicts on the instruction
# tests; and it refuses --screenshot, which it cannot write, with a message.
#
# usage: windows_headless_test.sh HEADLESS_EXE HEADLESS ROM_DIR TEST_ROMS   exit 0 passed, 1 failed, 77 skipped
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
exe="$(absolute "$1")" headless="$(absolute "$2")" roms="$(cd "$3" && pwd)" test_roms="$(cd "$4" 2>/dev/null && pwd || echo "$4")"
source "$here/wine_lib.sh"
wine_start_or_skip "$exe"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# Runs both builds with the same arguments, each writing its output file in its own folder;
# compares the two files. $1: what, $2: the output option, the rest: image and options.
same_output() {
  local what="$1" option="$2"
  shift 2
  mkdir -p "$work/linux" "$work/windows"
  "$headless" "$@" "$option" "$work/linux/out" >/dev/null 2>"$work/linux/err"
  local linux_code=$?
  (cd "$work/windows" && run_wine "$exe" "$@" "$option" out >/dev/null 2>err)
  local windows_code=$?
  if [ "$linux_code" != 0 ] || [ "$windows_code" != 0 ]; then
    fail "$what: exit codes $linux_code (Linux) and $windows_code (Windows): $(cat "$work/windows/err")"
  elif cmp -s "$work/linux/out" "$work/windows/out"; then
    pass "$what: the same $(wc -l <"$work/linux/out") lines"
  else
    fail "$what: differs from line $(cmp "$work/linux/out" "$work/windows/out" | awk '{print $NF}')"
  fi
  rm -f "$work/linux/out" "$work/windows/out"
}

if [ -f "$test_roms/other/nestest.nes" ]; then
  same_output "nestest trace from C000" --trace "$test_roms/other/nestest.nes" --entry C000 --steps 8991
fi
same_output "demo frame log with scripted input" --frame-log "$roms/demo.nes" --frames 400 \
  --buttons 60:80 --buttons 66:00 --buttons 120:01 --buttons 200:21 --buttons 300:00
for rom in mapper0_16k mapper0_32k mapper1 mapper2 mapper3 mapper7 nes2_mapper2 apu_dmc_notes ppu_scroll_split; do
  same_output "$rom frame log" --frame-log "$roms/$rom.nes" --frames 60
done

if [ -d "$test_roms/instr_test-v5/rom_singles" ]; then
  for rom in "$test_roms"/instr_test-v5/rom_singles/*.nes; do
    name="$(basename "$rom")"
    "$headless" "$rom" --result --frames 3000 >/dev/null 2>&1
    linux_code=$?
    run_wine "$exe" "$rom" --result --frames 3000 >/dev/null 2>&1
    windows_code=$?
    [ "$linux_code" = "$windows_code" ] && [ "$windows_code" = 0 ] && pass "$name passes on both" \
      || fail "$name: verdict $windows_code on Windows, $linux_code on Linux"
  done
fi

message="$(run_wine "$exe" "$roms/demo.nes" --screenshot "$work/shot.png" 2>&1 >/dev/null)"
code=$?
[ "$code" = 2 ] && grep -q -- '--screenshot is not available' <<<"$message" && [ ! -e "$work/shot.png" ] \
  && pass "--screenshot refused: $(head -n1 <<<"$message" | tr -d '\r')" \
  || fail "--screenshot: exit $code, '$message'"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
