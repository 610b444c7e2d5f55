#!/usr/bin/env bash
# The window program on a virtual X display with a window manager: the window "NES" shows the same
# picture as the headless runner, keys reach the game, the speed keys change the speed, Escape
# switches the window style, closing ends the process with code 0, and a start that cannot go on
# (no display, no test.nes, bad image) ends with a message and a non-zero code. The sound: a minute
# each through SDL's disk driver and the silent stand-in with latency and underruns judged from the
# NES_DEBUG reports, the device's samples against the console's, no offset and no click.
#
# usage: window_test.sh NES NES_HEADLESS ROM_DIR SOUND_COMPARE   exit 0 passed, 1 failed, 77 skipped
set -uo pipefail

nes="$1" headless="$2" roms="$3" sound_compare="$4"
SKIP=77

for tool in Xvfb openbox xdotool xwininfo xprop import convert compare od; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"
    exit $SKIP
  fi
done

# In a ThreadSanitizer build: report races on stderr, but not Mesa's own (see tsan.supp).
sanitized="$(ldd "$nes" 2>/dev/null | grep -o libtsan || true)"
export TSAN_OPTIONS="${TSAN_OPTIONS:-} suppressions=$(cd "$(dirname "$0")" && pwd)/tsan.supp"

work="$(mktemp -d)"
started=()   # processes this script started, ended by id at the end
cleanup() {
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# --- the display: Xvfb on a free display number, and openbox to frame the windows
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
started+=($!)
exec 3>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
if [ ! -s "$work/display" ]; then
  echo "SKIP: Xvfb did not start: $(cat "$work/xvfb.log")"
  exit $SKIP
fi
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY
openbox >"$work/openbox.log" 2>&1 &
started+=($!)
for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break; sleep 0.05; done

# --- helpers
rom="$roms/host_buttons.nes"
[ -f "$rom" ] || { echo "FAIL: $rom is missing"; exit 1; }

# The window titled "NES" of process $1, waiting up to 10 s for it.
window_of() {
  for _ in $(seq 200); do
    for id in $(xdotool search --name '^NES$' 2>/dev/null); do
      [ "$(xdotool getwindowpid "$id" 2>/dev/null)" = "$1" ] && { echo "$id"; return 0; }
    done
    sleep 0.05
  done
  return 1
}

# Reference pictures from the headless runner, one per controller byte (hex).
reference() {
  local file="$work/ref_$1.png"
  [ -f "$file" ] || "$headless" "$rom" --frames 30 --buttons "0:$1" --screenshot "$file" >/dev/null
  echo "$file"
}

# The window's drawing area scaled back to 256x240, one pixel per block.
shot() { import -window "$1" png:- 2>/dev/null | convert png:- -sample '256x240!' "$2"; }

differing_pixels() { compare -metric AE "$1" "$2" null: 2>&1; }

# Waits up to 5 s for the window to show the headless picture of controller byte $2.
expect_picture() {
  local id="$1" mask="$2" what="$3" ref diff=""
  ref="$(reference "$mask")"
  for _ in $(seq 25); do
    shot "$id" "$work/shot.png"
    diff="$(differing_pixels "$work/shot.png" "$ref")"
    [ "$diff" = "0" ] && { pass "$what"; return 0; }
    sleep 0.2
  done
  cp "$work/shot.png" "$work/failed_$mask.png"
  fail "$what: $diff pixels differ from nes-headless --buttons 0:$mask"
}

# Last "sleep_interval N ms" and "F frames/s" reported on stdout ($1), empty when none.
last_sleep() { grep -o 'sleep_interval [0-9-]* ms' "$1" | tail -n1 | awk '{print $2}'; }
last_fps() { grep -o '[0-9.]* frames/s' "$1" | tail -n1 | awk '{print $1}'; }
# The second "frames/s" report after line $2 of $1 (the first still spans the time before), waiting
# up to 30 s for it.
fps_after() {
  local reports=""
  for _ in $(seq 300); do
    reports="$(tail -n +"$(( $2 + 1 ))" "$1" | grep -o '[0-9.]* frames/s' | awk '{print $1}')"
    [ "$(grep -c . <<<"$reports")" -ge 2 ] && { sed -n 2p <<<"$reports"; return; }
    sleep 0.1
  done
}
lines() { wc -l <"$1"; }

# Waits up to $2 seconds for process $1, a child of this shell, to end; sets `code` to its exit
# code, or to "running".
wait_exit() {
  local pid="$1" tenths=$(( $2 * 10 ))
  code=running
  for _ in $(seq "$tenths"); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      code=$?
      return
    fi
    sleep 0.1
  done
}

no_races() {
  if grep -q 'ThreadSanitizer' "$1"; then
    fail "$2: ThreadSanitizer reports: $(grep -m3 -A12 'WARNING: ThreadSanitizer' "$1")"
  else
    pass "$2: no ThreadSanitizer report"
  fi
}

# Waits up to $2 seconds for $3 once-a-second reports in $1/out.
wait_reports() {
  for _ in $(seq $(( $2 * 10 ))); do
    [ "$(grep -c 'sound latency' "$1/out")" -ge "$3" ] && return 0
    sleep 0.1
  done
  return 1
}

# The once-a-second reports of NES_DEBUG in $1/out over a run of real-time play: the median of the
# seconds' medians below 40 ms, no second's maximum at 60 ms or more, no underrun.
judge_latency() {
  local out="$1/out" what="$2" numbers
  numbers="$(grep 'sound latency' "$out" | sed -E 's/.*median ([0-9.]+) ms, max ([0-9.]+) ms; queue ([0-9.]+) ms; rate adjustment ([-+0-9.]+)% to ([-+0-9.]+)%; underruns [0-9]+ \(([0-9]+) in all\).*/\1 \2 \3 \4 \5 \6/')"
  read -r seconds median max queue low high underruns <<<"$(sort -n <<<"$numbers" | awk '
    {m[NR] = $1; if ($2 > x) x = $2; q += $3; if (NR == 1 || $4 < lo) lo = $4; if (NR == 1 || $5 > hi) hi = $5; if ($6 > u) u = $6 + 0}
    END {print NR + 0, (NR % 2 ? m[(NR + 1) / 2] : (m[NR / 2] + m[NR / 2 + 1]) / 2), x, q / NR, lo, hi, u + 0}')"
  if [ "$seconds" = 0 ]; then fail "$what: no reports"; return; fi
  echo "   $what: $seconds s, latency median $median ms, max $max ms, queue $queue ms," \
       "rate adjustment $low% to $high%, $underruns underruns"
  if [ -n "$sanitized" ]; then
    echo "   ($what: not judged in a ThreadSanitizer build, which runs far slower)"
    return
  fi
  # A machine too busy to give the emulation thread its few milliseconds in time shows here; the
  # kernel's CPU pressure (share of the last minute in which runnable tasks waited) tells.
  local busy=""
  [ -r /proc/pressure/cpu ] && busy=" (CPU pressure over the last minute: $(awk '/^some/ {sub("avg60=", "", $3); print $3}' /proc/pressure/cpu)%)"
  if awk -v m="$median" -v x="$max" 'BEGIN { exit !(m < 40 && x < 60) }'; then
    pass "$what: sound latency median $median ms, max $max ms"
  else
    fail "$what: sound latency median $median ms, max $max ms (limits 40 and 60)$busy"
  fi
  [ "$underruns" = 0 ] && pass "$what: no underrun in $seconds s" || fail "$what: $underruns underruns$busy"
}

# Starts nes in the folder DIR, with IMAGE (if not empty) copied there as test.nes and the
# environment changed by the remaining arguments (as `env` takes them); its output goes to DIR/out
# and DIR/err. Sets launched_pid.
launch() {
  local dir="$1" image="$2"
  shift 2
  mkdir -p "$dir"
  [ -n "$image" ] && cp "$image" "$dir/test.nes"
  (cd "$dir" && exec env "$@" "$nes" >"$dir/out" 2>"$dir/err") &
  launched_pid=$!
  started+=($launched_pid)
}

# --- the main run: picture, keys, speed keys, Escape, sound, closing
play="$work/play"
launch "$play" "$rom" NES_DEBUG=1 SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$play/sound.raw"
nes_pid=$launched_pid
if ! wid="$(window_of $nes_pid)"; then
  fail "no window titled NES appeared; stderr: $(cat "$play/err")"
  exit 1
fi
pass "window titled NES appeared"
summary=""
for _ in $(seq 50); do
  summary="$(grep -m1 'kB ROM' "$play/out")" && break
  sleep 0.1
done
[ "$summary" = "1 * 16kB ROM, 1 * 8kB VROM, mapper 0, ctrlbyte 00" ] \
  && pass "summary line on stdout" || fail "summary line is '$summary'"
expect_picture "$wid" 00 "window shows the headless picture"

xdotool windowactivate --sync "$wid" >/dev/null 2>&1
# Each key alone: the controller byte as the game reads it (one box lit per button).
for pair in Right:01 Left:02 Up:04 Down:08 x:10 z:20 space:40 Return:80 KP_Enter:80; do
  key="${pair%%:*}" mask="${pair##*:}"
  xdotool keydown "$key"
  expect_picture "$wid" "$mask" "key $key held gives buttons $mask"
  xdotool keyup "$key"
  expect_picture "$wid" 00 "key $key released"
done
xdotool keydown Right keydown z
expect_picture "$wid" 21 "Right and Z held give 21"
xdotool keyup z
expect_picture "$wid" 01 "releasing Z leaves 01"
xdotool keyup Right
# Keys outside the table change nothing: no button, no speed change.
sleep_lines="$(grep -c sleep_interval "$play/out")"
xdotool keydown a keydown s keydown F1 keydown plus keydown minus
sleep 0.3
expect_picture "$wid" 00 "A, S, F1 and the main keyboard's plus and minus press no button"
xdotool keyup a keyup s keyup F1 keyup plus keyup minus
[ "$(grep -c sleep_interval "$play/out")" = "$sleep_lines" ] \
  && pass "keys outside the table leave sleep_interval alone" \
  || fail "a key outside the table changed sleep_interval"

# Paced by the sound device: not faster than real time (60.1 frames/s). The first report includes
# the start's head start of two buffers; the disk driver's clock jitters by a period (20 ms), so
# single reports of one second wander a little and the mean is what counts.
sleep 2.5
mean="$(grep -o '[0-9.]* frames/s' "$play/out" | tail -n +2 | awk '{s += $1; n++} END {print n ? s / n : 0}')"
awk -v p="$mean" 'BEGIN { exit !(p > 0 && p <= 60.6) }' && pass "paced by the sound device: $mean frames/s" \
  || fail "not paced to real time: $mean frames/s"
fast="$(last_fps "$play/out")"
for _ in 1 2 3 4 5 6; do xdotool key KP_Add; done
sleep 0.3
[ "$(last_sleep "$play/out")" = 30 ] && pass "six keypad plus presses give 30 ms" \
  || fail "six keypad plus presses give '$(last_sleep "$play/out")' ms, not 30"
mark="$(lines "$play/out")"
slow="$(fps_after "$play/out" "$mark")"
echo "   frames/s: $fast at 0 ms, $slow at 30 ms"
if [ -n "$fast" ] && [ -n "$slow" ] && awk -v f="$fast" -v s="$slow" 'BEGIN { exit !(s < 0.75 * f) }'; then
  pass "30 ms of sleep slows the emulation down ($fast -> $slow frames/s)"
else
  fail "30 ms of sleep did not slow the emulation down ($fast -> $slow frames/s)"
fi
for _ in $(seq 8); do xdotool key KP_Subtract; done
sleep 0.3
[ "$(last_sleep "$play/out")" = 0 ] && pass "keypad minus stops at 0 ms" \
  || fail "eight keypad minus presses give '$(last_sleep "$play/out")' ms, not 0"
grep -q 'sleep_interval -' "$play/out" && fail "sleep_interval went below 0"
mark="$(lines "$play/out")"
again="$(fps_after "$play/out" "$mark")"
if [ -n "$again" ] && [ -n "$slow" ] && awk -v a="$again" -v s="$slow" 'BEGIN { exit !(a > 1.3 * s) }'; then
  pass "back at 0 ms the emulation speeds up again ($slow -> $again frames/s)"
else
  fail "back at 0 ms the emulation did not speed up ($slow -> $again frames/s)"
fi
# Holding keypad plus repeats it.
before="$(grep -c sleep_interval "$play/out")"
xdotool keydown KP_Add
sleep 1.2
xdotool keyup KP_Add
held="$(( $(grep -c sleep_interval "$play/out") - before ))"
[ "$held" -ge 3 ] && pass "holding keypad plus repeats ($held changes)" \
  || fail "holding keypad plus made $held changes"
while [ "$(last_sleep "$play/out")" != 0 ]; do xdotool key KP_Subtract; sleep 0.05; done

# Escape: bare 256x240 window kept on top at 0,0; again: the frame comes back, outer corner at 0,0.
geometry() { xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
                                      /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}'; }
extents() { xprop -id "$1" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g'; }
on_top() { xprop -id "$1" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE; }
xdotool key Escape
sleep 0.6
[ "$(geometry "$wid")" = "0 0 256 240" ] && pass "Escape: window at 0,0 with 256x240" \
  || fail "Escape: window at/size '$(geometry "$wid")', not '0 0 256 240'"
[ "$(extents "$wid")" = "0 0 0 0" ] && pass "Escape: no frame" || fail "Escape: frame '$(extents "$wid")'"
on_top "$wid" && pass "Escape: kept on top" || fail "Escape: not kept on top"
expect_picture "$wid" 00 "the bare window shows the picture 1:1"
xdotool key Escape
sleep 0.6
read -r left right top bottom <<<"$(extents "$wid")"
read -r x y w h <<<"$(geometry "$wid")"
if [ "${top:-0}" -gt 0 ] && [ "$x" = "$left" ] && [ "$y" = "$top" ] && [ "$w $h" = "256 240" ]; then
  pass "second Escape: framed again (frame $left $right $top $bottom), frame corner at 0,0, 256x240 inside"
else
  fail "second Escape: frame '$left $right $top $bottom', window '$x $y $w $h'"
fi
on_top "$wid" && pass "second Escape: still on top" || fail "second Escape: not on top"

# Sound: host_buttons leaves every channel off, so the console's level stands still (at 4500)
# throughout. The device must get silence (0) from its first sample on: no offset (the high-pass
# takes the level out) and no step at the start from the device's silence to the level.
read -r total loud peak <<<"$(od -An -t d2 -v -w2 "$play/sound.raw" 2>/dev/null |
  awk '{a = $1 < 0 ? -$1 : $1} a > 1 {l++} a > m {m = a} END {print NR, l + 0, m + 0}')"
if [ "$total" -ge 48000 ] && [ "$loud" = 0 ]; then
  pass "a silent console gives a silent device: $total samples, none beyond +-1"
else
  fail "a silent console gave $loud of $total device samples beyond +-1 (peak $peak)"
fi

# Closing: the window manager's close ends the process with code 0 within a second.
xdotool windowactivate --sync "$wid" >/dev/null 2>&1
xdotool key alt+F4
wait_exit $nes_pid 1
[ "$code" = 0 ] && pass "closing the window ends the process with code 0 within 1 s" \
  || fail "after closing the window: exit code '$code'"
no_races "$play/err" "main run"

# --- without any sound device: the silent stand-in keeps the same pace, a minute of the demo
demo="$roms/demo.nes"
[ -f "$demo" ] || { echo "FAIL: $demo is missing"; exit 1; }
LONG_RUN=62   # seconds of real-time play (reports) in each of the two long runs
quiet="$work/quiet"
launch "$quiet" "$demo" NES_DEBUG=1 SDL_AUDIODRIVER=none
quiet_pid=$launched_pid
if qid="$(window_of $quiet_pid)"; then
  wait_reports "$quiet" $(( 3 * LONG_RUN )) $LONG_RUN || fail "silent run: $(grep -c 'sound latency' "$quiet/out") reports"
  grep -q 'silent stand-in' "$quiet/out" && pass "no sound device: the silent stand-in consumes the sound" \
    || fail "no sound device: no silent stand-in reports: $(tail -n2 "$quiet/out")"
  # Real time is 60.1 frames/s; a second after a stall may catch up on up to 40 ms (2.4 frames).
  read -r mean peak <<<"$(grep -o '[0-9.]* frames/s' "$quiet/out" | tail -n +2 |
    awk '{s += $1; if ($1 > m) m = $1} END {print (NR ? s / NR : 0), m + 0}')"
  awk -v m="$mean" -v p="$peak" 'BEGIN { exit !(m > 0 && m <= 60.6 && p <= 62.6) }' \
    && pass "silent stand-in paces: $mean frames/s, at most $peak in a second" \
    || fail "silent stand-in: $mean frames/s, at most $peak in a second"
  judge_latency "$quiet" "silent stand-in"
  xdotool windowactivate --sync "$qid" >/dev/null 2>&1
  xdotool key alt+F4
  wait_exit $quiet_pid 1
  [ "$code" = 0 ] && pass "silent run closes with code 0" || fail "silent run after closing: '$code'"
else
  fail "no window in the run without sound device; stderr: $(cat "$quiet/err")"
fi
no_races "$quiet/err" "silent run"

# --- sound through the disk driver, a minute of the demo: latency and underruns; every sample the
# device gets is the console's, converted with the logged rate adjustments, in order; no offset
disk="$work/disk"
launch "$disk" "$demo" NES_DEBUG=1 SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$disk/sound.raw" \
  NES_RATE_LOG="$disk/rate.log"
disk_pid=$launched_pid
if did="$(window_of $disk_pid)"; then
  wait_reports "$disk" $(( 3 * LONG_RUN )) $LONG_RUN || fail "disk run: $(grep -c 'sound latency' "$disk/out") reports"
  judge_latency "$disk" "disk driver"
  xdotool windowactivate --sync "$did" >/dev/null 2>&1
  xdotool key alt+F4
  wait_exit $disk_pid 1
  # The first 15 s of the device's sound against the console's first 1000 frames (16.7 s).
  head -c $(( 15 * 48000 * 2 )) "$disk/sound.raw" >"$disk/start.raw"
  "$headless" "$disk/test.nes" --frames 1000 --wav "$disk/console.wav" >/dev/null
  if verdict="$("$sound_compare" "$disk/console.wav" "$disk/start.raw" 48000 "$disk/rate.log")"; then
    pass "the demo's sound reaches the device unchanged: $verdict"
  else
    fail "the demo's sound on the device: $verdict"
  fi
  # No offset: the mixer's silent level is -15000 (nearly half the full scale); the device's mean
  # must be near 0 while the music plays.
  read -r mean rms <<<"$(od -An -t d2 -v -w2 "$disk/sound.raw" | awk '{s += $1; q += $1 * $1}
    END {print s / NR, sqrt(q / NR)}')"
  awk -v m="$mean" -v r="$rms" 'BEGIN { exit !(m > -50 && m < 50 && r > 300) }' \
    && pass "no offset on the device: mean $mean, rms $rms" || fail "device offset: mean $mean (rms $rms)"
else
  fail "no window in the disk-driver run; stderr: $(cat "$disk/err")"
fi
no_races "$disk/err" "disk-driver run"

# --- starts that cannot go on: one line on stderr, a message box, a non-zero exit code
message_box() {  # the top-level window titled NES without a class: SDL's message box
  xwininfo -root -tree 2>/dev/null | awk '/"NES": \(\)/ {print $1; exit}'
}
refused_start() {
  local name="$1" dir="$work/$1" expect="$2" pid box
  mkdir -p "$dir"
  [ -n "${3:-}" ] && printf "$3" >"$dir/test.nes"
  launch "$dir" ""
  pid=$launched_pid
  box=""
  for _ in $(seq 100); do box="$(message_box)"; [ -n "$box" ] && break; sleep 0.1; done
  if [ -n "$box" ]; then
    pass "$name: message box shown"
    xdotool windowactivate --sync "$((box))" >/dev/null 2>&1
    xdotool key Return
  else
    fail "$name: no message box"
  fi
  wait_exit "$pid" 5
  [ "$code" != running ] && [ "$code" != 0 ] && pass "$name: exit code $code" \
    || fail "$name: exit code '$code'"
  if [ "$(grep -c '^nes: ' "$dir/err")" = 1 ] && grep -q "^nes: .*$expect" "$dir/err"; then
    pass "$name: one line on stderr: $(grep '^nes: ' "$dir/err")"
  else
    fail "$name: stderr is not one line naming '$expect': $(cat "$dir/err")"
  fi
}
refused_start "no test.nes" "test.nes: cannot open"
refused_start "bad magic" "not an iNES image" 'NEZ\032\001\001\000\000\000\000\000\000\000\000\000\000'
refused_start "PRG size 0" "PRG ROM size is 0" 'NES\032\000\001\000\000\000\000\000\000\000\000\000\000'

nodisplay="$work/nodisplay"
launch "$nodisplay" "$rom" -u DISPLAY -u WAYLAND_DISPLAY
pid=$launched_pid
wait_exit $pid 10
[ "$code" != running ] && [ "$code" != 0 ] && pass "no display: exit code $code" \
  || fail "no display: exit code '$code'"
# (the display libraries may add their own complaints before it)
[ "$(grep -c '^nes: ' "$nodisplay/err")" = 1 ] && grep -q '^nes: no display' "$nodisplay/err" \
  && pass "no display: one line on stderr: $(grep '^nes: ' "$nodisplay/err")" \
  || fail "no display: stderr: $(cat "$nodisplay/err")"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
