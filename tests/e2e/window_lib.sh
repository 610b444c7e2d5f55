# What the tests of the window programs share, on Linux (window_test.sh) and under Wine
# (windows_window_test.sh): a virtual X display with a window manager, the window of a run, its
# picture against the headless runner's, the controller keys, Escape's bare window, the end of a
# run, and a start refused with a message box. Sourced after the caller has set `nes_command` (the
# command that starts the program), `headless` and `rom` (host_buttons.nes); `work` is made here
# unless the caller has one.
#
# Hooks the caller may redefine after sourcing: window_matches ID PID DIR (does window ID belong to
# the run of process PID in DIR? default: the window's process id is PID) and message_box (the id of
# the start-up error box, empty while there is none).

for tool in Xvfb openbox xdotool xwininfo xprop import convert compare od; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"
    exit 77
  fi
done

[ -n "${work:-}" ] || work="$(mktemp -d)"
# The programs read no configuration file of whoever runs the tests (Linux: the user's folder
# is looked for under XDG_CONFIG_HOME).
mkdir -p "$work/config_home"
export XDG_CONFIG_HOME="$work/config_home"
started=()        # processes this script started, ended by id at the end
cleanup_hooks=()  # commands run at the end, after those processes are gone
cleanup() {
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  for hook in "${cleanup_hooks[@]}"; do eval "$hook"; done
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# Xvfb (1024x768) on a free display number, and openbox to frame the windows; skips when Xvfb
# cannot start.
start_display() {
  exec 3>"$work/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  started+=($!)
  exec 3>&-
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
  if [ ! -s "$work/display" ]; then
    echo "SKIP: Xvfb did not start: $(cat "$work/xvfb.log")"
    exit 77
  fi
  export DISPLAY=":$(head -n1 "$work/display")"
  unset WAYLAND_DISPLAY
  openbox >"$work/openbox.log" 2>&1 &
  openbox_pid=$!
  started+=($!)
  for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break; sleep 0.05; done
}

window_matches() { [ "$(xdotool getwindowpid "$1" 2>/dev/null)" = "$2" ]; }

# The window titled "NES" of process $1 started in folder $2, waiting up to $3 seconds (default 10).
window_of() {
  local tenths=$(( ${3:-10} * 20 ))
  for _ in $(seq "$tenths"); do
    for id in $(xdotool search --name '^NES$' 2>/dev/null); do
      window_matches "$id" "$1" "${2:-}" && { echo "$id"; return 0; }
    done
    sleep 0.05
  done
  return 1
}

# The picture of nes-headless after 30 frames of image $2 with the options that follow, made once
# as $work/ref_$1.png.
reference_of() {
  local name="$1" image="$2" file="$work/ref_$1.png"
  shift 2
  [ -f "$file" ] || "$headless" "$image" --frames 30 "$@" --screenshot "$file" >/dev/null
  echo "$file"
}
# Reference pictures of host_buttons, one per controller byte (hex).
reference() { reference_of "$1" "$rom" --buttons "0:$1"; }

# The window's drawing area scaled back to 256x240, one pixel per block.
shot() { import -window "$1" png:- 2>/dev/null | convert png:- -sample '256x240!' "$2"; }

differing_pixels() { compare -metric AE "$1" "$2" null: 2>&1; }
# The top 200 rows of picture $1 as $2: what the notes at the bottom leave alone.
top() { convert "$1" -crop 256x200+0+0 +repage "$2"; }

# Waits up to 10 s (a message over the picture lasts 2 s) for window $1, taken by the command $4
# (default: shot), to show the picture $2.
expect_shot() {
  local id="$1" ref="$2" what="$3" take="${4:-shot}" diff=""
  for _ in $(seq 50); do
    "$take" "$id" "$work/shot.png"
    diff="$(differing_pixels "$work/shot.png" "$ref")"
    [ "$diff" = "0" ] && { pass "$what"; return 0; }
    sleep 0.2
  done
  cp "$work/shot.png" "$work/failed_$(basename "$ref")"
  fail "$what: $diff pixels differ from $(basename "$ref" .png)"
  return 1
}

# Waits for the window to show the headless picture of host_buttons with controller byte $2.
expect_picture() { expect_shot "$1" "$(reference "$2")" "$3"; }

# Each of the nine controller keys alone, then two together, in window $1 showing host_buttons:
# the controller byte as the game reads it (one box lit per button).
check_controller_keys() {
  local wid="$1" pair key mask
  xdotool windowactivate --sync "$wid" >/dev/null 2>&1
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
}

# --- host_state, a cartridge of ours with history and a battery (the caller sets `state_rom`): it
# shows the controller, the count of A presses since the last reset and the count of starts kept
# at $6000.
# An 8192-byte battery file $2 whose first byte (host_state's count of starts) is $1.
battery_file() { { printf "\\$(printf '%03o' "$1")"; head -c 8191 /dev/zero; } >"$2"; }
first_byte() { od -An -tu1 -N1 "$1" 2>/dev/null | tr -d ' '; }
# The headless picture of host_state after $1 presses of A, with the controller byte $2 (20: the
# last press still held, 00: released) and $3 starts counted.
count_ref() {
  local n="$1" held="$2" starts="$3" args=() i
  for i in $(seq "$n"); do args+=(--buttons "$((4 * i)):20" --buttons "$((4 * i + 2)):00"); done
  [ "$held" = 20 ] && args+=(--buttons "$((4 * n + 2)):20")
  battery_file "$((starts - 1))" "$work/ref.sav"
  reference_of "count_${n}_${held}_$starts" "$state_rom" "${args[@]}" --battery "$work/ref.sav"
}
# One press of A in window $1 that makes the count $2 ($3 starts): held until the game shows it,
# released until the game shows that.
press_a() {
  xdotool keydown z
  expect_shot "$1" "$(count_ref "$2" 20 "$3")" "A held: count $2"
  xdotool keyup z
  expect_shot "$1" "$(count_ref "$2" 00 "$3")" "A released: count $2"
}
# Waits up to 10 s for file $1 to exist with the first byte $2.
expect_battery() {
  local got=""
  for _ in $(seq 100); do
    got="$(first_byte "$1")"
    [ "$got" = "$2" ] && { pass "$3: $(basename "$1") holds $2 starts"; return 0; }
    sleep 0.1
  done
  fail "$3: $(basename "$1") holds '$got' starts, not $2"
}

# Last "sleep_interval N ms" reported on stdout ($1), empty when none.
last_sleep() { grep -o 'sleep_interval [0-9-]* ms' "$1" | tail -n1 | awk '{print $2}'; }
lines() { wc -l <"$1"; }

geometry() { xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
                                      /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}'; }
root_window() { xwininfo -root | awk '/Window id:/ {print $4; exit}'; }
parent_of() { xwininfo -children -id "$1" 2>/dev/null | awk '/Parent window id:/ {print $4; exit}'; }
# Waits up to $2 seconds for window $1 to be gone from the display.
window_gone() {
  for _ in $(seq $(( $2 * 10 ))); do xwininfo -id "$1" >/dev/null 2>&1 || return 0; sleep 0.1; done
  return 1
}
extents() { xprop -id "$1" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g'; }
on_top() { xprop -id "$1" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE; }

# Escape in window $1: the bare 256x240 window kept on top at 0,0, still showing host_buttons 1:1.
check_escape_bare() {
  local wid="$1"
  xdotool key Escape
  for _ in $(seq 50); do [ "$(geometry "$wid")" = "0 0 256 240" ] && break; sleep 0.1; done
  [ "$(geometry "$wid")" = "0 0 256 240" ] && pass "Escape: window at 0,0 with 256x240" \
    || fail "Escape: window at/size '$(geometry "$wid")', not '0 0 256 240'"
  [ "$(extents "$wid")" = "0 0 0 0" ] && pass "Escape: no frame" || fail "Escape: frame '$(extents "$wid")'"
  on_top "$wid" && pass "Escape: kept on top" || fail "Escape: not kept on top"
  expect_picture "$wid" 00 "the bare window shows the picture 1:1"
}

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

# Closes window $2 of process $1 as a user does (Alt+F4 to the window manager) and expects the
# process to end with code 0 within $3 seconds.
close_and_expect_0() {
  local pid="$1" wid="$2" seconds="$3" what="$4"
  xdotool windowactivate --sync "$wid" >/dev/null 2>&1
  xdotool key alt+F4
  wait_exit "$pid" "$seconds"
  [ "$code" = 0 ] && pass "$what: closing the window ends the process with code 0 within $seconds s" \
    || fail "$what: after closing the window: exit code '$code'"
}

# Waits up to 10 s for a line matching $2 in file $1.
wait_for_line() {
  for _ in $(seq 100); do grep -q "$2" "$1" && return 0; sleep 0.1; done
  return 1
}
expect_message() {  # file, text, what
  wait_for_line "$1" "^nes: $2" && pass "$3: '$(grep -m1 "^nes: $2" "$1")'" \
    || fail "$3: no message '$2' on stderr: $(tail -n3 "$1")"
}

# A second program on host_state's image in folder $1, while the first plays it (count 1 in its
# battery file), with the environment changed by the arguments after $3 (as `env` takes them; its
# window is found as run "$1/second"): it says that the battery file is taken, counts its own start
# (2 starts) without writing it, and leaves the first one's file as it is. $2 names it in the
# results, $3 is the seconds its window and its end may take. Uses count_ref and first_byte.
check_second_program() {
  local dir="$1" what="$2" seconds="$3" pid second
  shift 3
  (cd "$dir" && exec env "$@" "${nes_command[@]}" >"$work/second.out" 2>"$work/second.err") &
  pid=$!
  started+=($pid)
  if second="$(window_of "$pid" "$dir/second" "$seconds")"; then
    expect_message "$work/second.err" ".*test.nes is in use by another program" "a $what on the image says so"
    expect_shot "$second" "$(count_ref 0 00 2)" "the $what counts its own start"
    sleep 1.5  # past the battery's one-second delay
    close_and_expect_0 "$pid" "$second" "$seconds" "$what"
    [ "$(first_byte "$dir/test.sav")" = 1 ] && pass "the $what left the first one's battery file alone" \
      || fail "the $what wrote the battery file: its first byte is $(first_byte "$dir/test.sav")"
  else
    fail "no window for the $what; stderr: $(cat "$work/second.err")"
  fi
}

# Fast-forward in the focused window of the run whose stdout (NES_DEBUG reports) is $1: Tab held
# for two reports runs at least 8 times real time (60.1 frames/s); after its release the third
# report is back at real time.
check_fast_forward() {
  local out="$1" mark fast after
  mark="$(lines "$out")"
  xdotool keydown Tab
  for _ in $(seq 300); do  # up to 30 s for two reports of fast-forward
    [ "$(tail -n +"$(( mark + 1 ))" "$out" | grep -c 'fast-forward')" -ge 2 ] && break
    sleep 0.1
  done
  xdotool keyup Tab
  fast="$(tail -n +"$(( mark + 1 ))" "$out" | grep 'fast-forward' | sed -n 2p | grep -o '^nes: [0-9.]*' | awk '{print $2}')"
  awk -v f="${fast:-0}" 'BEGIN { exit !(f >= 8 * 60.1) }' \
    && pass "fast-forward while Tab is held: $fast frames/s" || fail "fast-forward while Tab is held: '${fast}' frames/s"
  mark="$(lines "$out")"
  for _ in $(seq 300); do
    [ "$(tail -n +"$(( mark + 1 ))" "$out" | grep -c 'sound latency')" -ge 3 ] && break
    sleep 0.1
  done
  after="$(tail -n +"$(( mark + 1 ))" "$out" | grep 'sound latency' | sed -n 3p | grep -o '^nes: [0-9.]*' | awk '{print $2}')"
  awk -v f="${after:-0}" 'BEGIN { exit !(f > 57 && f < 63) }' \
    && pass "after fast-forward the game is back at real time: $after frames/s" \
    || fail "after fast-forward: '${after}' frames/s"
}

# Starts the program in the folder DIR, with IMAGE (if not empty) copied there as test.nes, the
# command-line arguments in the array nes_args (usually empty) and the environment changed by the
# remaining arguments (as `env` takes them); its output goes to DIR/out and DIR/err. Sets
# launched_pid.
nes_args=()
launch() {
  local dir="$1" image="$2"
  shift 2
  mkdir -p "$dir"
  [ -n "$image" ] && cp "$image" "$dir/test.nes"
  (cd "$dir" && exec env "$@" "${nes_command[@]}" "${nes_args[@]}" >"$dir/out" 2>"$dir/err") &
  launched_pid=$!
  started+=($launched_pid)
}

# A start that cannot go on, in folder $work/$1 (with test.nes made by printf $3 when given, empty
# for EMPTY): a message box (closed here with Return), a non-zero exit code, $4 lines (default 1)
# on stderr, one naming $2.
refused_start() {
  local name="$1" dir="$work/$1" expect="$2" lines="${4:-1}" pid box
  mkdir -p "$dir"
  if [ "${3:-}" = EMPTY ]; then : >"$dir/test.nes"; elif [ -n "${3:-}" ]; then printf "$3" >"$dir/test.nes"; fi
  launch "$dir" ""
  pid=$launched_pid
  box=""
  for _ in $(seq 300); do box="$(message_box)"; [ -n "$box" ] && break; sleep 0.1; done
  if [ -n "$box" ]; then
    pass "$name: message box shown"
    xdotool windowactivate --sync "$((box))" >/dev/null 2>&1
    xdotool key Return
  else
    fail "$name: no message box"
  fi
  wait_exit "$pid" 10
  [ "$code" != running ] && [ "$code" != 0 ] && pass "$name: exit code $code" \
    || fail "$name: exit code '$code'"
  if [ "$(grep -c '^nes: ' "$dir/err")" = "$lines" ] && grep -q "^nes: .*$expect" "$dir/err"; then
    pass "$name: $lines line(s) on stderr: $(grep '^nes: ' "$dir/err" | tr '\n' ' ')"
  else
    fail "$name: stderr is not $lines line(s) naming '$expect': $(cat "$dir/err")"
  fi
}

# The light gun (--zapper) on our zapper cartridge in the window at its first size (scale 2): the
# mouse over the white box lights the gun on the box's lines only (the left mark of the cartridge's
# row of marks), the mouse beside the box leaves it dark, a left click pulls the trigger (the middle
# mark); each against the headless runner aimed and pulled the same way. Only the row of marks is
# compared: the box comes and goes every two frames.
marks() { shot "$1" "$2.whole.png" && convert "$2.whole.png" -crop 256x8+0+216 +repage "$2"; }
zapper_reference() {
  local name="$1" whole
  shift
  whole="$(reference_of "zapper_$name" "$roms/zapper.nes" --zapper "$@")"
  convert "$whole" -crop 256x8+0+216 +repage "$work/marks_$name.png"
  echo "$work/marks_$name.png"
}
check_zapper() {
  local dir="$work/zapper" pid wid
  nes_args=(--zapper)
  launch "$dir" "$roms/zapper.nes" NES_TEST_RUN="$dir"
  nes_args=()
  pid=$launched_pid
  if ! wid="$(window_of "$pid" "$dir" "${START_SECONDS:-10}")"; then
    fail "zapper: no window titled NES appeared"
    return
  fi
  xdotool mousemove --window "$wid" 257 241  # picture pixel 128,120
  expect_shot "$wid" "$(zapper_reference inside --aim 0:128,120)" "zapper: the mouse on the box lights the gun on its lines" marks
  xdotool mousemove --window "$wid" 81 121   # picture pixel 40,60, on black
  expect_shot "$wid" "$(zapper_reference beside --aim 0:40,60)" "zapper: the mouse beside the box leaves it dark" marks
  xdotool mousemove --window "$wid" 257 241 click 1
  expect_shot "$wid" "$(zapper_reference pulled --aim 0:128,120 --trigger 10)" "zapper: a left click pulls the trigger" marks
  close_and_expect_0 "$pid" "$wid" 10 "zapper"
}

# The configuration file (--config, here relative to the run's folder on either system) on
# host_buttons: A moved to C, turbo B on V at 2 presses per second, and a line naming a key that
# does not exist, which is reported with its line number while the rest applies (B stays on X).
check_config_file() {
  local dir="$work/config" pid wid line
  mkdir -p "$dir"
  cat >"$dir/moved.toml" <<'TOML'
# A on C, turbo B on V
turbo_rate = 2

[controller1]
a = "C"
turbo_b = "V"
b = "Jump"
TOML
  line="$(grep -n Jump "$dir/moved.toml" | cut -d: -f1)"
  nes_args=(--config moved.toml)
  launch "$dir" "$rom" NES_TEST_RUN="$dir"
  nes_args=()
  pid=$launched_pid
  if ! wid="$(window_of "$pid" "$dir" "${START_SECONDS:-10}")"; then
    fail "configuration file: no window titled NES appeared; stderr: $(cat "$dir/err")"
    return
  fi
  expect_message "$dir/err" "moved.toml:$line: controller1.b: no key named 'Jump'" \
    "configuration file: the wrong line is named with its number"
  xdotool windowactivate --sync "$wid" >/dev/null 2>&1
  xdotool keydown c
  expect_picture "$wid" 20 "configuration file: C held gives A"
  xdotool keyup c
  expect_picture "$wid" 00 "configuration file: C released"
  # Z no longer presses A: with Z held, Right (taken after it) shows alone.
  xdotool keydown z keydown Right
  expect_picture "$wid" 01 "configuration file: Z held with Right gives Right alone"
  xdotool keyup z keyup Right
  xdotool keydown x
  expect_picture "$wid" 10 "configuration file: B stays on X past the wrong line"
  xdotool keyup x
  expect_picture "$wid" 00 "configuration file: X released"
  # Held, V presses and releases B by itself: pressed, released, pressed again.
  xdotool keydown v
  expect_picture "$wid" 10 "configuration file: V held presses B"
  expect_picture "$wid" 00 "configuration file: V still held releases B"
  expect_picture "$wid" 10 "configuration file: V still held presses B again"
  xdotool keyup v
  expect_picture "$wid" 00 "configuration file: V released"
  close_and_expect_0 "$pid" "$wid" 10 "configuration file"
}

# The end of a test: its verdict as the exit code.
finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
  fi
  echo "all checks passed"
  exit 0
}
