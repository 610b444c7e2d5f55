#!/usr/bin/env bash
# Installs what is missing, builds, and runs the emulator: `run.sh IMAGE` on IMAGE (its saves go
# beside it), `run.sh` on ./test.nes of the current directory, or on the bundled demo cartridge
# when there is none, played from the per-user folder where its saves stay between runs.
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
data="${XDG_DATA_HOME:-}"
[ "${data#/}" != "$data" ] || data="$HOME/.local/share"
play="$data/nes/demo"
mkdir -p "$play"
cp "$demo" "$play/demo.nes.new" && mv -f "$play/demo.nes.new" "$play/demo.nes"
cd "$play"
exec "$root/build/nes" demo.nes
