#!/usr/bin/env bash
# Records the golden frame logs that the CTest test golden_frame_logs compares against:
#   scripts/record_golden.sh RUNNER OWN_ROM_DIR
# RUNNER is an nes-headless built from the code whose behaviour the logs pin down; OWN_ROM_DIR is
# the build tree's roms/ folder with our cartridges and the demo. The list of runs goes to
# tests/golden/manifest.tsv, each run's --frame-log to tests/golden/logs/NAME.log.
#
# A log that already exists is never rewritten: a difference found by the test is a fault of the
# code, not a new baseline. New runs (a new cartridge in a table) are appended and recorded.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
runner="$(realpath "$1")"
own="$(realpath "$2")"
shared="$root/../shared/test-roms"
golden="$root/tests/golden"
manifest="$golden/manifest.tsv"
mkdir -p "$golden/logs"

FRAMES=300  # per cartridge, unless a run names its own count

# Demo scripts: start, then a cycle of walking, jumping, throwing, turning, crouching, changing the
# time of day and pausing, repeated; and the sound check reached by Select on the title.
demo_play="--buttons 30:80 --buttons 32:00"
for base in 60 660 1260; do
  for p in 0:01 40:21 42:01 100:11 102:01 200:00 210:02 250:22 252:02 300:08 330:18 332:08 360:40 \
           362:00 400:80 402:00 430:01 460:81 462:01 560:00; do
    demo_play+=" --buttons $((base + ${p%%:*})):${p##*:}"
  done
done
demo_sound="--buttons 20:40 --buttons 22:00"

rows=()  # name, root (shared|own), path, frames, options
add() { rows+=("$1"$'\t'"$2"$'\t'"$3"$'\t'"$4"$'\t'"$5"); }
name_of() { local n="${1%.*}"; n="${n//\//__}"; echo "${n//[^A-Za-z0-9_.-]/_}"; }

# Every cartridge of the shared verdict table.
while IFS=$'\t' read -r path _ _ _; do
  add "$(name_of "$path")" shared "$path" "$FRAMES" ""
done < <(tail -n +2 "$shared/expected.tsv" | grep -v '^#' | grep -v '^$')
# The public demos beside them: many sprites, raster effects, music.
for path in other/Sayoonara!.NES other/CMC80s.NES other/RasterDemo.NES other/SimpleParallaxDemo.nes other/nestest.nes; do
  add "$(name_of "$path")" shared "$path" 600 ""
done
# Our own cartridges, with the options of their table.
while IFS=$'\t' read -r path _ _ options; do
  add "own__$(name_of "$path")" own "$path" "$FRAMES" "$options"
done < <(tail -n +2 "$root/tests/roms/own_cartridges.tsv" | grep -v '^#' | grep -v '^$')
while IFS=$'\t' read -r path _ _ _; do
  add "own__$(name_of "$path")" own "$path" "$FRAMES" ""
done < <(tail -n +2 "$root/tests/roms/screenshots.tsv" | grep -v '^#' | grep -v '^$')
# The demo with scripted input.
add demo_play own demo.nes 1860 "$demo_play"
add demo_sound_check own demo.nes 400 "$demo_sound"
# The benchmark cartridges.
for path in bench_sprites.nes bench_cpu.nes; do
  [ -f "$own/$path" ] && add "own__$(name_of "$path")" own "$path" "$FRAMES" ""
done

touch "$manifest"
for row in "${rows[@]}"; do
  IFS=$'\t' read -r name where path frames options <<<"$row"
  log="$golden/logs/$name.log"
  if grep -q "^$name	" "$manifest"; then continue; fi
  if [ -e "$log" ]; then echo "$log exists without a manifest row; not rewritten" >&2; exit 1; fi
  if [ "$where" = shared ]; then image="$shared/$path"; else image="$own/$path"; fi
  # shellcheck disable=SC2086  # options are words
  "$runner" "$image" --frames "$frames" --frame-log "$log" $options >/dev/null
  printf '%s\t%s\t%s\t%s\t%s\n' "$name" "$where" "$path" "$frames" "$options" >> "$manifest"
  echo "recorded $name ($frames frames)"
done
