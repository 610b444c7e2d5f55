#!/usr/bin/env bash
# CPU use of each thread of the window program playing a cartridge at real time, on a virtual X
# display with SDL's disk sound driver (the sound goes to a file, at the driver's pace;
# SDL_AUDIODRIVER=none in the environment: the silent stand-in, which keeps the system clock's
# pace). The program runs WARM_UP seconds, then every thread's CPU time over SECONDS seconds is
# printed as % of one core, from utime + stime and from schedstat, with its waits per second
# (voluntary context switches), busiest first: the emulation thread is the busiest. Then the last
# REPORTS (default 1) once-a-second reports of NES_DEBUG.
#
# usage: bench/window_cpu.sh NES IMAGE [SECONDS [WARM_UP]]
set -euo pipefail
nes="$(realpath "$1")" image="$(realpath "$2")" seconds="${3:-30}" warm_up="${4:-5}"
work="$(mktemp -d)"
pids=()
cleanup() {  # the program first, then its display
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

cp "$image" "$work/test.nes"
(cd "$work" && exec env NES_DEBUG=1 SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-disk}" SDL_DISKAUDIOFILE="$work/sound.raw" \
  "$nes" >"$work/out" 2>"$work/err") &
nes_pid=$!
pids+=($nes_pid)
sleep "$warm_up"

# "TID NAME TICKS NS WAITS" for every thread: TICKS = utime + stime in clock ticks (fields 14
# and 15 of stat, counted after the name's closing parenthesis, as the name may hold spaces), NS the
# time on a CPU in nanoseconds (schedstat), the finer of the two, WAITS its voluntary context
# switches (each sleep or wait that blocked).
sample() {
  for task in /proc/"$nes_pid"/task/*; do
    local rest ns waits
    rest="$(sed 's/.*) //' "$task/stat" 2>/dev/null)" || continue
    read -r -a f <<<"$rest"
    ns="$(cut -d' ' -f1 "$task/schedstat" 2>/dev/null || echo 0)"
    waits="$(awk '/^voluntary_ctxt_switches/ {print $2}' "$task/status" 2>/dev/null || echo 0)"
    echo "${task##*/} $(tr ' ' '_' <"$task/comm") $(( f[11] + f[12] )) $ns $waits"
  done
}
before="$(sample)"
sleep "$seconds"
after="$(sample)"
hz="$(getconf CLK_TCK)"
echo "threads of the window program over $seconds s: % of one core (utime+stime, schedstat), waits/s"
join <(sort <<<"$before") <(sort <<<"$after") |
  awk -v hz="$hz" -v s="$seconds" '{printf "%8s %-16s %6.2f%% %6.2f%% %7.1f\n", $1, $2,
    ($7 - $3) * 100 / hz / s, ($8 - $4) / 1e7 / s, ($9 - $5) / s}' |
  sort -k4 -rn
grep "frames/s" "$work/out" | tail -n "${REPORTS:-1}"
