#!/usr/bin/env bash
# Runs a libFuzzer campaign: scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]
# TARGET is loader, machine, snapshot or options. Builds the fuzz tree build-fuzz/ with clang
# (installed when missing), runs one job at low priority on a working copy of fuzz/corpus/TARGET,
# and leaves new inputs in build-fuzz/corpus/TARGET and any crashing input in build-fuzz/crashes/.
# A crashing input belongs in fuzz/corpus/TARGET once the fault is fixed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if [ $# -lt 2 ]; then
  echo "usage: scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]" >&2
  exit 2
fi
target="$1"; seconds="$2"; shift 2
case "$target" in loader|machine|snapshot|options) ;; *)
  echo "fuzz.sh: unknown target '$target' (loader, machine, snapshot, options)" >&2; exit 2;; esac
case "$seconds" in ''|*[!0-9]*) echo "fuzz.sh: SECONDS must be digits, got '$seconds'" >&2; exit 2;; esac

bash "$root/scripts/install-deps.sh" clang
tree="$root/build-fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNES_FUZZ=ON -DNES_BUILD_TESTS=OFF >/dev/null
nice -n 10 cmake --build "$tree" -j 2 --target "fuzz_$target"

work="$tree/corpus/$target"
crashes="$tree/crashes/$target"
mkdir -p "$work" "$crashes"
cd "$tree"
# New inputs go to the working corpus (first folder); the committed seeds are read only.
exec nice -n 10 "$tree/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix="$crashes/" -timeout=25 -rss_limit_mb=2048 "$@" "$work" "$root/fuzz/corpus/$target"
