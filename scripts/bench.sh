#!/usr/bin/env bash
# Emulation speed on five cartridges: the demo with scripted play, bench_sprites (64 moving
# sprites), bench_cpu (a CPU-bound loop with rendering off), bench_mmc3_split (the MMC3's
# interrupt splitting the screen every 16 lines) and bench_namco163 (all eight Namco 163 sound
# channels playing).
#   scripts/bench.sh [BUILD_DIR]        (default: build/, configured as Release when new)
# Prints for each: frames per second in-process (median and spread of five runs of bench_machine),
# the multiple of real time (60.0988 frames/s), and the instructions per frame that callgrind
# counts (the difference between two run lengths of nes-headless, so start-up does not count).
# Installs valgrind with apt-get when it is missing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target bench_machine nes-headless rom_demo rom_bench_sprites rom_bench_cpu rom_bench_mmc3_split rom_bench_namco163 -j2 >/dev/null

if ! command -v valgrind >/dev/null; then
  if [ "$(id -u)" = 0 ]; then apt-get install -y valgrind >/dev/null; else sudo apt-get install -y valgrind >/dev/null; fi
fi

json="$(mktemp)"
trap 'rm -f "$json"' EXIT
"$build/bench/bench_machine" --benchmark_filter='^BM_(Demo|Sprites|CpuBound|Mmc3Split|Namco163)/' --benchmark_repetitions=5 \
  --benchmark_out="$json" --benchmark_out_format=json >/dev/null 2>&1

# Instructions per frame: callgrind's count for FRAMES_LONG frames minus that for FRAMES_SHORT.
FRAMES_SHORT=120 FRAMES_LONG=360
demo_script="--buttons 30:80 --buttons 32:00 --buttons 60:01 --buttons 100:21 --buttons 102:01 --buttons 160:11 --buttons 162:01 --buttons 260:00 --buttons 270:02 --buttons 310:22 --buttons 312:02"
instructions() {  # image frames options...
  local image="$1" frames="$2"; shift 2
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$build/nes-headless" "$image" --frames "$frames" "$@" 2>&1 >/dev/null |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}
per_frame() {  # image options...
  local image="$1"; shift
  local short long
  short=$(instructions "$image" "$FRAMES_SHORT" "$@")
  long=$(instructions "$image" "$FRAMES_LONG" "$@")
  echo $(( (long - short) / (FRAMES_LONG - FRAMES_SHORT) ))
}
# shellcheck disable=SC2086
ipf_demo=$(per_frame "$build/roms/demo.nes" $demo_script)
ipf_sprites=$(per_frame "$build/roms/bench_sprites.nes")
ipf_cpu=$(per_frame "$build/roms/bench_cpu.nes")
ipf_mmc3=$(per_frame "$build/roms/bench_mmc3_split.nes")
ipf_n163=$(per_frame "$build/roms/bench_namco163.nes")

python3 - "$json" "$ipf_demo" "$ipf_sprites" "$ipf_cpu" "$ipf_mmc3" "$ipf_n163" <<'PY'
import json, statistics, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
ipf = dict(zip(["BM_Demo", "BM_Sprites", "BM_CpuBound", "BM_Mmc3Split", "BM_Namco163"], map(int, sys.argv[2:7])))
labels = {"BM_Demo": "(a) demo, scripted play", "BM_Sprites": "(b) bench_sprites", "BM_CpuBound": "(c) bench_cpu, rendering off",
          "BM_Mmc3Split": "(d) bench_mmc3_split", "BM_Namco163": "(e) bench_namco163, 8 channels"}
print(f"{'cartridge':32} {'frames/s median':>15} {'spread (min-max)':>18} {'x real time':>11} {'instr/frame':>12}")
for name, label in labels.items():
    fps = [r["frames_per_s"] for r in runs if r["name"].startswith(name + "/") and r.get("run_type") == "iteration"]
    if not fps:
        print(f"{label:32} no result"); continue
    m = statistics.median(fps)
    print(f"{label:32} {m:15.0f} {min(fps):8.0f}-{max(fps):<9.0f} {m / 60.0988:11.1f} {ipf[name] / 1e6:11.2f}M")
PY
