#!/usr/bin/env bash
# Installs what is missing, builds, and runs the emulator: `run.sh IMAGE` on IMAGE (its saves go
# beside it), `run.sh` on ./test.nes of the current directory, or on the bundled demo cartridge
# when there is none.
set -euo pipefail
here="$PWD"
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" "$root/build" -DCMAKE_BUILD_TYPE=Release
if [ $# -gt 0 ]; then
  cd "$here"
  exec "$root/build/nes" "$@"
fi
if [ -f "$here/test.nes" ]; then
  cd "$here"
  exec "$root/build/nes"
fi
demo="$root/build/roms/demo.nes"
if [ ! -f "$demo" ]; then
  echo "run.sh: no test.nes in $here and no demo cartridge at $demo" >&2
  exit 1
fi
play="$(mktemp -d)"
trap 'rm -rf "$play"' EXIT
cp "$demo" "$play/test.nes"
cd "$play"
"$root/build/nes"
