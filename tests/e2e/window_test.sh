#!/usr/bin/env bash
# The window program on a virtual X display with a window manager: the window "NES" shows the same
# picture as the headless runner, keys reach the game, the speed keys change the speed, Escape
# switches the window style, closing ends the process with code 0, and a start that cannot go on
# (no display, no test.nes, bad image) ends with a message and a non-zero code. On host_state, a
# cartridge of ours with a battery: the battery file, save-state slots (also read by the headless
# runner), rewind, pause, full screen, the reset button, SIGTERM and SIGINT; an image named on the
# command line and images dropped on the window; virtual game controllers on both ports; run-ahead.
# The sound: a minute each through SDL's disk driver and the silent stand-in with latency and underruns judged from the NES_DEBUG reports, the device's samples against the
# console's (also with run-ahead 2), no offset and no click; on the demo's music a pause, a rewind,
# F7, the reset button and fast-forward (Tab) ramp the sound instead of cutting it and leave no gap.
# The light gun (--zapper) on our zapper cartridge: aimed with the mouse, pulled with a click.
# A configuration file that moves A, sets turbo B and has a wrong line (named with its number).
# Last, the window manager ends while a game runs: F11 still fills the screen, and gives the window back.
#
# usage: window_test.sh NES NES_HEADLESS ROM_DIR SOUND_COMPARE   exit 0 passed, 1 failed, 77 skipped
set -uo pipefail

nes="$1" headless="$2" roms="$3" sound_compare="$4"
nes_command=("$nes")
source "$(cd "$(dirname "$0")" && pwd)/window_lib.sh"

# In a ThreadSanitizer build: report races on stderr, but not Mesa's own (see tsan.supp).
sanitized="$(ldd "$nes" 2>/dev/null | grep -o libtsan || true)"
export TSAN_OPTIONS="${TSAN_OPTIONS:-} suppressions=$(cd "$(dirname "$0")" && pwd)/tsan.supp"

start_display
rom="$roms/host_buttons.nes"
[ -f "$rom" ] || { echo "FAIL: $rom is missing"; exit 1; }

# Last "F frames/s" reported on stdout ($1), empty when none.
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
  # Even on an otherwise idle shared machine the scheduler has been seen to hold the emulation
  # thread past the queue's 22 ms once in a minute; more than that is a fault of ours.
  if [ "$underruns" -le "$TOLERATED_UNDERRUNS" ]; then
    pass "$what: $underruns underruns in $seconds s (at most $TOLERATED_UNDERRUNS tolerated)"
  else
    fail "$what: $underruns underruns in $seconds s$busy"
  fi
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

check_controller_keys "$wid"
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
expect_message "$play/err" "Slower: 30 ms pause per 10000 instructions" "keypad plus shows the pace"
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
expect_message "$play/err" "Faster: no pause, full speed" "keypad minus shows the pace"
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
check_escape_bare "$wid"
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
close_and_expect_0 $nes_pid "$wid" 1 "main run"
no_races "$play/err" "main run"

# --- without any sound device: the silent stand-in keeps the same pace, a minute of the demo
demo="$roms/demo.nes"
[ -f "$demo" ] || { echo "FAIL: $demo is missing"; exit 1; }
LONG_RUN=62   # seconds of real-time play (reports) in each of the two long runs
TOLERATED_UNDERRUNS=1  # in one long run
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

# --- run-ahead 2: each frame is followed by two frames run unheard, and the device still gets the
# console's own sound, sample for sample
ahead="$work/ahead"
nes_args=(--run-ahead 2)
launch "$ahead" "$roms/apu_pulse_notes.nes" NES_DEBUG=1 SDL_AUDIODRIVER=disk \
  SDL_DISKAUDIOFILE="$ahead/sound.raw" NES_RATE_LOG="$ahead/rate.log"
nes_args=()
ahead_pid=$launched_pid
if aid="$(window_of $ahead_pid)"; then
  wait_reports "$ahead" 60 4 || fail "run-ahead sound run: $(grep -c 'sound latency' "$ahead/out") reports"
  close_and_expect_0 $ahead_pid "$aid" 1 "run-ahead sound run"
  head -c $(( 3 * 48000 * 2 )) "$ahead/sound.raw" >"$ahead/start.raw"
  "$headless" "$ahead/test.nes" --frames 300 --wav "$ahead/console.wav" >/dev/null
  if verdict="$("$sound_compare" "$ahead/console.wav" "$ahead/start.raw" 48000 "$ahead/rate.log")"; then
    pass "with run-ahead 2 the pulse notes reach the device unchanged: $verdict"
  else
    fail "with run-ahead 2 the pulse notes on the device: $verdict"
  fi
else
  fail "no window in the run-ahead sound run; stderr: $(cat "$ahead/err")"
fi
no_races "$ahead/err" "run-ahead sound run"

# --- the program's own breaks in the demo's music, through the disk driver: a pause, a rewind, F7,
# the reset button and fast-forward each ramp the sound down and up instead of cutting it, no gap
# follows, and the once-a-second reports stay sane across them; fast-forward runs at least 8 times
# real time.
breaks="$work/breaks"
launch "$breaks" "$demo" NES_DEBUG=1 SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$breaks/sound.raw"
breaks_pid=$launched_pid
if bid="$(window_of $breaks_pid)"; then
  wait_reports "$breaks" 30 2 || fail "breaks run: $(grep -c 'sound latency' "$breaks/out") reports"
  xdotool windowactivate --sync "$bid" >/dev/null 2>&1
  # Each step holds for about a second of music (the player's time, not a wait for a result).
  xdotool key F5
  expect_message "$breaks/err" "State saved to slot 0" "breaks run: F5"
  sleep 1
  xdotool key p
  expect_message "$breaks/err" "Paused" "breaks run: P pauses"
  sleep 1
  xdotool key p
  expect_message "$breaks/err" "Resumed" "breaks run: P resumes"
  sleep 1
  xdotool keydown BackSpace
  sleep 1
  xdotool keyup BackSpace
  sleep 1
  xdotool key F7
  expect_message "$breaks/err" "State loaded from slot 0" "breaks run: F7"
  sleep 1
  # Right after the reset, slot 1 keeps the state from which the console's own sound after it is
  # made again below: a game restarting its tune may step further than it does from power-on.
  xdotool key --delay 0 ctrl+r 1 F5
  expect_message "$breaks/err" "Reset" "breaks run: Ctrl+R"
  expect_message "$breaks/err" "State saved to slot 1" "breaks run: the state after the reset saved"
  sleep 1
  check_fast_forward "$breaks/out"
  close_and_expect_0 $breaks_pid "$bid" 1 "breaks run"
  # Every report of play: a frame rate near real time, latencies of play, no underrun from a break.
  read -r reports worst_rate worst_latency underruns <<<"$(grep 'sound latency' "$breaks/out" | tail -n +2 |
    sed -E 's/^nes: ([0-9.]+) frames\/s.* max ([0-9.]+) ms.*\(([0-9]+) in all\).*/\1 \2 \3/' |
    awk '{d = $1 > 60.1 ? $1 - 60.1 : 60.1 - $1; if (d > w) {w = d; r = $1}; if ($2 > l) l = $2; u = $3}
         END {print NR + 0, r + 0, l + 0, u + 0}')"
  if [ "$reports" -ge 8 ] && awk -v r="$worst_rate" -v l="$worst_latency" 'BEGIN { exit !(r > 45 && r < 75 && l < 100) }' \
     && [ "$underruns" -le "$TOLERATED_UNDERRUNS" ]; then
    pass "breaks run: $reports reports, frame rates 60.1 +- $(awk -v r="$worst_rate" 'BEGIN {d = r - 60.1; print d < 0 ? -d : d}'), latency at most $worst_latency ms, $underruns underruns"
  else
    fail "breaks run: $reports reports, worst frame rate $worst_rate, latency up to $worst_latency ms, $underruns underruns: $(grep 'sound latency' "$breaks/out" | tail -n 5)"
  fi
  "$headless" "$breaks/test.nes" --frames 2000 --wav "$breaks/console.wav" >/dev/null
  "$headless" "$breaks/test.nes" --load-state "$breaks/test.st1" --frames 600 --wav "$breaks/reset.wav" >/dev/null
  if verdict="$("$sound_compare" --breaks "$breaks/sound.raw" 48000 "$breaks/console.wav" "$breaks/reset.wav")"; then
    pass "the demo's music across the breaks: $verdict"
  else
    fail "the demo's music across the breaks: $verdict"
  fi
else
  fail "no window in the breaks run; stderr: $(cat "$breaks/err")"
fi
no_races "$breaks/err" "breaks run"

# --- the session keys on host_state, a cartridge with history and a battery: it shows the
# controller, the count of A presses since the last reset and the count of starts kept at $6000
state_rom="$roms/host_state.nes"
session="$work/session"
launch "$session" "$state_rom" SDL_AUDIODRIVER=none
session_pid=$launched_pid
if sid="$(window_of $session_pid)"; then
  xdotool windowactivate --sync "$sid" >/dev/null 2>&1
  expect_shot "$sid" "$(count_ref 0 00 1)" "host_state starts: count 0, 1 start"
  expect_battery "$session/test.sav" 1 "battery file written about a second after the start"
  # A second program on the same image says that the battery file is taken, counts its own start
  # (2 starts) without writing it, and leaves the first one's file as it is.
  check_second_program "$session" "second program" 10 SDL_AUDIODRIVER=none
  xdotool windowactivate --sync "$sid" >/dev/null 2>&1
  for n in 1 2 3; do press_a "$sid" $n 1; done

  # Save states: slot 3 saved at count 3, two more presses, loaded: count 3 again.
  xdotool key 3
  expect_message "$session/err" "State slot 3" "key 3 chooses slot 3"
  xdotool key F5
  expect_message "$session/err" "State saved to slot 3" "F5 saves"
  [ -f "$session/test.st3" ] && pass "F5 wrote test.st3 beside the image" || fail "no test.st3 after F5"
  for n in 4 5; do press_a "$sid" $n 1; done
  xdotool key F7
  expect_message "$session/err" "State loaded from slot 3" "F7 loads"
  expect_shot "$sid" "$(count_ref 3 00 1)" "F7 brings count 3 back"
  "$headless" "$state_rom" --load-state "$session/test.st3" --frames 30 --screenshot "$work/st3.png" >/dev/null \
    && [ "$(differing_pixels "$work/st3.png" "$(count_ref 3 00 1)")" = 0 ] \
    && pass "test.st3 loads in nes-headless --load-state and shows count 3" \
    || fail "test.st3 in nes-headless --load-state: $(differing_pixels "$work/st3.png" "$(count_ref 3 00 1)") pixels differ"
  # Refused loads leave the game as it is and say why.
  "$headless" "$rom" --frames 5 --save-state "$session/test.st4" >/dev/null
  xdotool key 4 F7
  expect_message "$session/err" "Slot 4 not loaded" "a state of another cartridge is refused"
  head -c 100 "$session/test.st3" >"$session/test.st6"
  xdotool key 6 F7
  expect_message "$session/err" "Slot 6 not loaded" "a cut state file is refused"
  xdotool key 5 F7
  expect_message "$session/err" "Slot 5 is empty" "an empty slot is refused"
  expect_shot "$sid" "$(count_ref 3 00 1)" "after the refused loads the game still shows count 3"

  # Rewind: count 4 now; holding Backspace goes back to count 3, and the game goes on from there.
  press_a "$sid" 4 1
  xdotool keydown BackSpace
  expect_shot "$sid" "$(count_ref 3 00 1)" "holding Backspace rewinds to count 3"
  xdotool keyup BackSpace
  press_a "$sid" 4 1

  # Pause: the game stops reading the controller, the window shows "Paused" over the picture.
  xdotool key p
  expect_message "$session/err" "Paused" "P pauses"
  xdotool keydown z
  sleep 1  # the game would show A held within a frame if it ran
  shot "$sid" "$work/paused.png"
  top "$work/paused.png" "$work/paused_top.png"
  top "$(count_ref 4 00 1)" "$work/ref_top.png"
  [ "$(differing_pixels "$work/paused_top.png" "$work/ref_top.png")" = 0 ] \
    && pass "paused: A held is not seen, the picture stands" || fail "paused: the picture changed"
  [ "$(differing_pixels "$work/paused.png" "$(count_ref 4 00 1)")" != 0 ] \
    && pass "paused: the window shows a note over the picture" || fail "paused: no note over the picture"
  xdotool keyup z
  # Still paused, F7 shows the loaded state's picture at once (under the notes), and the game goes
  # on from it when resumed.
  top_shot() { shot "$1" "$work/top_full.png" && top "$work/top_full.png" "$2"; }
  top "$(count_ref 3 00 1)" "$work/ref3_top.png"
  xdotool key 3 F7
  expect_shot "$sid" "$work/ref3_top.png" "F7 while paused shows the loaded picture at once" top_shot
  xdotool key p
  expect_message "$session/err" "Resumed" "P again resumes"
  press_a "$sid" 4 1
  press_a "$sid" 5 1

  # Full screen: the picture at the largest whole scale (3 on 1024x768), centred on black.
  full_shot() { import -window "$1" png:- 2>/dev/null | convert png:- -crop 768x720+128+24 +repage -sample '256x240!' "$2"; }
  xdotool key F11
  for _ in $(seq 50); do [ "$(geometry "$sid")" = "0 0 1024 768" ] && break; sleep 0.1; done
  [ "$(geometry "$sid")" = "0 0 1024 768" ] && pass "F11: the window covers the screen" \
    || fail "F11: window at/size '$(geometry "$sid")'"
  expect_shot "$sid" "$(count_ref 5 00 1)" "F11: the picture scaled 3 times, centred" full_shot
  import -window "$sid" png:- 2>/dev/null | convert png:- -crop 128x768+0+0 +repage "$work/border.png"
  [ "$(convert "$work/border.png" -format '%[fx:maxima]' info:)" = 0 ] && pass "F11: black beside the picture" \
    || fail "F11: the border is not black"
  xdotool key F11
  for _ in $(seq 50); do [ "$(geometry "$sid")" != "0 0 1024 768" ] && break; sleep 0.1; done
  expect_shot "$sid" "$(count_ref 5 00 1)" "F11 again: back in the window, same picture"
  xdotool key alt+Return
  for _ in $(seq 50); do [ "$(geometry "$sid")" = "0 0 1024 768" ] && break; sleep 0.1; done
  [ "$(geometry "$sid")" = "0 0 1024 768" ] && pass "Alt+Enter: full screen" \
    || fail "Alt+Enter: window at/size '$(geometry "$sid")'"
  expect_shot "$sid" "$(count_ref 5 00 1)" "Alt+Enter does not press Start" full_shot
  xdotool key Escape
  for _ in $(seq 50); do [ "$(geometry "$sid")" = "0 0 256 240" ] && break; sleep 0.1; done
  [ "$(geometry "$sid")" = "0 0 256 240" ] && pass "Escape in full screen: the bare 256x240 window at 0,0" \
    || fail "Escape in full screen: window at/size '$(geometry "$sid")'"
  xdotool key Escape

  # The reset button: the count of A presses starts again, the battery's count of starts goes up.
  xdotool key ctrl+r
  expect_message "$session/err" "Reset" "Ctrl+R resets"
  expect_shot "$sid" "$(count_ref 0 00 2)" "Ctrl+R: count 0, 2 starts"
  # SIGTERM right after a change: the battery file is written before the end.
  xdotool key ctrl+r
  expect_shot "$sid" "$(count_ref 0 00 3)" "Ctrl+R again: 3 starts"
  kill -TERM $session_pid
  wait_exit $session_pid 10
  [ "$code" = 0 ] && pass "SIGTERM ends the program with code 0" || fail "after SIGTERM: exit code '$code'"
  expect_battery "$session/test.sav" 3 "battery file written at SIGTERM"
else
  fail "no window in the session run; stderr: $(cat "$session/err")"
fi
no_races "$session/err" "session run"

# --- an image on the command line, its files beside it; dropping images on the window
game="$work/games/game.nes"
mkdir -p "$work/games" "$work/elsewhere"
cp "$state_rom" "$game"
cp "$session/test.sav" "$work/games/game.sav"
nes_args=("$game")
printf 'not an image' >"$work/games/dropped.nes"
launch "$work/elsewhere" "" NES_TEST_DROP="$work/games/dropped.nes" SDL_AUDIODRIVER=none
nes_args=()
arg_pid=$launched_pid
if aid="$(window_of $arg_pid)"; then
  xdotool windowactivate --sync "$aid" >/dev/null 2>&1
  expect_shot "$aid" "$(count_ref 0 00 4)" "nes IMAGE plays IMAGE with its battery file: 4 starts"
  xdotool key F5
  expect_message "$work/elsewhere/err" "State saved to slot 0" "F5 with an image argument"
  [ -f "$work/games/game.st0" ] && [ ! -e "$work/elsewhere/game.st0" ] \
    && pass "the state is game.st0 beside the image" || fail "game.st0 is not beside the image"
  kill -USR1 $arg_pid
  expect_message "$work/elsewhere/err" "Not opened" "a dropped file that is no image"
  expect_shot "$aid" "$(count_ref 0 00 4)" "after the refused drop the old game runs on"
  xdotool key ctrl+r
  expect_shot "$aid" "$(count_ref 0 00 5)" "Ctrl+R: 5 starts"
  cp "$rom" "$work/games/dropped.nes"
  kill -USR1 $arg_pid
  expect_message "$work/elsewhere/err" "Opened" "a dropped image is opened"
  expect_picture "$aid" 00 "the dropped host_buttons runs"
  expect_battery "$work/games/game.sav" 5 "the old game's battery file is written before the switch"
  kill -INT $arg_pid
  wait_exit $arg_pid 10
  [ "$code" = 0 ] && pass "SIGINT ends the program with code 0" || fail "after SIGINT: exit code '$code'"
else
  fail "no window for nes IMAGE; stderr: $(cat "$work/elsewhere/err")"
fi
no_races "$work/elsewhere/err" "image argument run"

# --- a mapper this program lacks: host_state with its header made mapper 99 (bytes 12-15 zero). It
# runs on with a note over the picture, and its battery file is never written.
odd="$work/unsupported"
mkdir -p "$odd"
cp "$state_rom" "$odd/test.nes"
printf '\x32\x60' | dd of="$odd/test.nes" bs=1 seek=6 conv=notrunc 2>/dev/null  # battery, mapper 99
battery_file 9 "$odd/test.sav"
cp "$odd/test.sav" "$work/unsupported_before.sav"
launch "$odd" "" SDL_AUDIODRIVER=none
odd_pid=$launched_pid
if oid="$(window_of $odd_pid)"; then
  expect_message "$odd/err" "mapper 99 is not supported; this game will not run correctly" "an unsupported mapper"
  # The note is over the bottom of the picture while the top shows the game (it started with empty
  # RAM, as the headless run of the same image does), and the whole picture once the note is gone.
  odd_ref="$(reference_of unsupported "$odd/test.nes")"
  top "$odd_ref" "$work/odd_ref_top.png"
  noted=""
  for _ in $(seq 50); do
    shot "$oid" "$work/odd.png"
    top "$work/odd.png" "$work/odd_top.png"
    [ "$(differing_pixels "$work/odd_top.png" "$work/odd_ref_top.png")" = 0 ] && \
      [ "$(differing_pixels "$work/odd.png" "$odd_ref")" != 0 ] && { noted=1; break; }
    sleep 0.1
  done
  [ -n "$noted" ] && pass "an unsupported mapper: the note shows over the running game" \
    || fail "an unsupported mapper: no note over the picture"
  expect_shot "$oid" "$odd_ref" "an unsupported mapper: the game runs on after the note"
  sleep 2  # the battery's delay is one second: a write would be due by now
  kill -TERM $odd_pid
  wait_exit $odd_pid 10
  [ "$code" = 0 ] && pass "an unsupported mapper: SIGTERM ends with code 0" || fail "unsupported mapper: exit code '$code'"
  cmp -s "$odd/test.sav" "$work/unsupported_before.sav" \
    && pass "an unsupported mapper: test.sav left byte for byte as it was" \
    || fail "an unsupported mapper: test.sav was changed"
else
  fail "no window for the unsupported mapper; stderr: $(cat "$odd/err")"
fi

# --- a mapper-4 cartridge of ours: bench_mmc3_split, whose MMC3 interrupt splits the picture into
# fifteen bands that scroll at their own speeds, with sprites over them and a tune. The window
# shows it moving, in many colours, and its sound reaches the device.
mmc3="$work/mmc3"
launch "$mmc3" "$roms/bench_mmc3_split.nes" SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$mmc3/sound.raw"
mmc3_pid=$launched_pid
if mid="$(window_of $mmc3_pid)"; then
  moved=""
  shot "$mid" "$mmc3/first.png"
  for _ in $(seq 50); do
    sleep 0.2
    shot "$mid" "$mmc3/later.png"
    [ "$(differing_pixels "$mmc3/first.png" "$mmc3/later.png")" != 0 ] && { moved=yes; break; }
  done
  colours="$(convert "$mmc3/later.png" -format %k info:)"
  [ -n "$moved" ] && [ "$colours" -ge 8 ] && pass "mapper 4: the split picture moves ($colours colours)"     || fail "mapper 4: picture moved '${moved:-no}', $colours colours"
  # The tune: wait up to 10 s for two seconds of sound on the device, then its level.
  for _ in $(seq 100); do
    [ "$(stat -c %s "$mmc3/sound.raw" 2>/dev/null || echo 0)" -ge $(( 2 * 48000 * 2 )) ] && break
    sleep 0.1
  done
  rms="$(head -c $(( 2 * 48000 * 2 )) "$mmc3/sound.raw" | od -An -t d2 -v -w2 |
    awk '{q += $1 * $1} END {print NR ? int(sqrt(q / NR)) : 0}')"
  [ "$rms" -gt 300 ] && pass "mapper 4: its tune reaches the sound device (rms $rms)"     || fail "mapper 4: the sound device got rms $rms"
  close_and_expect_0 "$mmc3_pid" "$mid" 5 "mapper 4 run"
else
  fail "no window for the mapper-4 cartridge; stderr: $(cat "$mmc3/err")"
fi
no_races "$mmc3/err" "mapper-4 run"

# --- game controllers: virtual ones (NES_TEST_PADS) on both ports, plugged in and out while it runs
ROW_1=96 ROW_2=144 ROW_FRAMES=160   # host_state's rows of the first and second controller, frames
# The headless picture of host_state with the first controller holding $1 (hex).
buttons_ref() { reference_of "state_buttons_$1" "$state_rom" --buttons "0:$1"; }
# Waits up to 10 s for the row at y=$2 of window $1 to equal the first controller's row of
# buttons_ref $3.
expect_row() {
  local id="$1" y="$2" mask="$3" what="$4" diff=""
  convert "$(buttons_ref "$mask")" -crop "256x8+0+$ROW_1" +repage "$work/row_ref.png"
  for _ in $(seq 50); do
    shot "$id" "$work/row_shot.png"
    convert "$work/row_shot.png" -crop "256x8+0+$y" +repage "$work/row.png"
    diff="$(differing_pixels "$work/row.png" "$work/row_ref.png")"
    [ "$diff" = 0 ] && { pass "$what"; return 0; }
    sleep 0.2
  done
  fail "$what: $diff pixels differ from the row of buttons $mask"
}
pads="$work/pads"
mkdir -p "$pads"
printf '\n\n' >"$pads/pads.txt"
launch "$pads" "$state_rom" NES_TEST_PADS="$pads/pads.txt" SDL_AUDIODRIVER=none
pads_pid=$launched_pid
if pid_window="$(window_of $pads_pid)"; then
  xdotool windowactivate --sync "$pid_window" >/dev/null 2>&1
  expect_shot "$pid_window" "$(count_ref 0 00 1)" "two pads plugged in, nothing held"
  printf 'b\n\n' >"$pads/pads.txt"
  expect_shot "$pid_window" "$(count_ref 1 20 1)" "pad 1 east button is A on controller 1 (A counted)"
  printf '\na dpright\n' >"$pads/pads.txt"
  expect_row "$pid_window" $ROW_2 11 "pad 2 south button and D-pad right: B and Right on controller 2"
  expect_row "$pid_window" $ROW_1 00 "pad 2 leaves controller 1 alone"
  printf 'left up\n\n' >"$pads/pads.txt"
  expect_row "$pid_window" $ROW_1 06 "pad 1 left stick up-left: Up and Left"
  expect_row "$pid_window" $ROW_2 00 "controller 2 released"
  printf 'nudge\n\n' >"$pads/pads.txt"
  expect_row "$pid_window" $ROW_1 00 "a stick inside the dead zone presses nothing"
  printf 'back start\n\n' >"$pads/pads.txt"
  expect_row "$pid_window" $ROW_1 c0 "pad 1 Back and Start: Select and Start"
  printf 'dpdown\n\n' >"$pads/pads.txt"
  xdotool keydown x
  expect_row "$pid_window" $ROW_1 18 "keyboard X and pad 1 down together: B and Down"
  xdotool keyup x
  expect_row "$pid_window" $ROW_1 08 "keyboard X released, pad 1 still down"
  printf -- '-\nstart\n' >"$pads/pads.txt"
  expect_row "$pid_window" $ROW_1 00 "pad 1 unplugged: controller 1 released"
  expect_row "$pid_window" $ROW_2 80 "pad 2 stays on controller 2"
  printf 'dpup\nstart\n' >"$pads/pads.txt"
  expect_row "$pid_window" $ROW_1 04 "pad 1 plugged in again drives controller 1"
  xdotool windowactivate --sync "$pid_window" >/dev/null 2>&1
  xdotool key alt+F4
  wait_exit $pads_pid 10
  [ "$code" = 0 ] && pass "game controller run closes with code 0" || fail "game controller run: exit code '$code'"
else
  fail "no window in the game controller run; stderr: $(cat "$pads/err")"
fi
no_races "$pads/err" "game controller run"

# --- run-ahead: the picture shown is N frames ahead of the machine's state. Paused, the state
# saved to a slot and run N frames in nes-headless gives the picture the window shows.
ahead="$work/ahead"
nes_args=(--run-ahead 2)
launch "$ahead" "$state_rom" SDL_AUDIODRIVER=none
nes_args=()
ahead_pid=$launched_pid
# Checks that window $1, paused, shows the picture of its state (saved to slot $2) after $3 frames.
check_ahead() {
  local id="$1" slot="$2" n="$3" lines
  lines="$(grep -c . "$ahead/err")"
  xdotool key p
  xdotool key "$slot" F5
  for _ in $(seq 100); do
    tail -n +"$((lines + 1))" "$ahead/err" | grep -q "State saved to slot $slot" && break
    sleep 0.1
  done
  shot "$id" "$work/ahead_window.png"
  "$headless" "$state_rom" --load-state "$ahead/test.st$slot" --frames "$n" --screenshot "$work/ahead_ref.png" >/dev/null
  top "$work/ahead_window.png" "$work/ahead_window_top.png"
  top "$work/ahead_ref.png" "$work/ahead_ref_top.png"
  local diff
  diff="$(differing_pixels "$work/ahead_window_top.png" "$work/ahead_ref_top.png")"
  [ "$diff" = 0 ] && pass "run-ahead $n: the window shows the state's picture $n frames on" \
    || fail "run-ahead $n: $diff pixels differ from the state run $n frames in nes-headless"
  xdotool key p
}
if hid="$(window_of $ahead_pid)"; then
  xdotool windowactivate --sync "$hid" >/dev/null 2>&1
  expect_shot "$hid" "$(count_ref 0 00 1)" "run-ahead 2: host_state starts, 1 start"
  press_a "$hid" 1 1
  # Select shows the frame count, so that every frame's picture differs.
  xdotool keydown space
  counting=""
  for _ in $(seq 50); do
    shot "$hid" "$work/frames.png"
    [ "$(convert "$work/frames.png" -crop "256x8+0+$ROW_FRAMES" +repage -format '%[fx:maxima]' info:)" != 0 ] \
      && { counting=yes; break; }
    sleep 0.2
  done
  xdotool keyup space
  [ -n "$counting" ] || fail "run-ahead: Select did not bring up host_state's frame count"
  check_ahead "$hid" 1 2
  xdotool key F9
  expect_message "$ahead/err" "Run-ahead: 0 frames" "F9 from 2 gives 0"
  xdotool key F9
  expect_message "$ahead/err" "Run-ahead: 1 frame" "F9 again gives 1"
  check_ahead "$hid" 2 1
  expect_battery "$ahead/test.sav" 1 "run-ahead: the frames run ahead leave RAM alone"
  xdotool windowactivate --sync "$hid" >/dev/null 2>&1
  xdotool key alt+F4
  wait_exit $ahead_pid 10
else
  fail "no window in the run-ahead run; stderr: $(cat "$ahead/err")"
fi
no_races "$ahead/err" "run-ahead run"

# --- the command line
"$nes" --help >"$work/help.txt" 2>&1 && grep -q '^usage: nes' "$work/help.txt" && grep -q 'F5' "$work/help.txt" \
  && pass "nes --help prints the usage and keys" || fail "nes --help: $(head -n3 "$work/help.txt")"
"$nes" --frobnicate >"$work/bad.txt" 2>&1
code=$?
[ "$code" = 2 ] && grep -q "unknown option '--frobnicate'" "$work/bad.txt" && grep -q '^usage: nes' "$work/bad.txt" \
  && pass "an unknown option is refused with the usage, code 2" \
  || fail "unknown option: code $code, $(head -n2 "$work/bad.txt")"

# --- starts that cannot go on: one line on stderr, a message box, a non-zero exit code
message_box() {  # the top-level window titled NES without a class: SDL's message box
  xwininfo -root -tree 2>/dev/null | awk '/"NES": \(\)/ {print $1; exit}'
}
refused_start "no test.nes" "no image given: name one (nes IMAGE) or put test.nes in this folder" "" 2
refused_start "bad magic" "test.nes is not a NES cartridge image" 'NEZ\032\001\001\000\000\000\000\000\000\000\000\000\000' 2
refused_start "an empty file" "test.nes is empty" EMPTY 2
refused_start "a zip archive" "test.nes is a zip archive: unpack it first" 'PK\003\004\024\000\000\000' 2
refused_start "PRG size 0" "PRG ROM size is 0" 'NES\032\000\001\000\000\000\000\000\000\000\000\000\000'
# SIGTERM while the message box waits for OK ends the program, and the box and the window go with
# it (SDL shows the box from a forked copy of the process, which the signal does not reach).
launch "$work/boxterm" ""
pid=$launched_pid
box=""
for _ in $(seq 100); do box="$(message_box)"; [ -n "$box" ] && break; sleep 0.1; done
[ -n "$box" ] || fail "no message box for the SIGTERM check"
boxterm_wid="$(window_of $pid)"
kill -TERM $pid
wait_exit $pid 5
[ "$code" = 1 ] && pass "SIGTERM during the message box ends the program with code 1" \
  || fail "SIGTERM during the message box: exit code '$code'"
for id in $box $boxterm_wid; do
  window_gone "$id" 10 && pass "SIGTERM during the message box: window $id goes with the program" \
    || fail "SIGTERM during the message box: window $id is still there"
done

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

# --- the light gun
check_zapper
# --- the configuration file: keys moved, turbo, a wrong line named
check_config_file

# --- without a window manager (the last part: openbox goes while a game runs, and leaves its
# announcement on the root window naming a window that is gone): F11 still fills the screen with
# the picture at 3 times its size, centred, and F11 again gives the window back.
nowm="$work/nowm"
launch "$nowm" "$rom" SDL_AUDIODRIVER=none
nowm_pid=$launched_pid
if nowm_wid="$(window_of $nowm_pid)"; then
  expect_shot "$nowm_wid" "$(reference 00)" "no window manager: the window shows the game"
  kill "$openbox_pid"
  wait "$openbox_pid" 2>/dev/null
  # The manager gives its windows back to the root window as it ends.
  for _ in $(seq 100); do [ "$(parent_of "$nowm_wid")" = "$(root_window)" ] && break; sleep 0.1; done
  before="$(geometry "$nowm_wid")"
  xdotool mousemove --window "$nowm_wid" 20 20  # keys go where the pointer is, with nobody to focus
  xdotool windowfocus "$nowm_wid" >/dev/null 2>&1
  xdotool key F11
  for _ in $(seq 100); do [ "$(geometry "$nowm_wid")" = "0 0 1024 768" ] && break; sleep 0.1; done
  [ "$(geometry "$nowm_wid")" = "0 0 1024 768" ] && pass "no window manager: F11 covers the screen" \
    || fail "no window manager: F11 leaves the window at/size '$(geometry "$nowm_wid")'"
  centred_shot() { import -window "$1" png:- 2>/dev/null | convert png:- -crop 768x720+128+24 +repage -sample '256x240!' "$2"; }
  expect_shot "$nowm_wid" "$(reference 00)" "no window manager: the picture scaled 3 times, centred" centred_shot
  xdotool key F11
  for _ in $(seq 100); do [ "$(geometry "$nowm_wid")" = "$before" ] && break; sleep 0.1; done
  [ "$(geometry "$nowm_wid")" = "$before" ] && pass "no window manager: F11 again puts the window back ($before)" \
    || fail "no window manager: after F11 again the window is at/size '$(geometry "$nowm_wid")', not '$before'"
  kill -TERM "$nowm_pid"
  wait_exit "$nowm_pid" 10
  [ "$code" = 0 ] || fail "no window manager: SIGTERM: exit code '$code'"
else
  fail "no window without a window manager; stderr: $(cat "$nowm/err")"
fi

finish
