# Helpers for the system tests: a private sound server, a virtual display, a private accessibility
# bus, the program started under them, and ways to drive and read it from outside.
# Source it from bash:  . tests/system/lib.sh; fw_init; ...  Every process a helper starts is
# remembered by its pid and ended by fw_cleanup, which fw_init traps on EXIT (so also on failure).
# shellcheck shell=bash

FW_SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$FW_SOURCE_DIR/scripts/process.sh"
# Debian's own Python, which has the accessibility bindings (python3-pyatspi).
FW_PYTHON=/usr/bin/python3
FW_PIDS=()
FW_FAILURES=0
FW_PASSED=0

fw_init() {
  FW_START=${EPOCHREALTIME/[.,]/} # microseconds
  FW_TMP=$(mktemp -d /tmp/fadewell-system-XXXXXX)
  export FW_TMP
  trap fw_cleanup EXIT
  trap 'exit 130' INT TERM
}

fw_track() { FW_PIDS+=("$1"); }

# Ends every tracked process, newest first: TERM, then KILL after two seconds.
fw_cleanup() {
  local status=$? i pid
  for ((i = ${#FW_PIDS[@]} - 1; i >= 0; i--)); do
    pid=${FW_PIDS[i]}
    kill "$pid" 2>/dev/null || continue
    for _ in $(seq 20); do running "$pid" || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  FW_PIDS=()
  if [ -n "${FW_PULSE_DIR:-}" ]; then "$(fw_server_script)" stop "$FW_PULSE_DIR" >/dev/null; fi
  [ -n "${FW_KEEP_TMP:-}" ] || rm -rf "${FW_TMP:?}"
  exit "$status"
}

# fw_log MESSAGE: the message with the seconds since fw_init, to see where the time goes.
fw_log() {
  local now=${EPOCHREALTIME/[.,]/}
  local ms=$(((now - FW_START) / 1000))
  printf '[%3d.%02d s] %s\n' $((ms / 1000)) $((ms % 1000 / 10)) "$*"
}

# The checks' vocabulary: ok and no count a passed and a failed check, expect runs one.
ok() { echo "ok: $*"; FW_PASSED=$((FW_PASSED + 1)); }
no() { echo "FAIL: $*"; FW_FAILURES=$((FW_FAILURES + 1)); }
expect() { # expect DESCRIPTION COMMAND...: passes when the command succeeds
  local what=$1; shift
  if "$@"; then ok "$what"; else no "$what"; fi
}
not() { ! "$@"; }
fw_done() { # prints the summary line and exits with the verdict
  echo "$FW_PASSED passed, $FW_FAILURES failed"
  [ "$FW_FAILURES" -eq 0 ]
}

# Waits until COMMAND succeeds, at most SECONDS.
fw_wait_for() {
  local seconds=$1; shift
  local end=$((SECONDS + seconds))
  until "$@" 2>/dev/null; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.1
  done
}

## The sound server: a null sink "testsink", the default output and source, behind the PulseAudio
## protocol, with ALSA's "default" device and mixer routed to it by the pulse plugin. Which server
## serves it is FW_SOUND_SERVER's choice: pulseaudio (PulseAudio itself, the default) or pipewire
## (PipeWire with its session manager and its PulseAudio service, as current desktops run it).
FW_SOUND_SERVER=${FW_SOUND_SERVER:-pulseaudio}
fw_server_script() {
  case $FW_SOUND_SERVER in
  pulseaudio) echo "$FW_SOURCE_DIR/scripts/pulse-server.sh" ;;
  pipewire) echo "$FW_SOURCE_DIR/scripts/pipewire-server.sh" ;;
  *) echo "FW_SOUND_SERVER is pulseaudio or pipewire, not $FW_SOUND_SERVER" >&2; return 1 ;;
  esac
}
fw_pulse_start() {
  local script pid
  script=$(fw_server_script) || return 1
  FW_PULSE_DIR=$FW_TMP/pulse
  "$script" start "$FW_PULSE_DIR" >"$FW_TMP/pulse-start.log" 2>&1 || { cat "$FW_TMP/pulse-start.log"; return 1; }
  export XDG_RUNTIME_DIR=$FW_PULSE_DIR PULSE_COOKIE=$FW_PULSE_DIR/cookie PULSE_STATE_PATH=$FW_PULSE_DIR/state
  if [ "$FW_SOUND_SERVER" = pipewire ]; then
    export PIPEWIRE_RUNTIME_DIR=$FW_PULSE_DIR
    for pid in $(cat "$FW_PULSE_DIR/pids"); do fw_track "$pid"; done
  else
    fw_track "$(cat "$FW_PULSE_DIR/pulse/pid")"
  fi
  fw_log "sound server: $(pactl info | sed -n 's/^Server Name: //p')"
}

# No sound server at all: ALSA's default device then has nowhere to go, as on a machine without a
# sound card. The runtime folder still exists, for Qt, but holds no server socket.
fw_no_pulse() {
  export XDG_RUNTIME_DIR=$FW_TMP/runtime PULSE_SERVER=unix:$FW_TMP/runtime/no-server
  mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
}

## A JACK server on its dummy backend (no sound card), of this test's own: neither the program nor
## JACK's tools start one by themselves.
# fw_jack_start [RATE [-R]]: at RATE (48000), in real time with -R (as studios run it; the default,
# -r, runs without).
fw_jack_start() {
  export JACK_DEFAULT_SERVER=fadewell-test-$$ JACK_NO_START_SERVER=1
  jackd "${2:--r}" -n "$JACK_DEFAULT_SERVER" -d dummy -r "${1:-48000}" -p 256 >>"$FW_TMP/jackd.log" 2>&1 &
  FW_JACKD_PID=$!
  fw_track "$FW_JACKD_PID"
  fw_wait_for 10 jack_lsp >/dev/null || { echo "the JACK server did not start"; tail -5 "$FW_TMP/jackd.log"; return 1; }
}
fw_jack_stop() { kill "$FW_JACKD_PID"; wait "$FW_JACKD_PID" 2>/dev/null; }
# The xruns the server has reported so far: cycles in which it, or a client, ran late (the client
# skipped for that cycle, what it sent missing from every recording).
fw_jack_xruns() { grep -c XRun "$FW_TMP/jackd.log"; }
# fw_jack_record FILE SECONDS PORT...: 16-bit, at the server's rate. Its buffer holds 20 s: one of
# 16384 frames lost sound whenever the machine was busy.
fw_jack_record() { local file=$1 seconds=$2; shift 2; jack_rec -f "$file" -d "$seconds" -b 16 -B 1048576 "$@" >/dev/null 2>&1; }

## The virtual display: Xvfb on a free display number, local connections only.
fw_xvfb_start() {
  local fdfile=$FW_TMP/xvfb-display
  : >"$fdfile"
  Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp -noreset 5>"$fdfile" >"$FW_TMP/xvfb.log" 2>&1 &
  fw_track $!
  fw_wait_for 10 test -s "$fdfile" || { echo "Xvfb did not start"; cat "$FW_TMP/xvfb.log"; return 1; }
  export DISPLAY=":$(head -1 "$fdfile")"
  unset WAYLAND_DISPLAY
}

## A private session bus with the accessibility bus on it, so the program's widgets can be read by
## their accessible names (a11y.py), as a screen reader reads them. The session bus activates no
## services: the bus launcher and the registry are started here, so each one's pid is known.
fw_a11y_start() {
  local out a11y_address
  cat >"$FW_TMP/session-bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$FW_TMP</listen>
  <auth>EXTERNAL</auth>
  <policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy>
</busconfig>
CONF
  out=$(dbus-daemon --config-file="$FW_TMP/session-bus.conf" --fork --nopidfile --print-address=1 --print-pid=1) \
    || return 1
  DBUS_SESSION_BUS_ADDRESS=$(echo "$out" | sed -n 1p)
  export DBUS_SESSION_BUS_ADDRESS
  fw_track "$(echo "$out" | sed -n 2p)"
  /usr/libexec/at-spi-bus-launcher --launch-immediately >"$FW_TMP/at-spi.log" 2>&1 &
  fw_track $!
  fw_wait_for 10 fw_bus_has_name --session org.a11y.Bus \
    || { echo "the accessibility bus did not start"; cat "$FW_TMP/at-spi.log"; return 1; }
  # Its own bus daemon, a child of the launcher.
  fw_a11y_track_children
  a11y_address=$(dbus-send --session --print-reply=literal --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
    | tr -d ' ')
  /usr/libexec/at-spi2-registryd >"$FW_TMP/at-spi-registry.log" 2>&1 &
  fw_track $!
  fw_wait_for 10 fw_bus_has_name --bus="$a11y_address" org.a11y.atspi.Registry \
    || { echo "the accessibility registry did not start"; cat "$FW_TMP/at-spi-registry.log"; return 1; }
  export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
}

# fw_bus_has_name BUS-OPTION NAME: whether NAME has an owner (asking does not activate anything).
fw_bus_has_name() {
  dbus-send "$1" --print-reply=literal --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner "string:$2" 2>/dev/null | grep -q true
}

fw_a11y_track_children() {
  local pid child
  for pid in "${FW_PIDS[@]}"; do
    for child in $(pgrep -P "$pid" 2>/dev/null); do fw_track "$child"; done
  done
}

fw_a11y() { "$FW_PYTHON" "$FW_SOURCE_DIR/tests/system/a11y.py" "$FW_APP_PID" "$@"; }

## The program.
# fw_launch BINARY [ARGS...]: starts it in the background, output to $FW_TMP/app.log.
fw_launch() {
  "$@" >"$FW_TMP/app.log" 2>&1 &
  FW_APP_PID=$!
  fw_track "$FW_APP_PID"
}
fw_app_running() { running "$FW_APP_PID"; }

# The console's window id, once it is mapped.
fw_find_window() {
  FW_WID=$(timeout 15 xdotool search --sync --all --onlyvisible --pid "$FW_APP_PID" --name '^Fadewell$' | head -1)
  [ -n "$FW_WID" ]
}
# Without a sound card ALSA has no mixer, and a box says so before the console shows: closed, and
# the console's window found.
fw_close_mixer_box() {
  [ -n "$(fw_a11y messages 2>/dev/null)" ] || return 0
  fw_key "$FW_WID" Return
  sleep 1
  fw_find_window
}
# Visible windows of the program titled Fadewell (a message box carries that title too).
fw_count_windows() {
  xdotool search --all --onlyvisible --pid "$FW_APP_PID" --name '^Fadewell$' 2>/dev/null | wc -l
}
# Visible windows of the program other than the console (dialogs, message boxes), one id a line.
fw_other_windows() {
  xdotool search --all --onlyvisible --pid "$FW_APP_PID" --class '^fadewell$' 2>/dev/null | grep -vx "$FW_WID" || true
}

# Client area origin on the screen: the window's top left, below the menu bar (whose height the
# accessibility bus reports). Sets FW_CLIENT_X, FW_CLIENT_Y.
fw_client_origin() {
  local x y w h
  eval "$(xdotool getwindowgeometry --shell "$FW_WID")"
  FW_CLIENT_X=$X
  read -r x y w h < <("$FW_PYTHON" "$FW_SOURCE_DIR/tests/system/a11y.py" "$FW_APP_PID" menubar)
  FW_CLIENT_Y=$((Y + h))
}

# Pixels from twips, as the window definition converts them (15 twips a pixel, rounded).
fw_px() { echo $((($1 + 7) / 15)); }

# fw_click_twips LEFT TOP WIDTH HEIGHT [FRAME_LEFT FRAME_TOP]: a real left click at the centre of
# the control placed there by the window definition (inside a frame, add the frame's place).
fw_click_twips() {
  local x y
  x=$((FW_CLIENT_X + $(fw_px "${5:-0}") + $(fw_px "$1") + $(fw_px "$3") / 2))
  y=$((FW_CLIENT_Y + $(fw_px "${6:-0}") + $(fw_px "$2") + $(fw_px "$4") / 2))
  fw_click_at "$x" "$y"
}
# A real left click at a screen position. (mousemove --sync would wait for ever when the pointer
# already stands there.)
fw_click_at() { xdotool mousemove "$1" "$2" sleep 0.05 click 1; }

# Keys and text, sent to a window after giving it the input focus (there is no window manager).
fw_key() { local wid=$1; shift; xdotool windowfocus --sync "$wid" key --delay 30 "$@"; }
fw_type() { xdotool windowfocus --sync "$1" type --delay 20 "$2"; }

fw_screenshot() { import -window root "$1"; }

## Recording the null sink's monitor: raw signed 16-bit stereo at 44.1 kHz. The recorder's buffer
## is 50 ms: on a busy machine a recorder with 5 ms lost samples on PipeWire (and its request would
## set PipeWire's quantum for the whole graph, the program's sound with it).
fw_record_start() {
  FW_RECORDING=$1
  : >"$FW_RECORDING"
  parec --raw --latency-msec=50 -d testsink.monitor --format=s16le --rate=44100 --channels=2 >"$FW_RECORDING" &
  FW_RECORDER_PID=$!
  fw_track "$FW_RECORDER_PID"
  fw_wait_for 10 test -s "$FW_RECORDING" || { echo "the recorder delivered nothing"; return 1; }
}
# SIGINT, not SIGTERM: parec then flushes what it holds.
fw_record_stop() {
  kill -INT "$FW_RECORDER_PID" 2>/dev/null
  wait "$FW_RECORDER_PID" 2>/dev/null || true
}

# The recording's witness: two quiet steady tones (each at -37 dB RMS, their frequencies below any
# deck's), made by sox as long as they are listened to, that pacat, another client, plays into the
# same sink with four seconds queued (paplay's second, 0.8 s on PipeWire, was seen to run dry while
# the test ran at nice 19 beside other work). The dropout analysis (reference=) finds in them whether the recording lost
# samples, so that a gap the recorder made is not blamed on the program.
FW_REFERENCE_TONES=97,151
FW_REFERENCE_VOLUME=0.04 # the two tones' peak together, 0.02 each
fw_reference_start() {
  sox -D -n -r 44100 -b 16 -c 2 -t raw -e signed - synth sine "${FW_REFERENCE_TONES%,*}" synth sine mix \
    "${FW_REFERENCE_TONES#*,}" vol "$FW_REFERENCE_VOLUME" 2>/dev/null |
    pacat --raw --format=s16le --rate=44100 --channels=2 --latency-msec=4000 --client-name=reference &
  fw_track $! # sox ends with the pipe
}
# fw_max_step AMPLITUDE TONES: the largest step between two samples that the tones (Hz, comma
# separated), each of that amplitude, and the reference make together, plus 15 % for rounding.
fw_max_step() {
  awk -v a="$1" -v tones="$2" -v r="$FW_REFERENCE_TONES" -v rv="$FW_REFERENCE_VOLUME" 'BEGIN {
    n = split(tones, t, ","); for (i = 1; i <= n; i++) s += a * t[i]
    n = split(r, t, ","); for (i = 1; i <= n; i++) s += rv / 2 * t[i]
    print 1.15 * 2 * 3.14159265 * s / 44100 }'
}

## Key to sound, timed: a recording of the sink whose samples carry the time they arrived, and
## presses and clicks from one sender that is already connected (in real time, as the measuring
## instrument), each timed just before it is sent and once the X server has it: on a busy machine
## starting a program such as xdotool takes longer than the program takes to answer.
# fw_timed_recording_start [MS]: the recorder, with a buffer of MS (5).
fw_timed_recording_start() {
  "$FW_PYTHON" "$FW_SOURCE_DIR/tests/system/timed_record.py" "$FW_TMP/keys.raw" "$FW_TMP/keys.stamps" "${1:-5}" &
  FW_TIMED_RECORDER=$!
  fw_track "$FW_TIMED_RECORDER"
  fw_wait_for 10 test -s "$FW_TMP/keys.raw"
}
fw_timed_recording_stop() { kill -INT "$FW_TIMED_RECORDER"; wait "$FW_TIMED_RECORDER"; }
# fw_timed_presses TURNS PAUSE [COMMAND]: deck A's key, 0.6 s later a click on its Stop, PAUSE
# seconds later the next turn; COMMAND runs once half way. The times go to keys.txt and stops.txt
# (before each was sent) and keys-sent.txt and stops-sent.txt (once the X server had it).
fw_timed_presses() {
  local turn sx sy sw sh
  read -r sx sy sw sh < <(fw_a11y extents "Deck A player/Stop")
  xdotool windowfocus --sync "$FW_WID"
  rm -f "$FW_TMP"/{keys,stops,moves}{,-sent}.txt
  coproc SENDER { chrt -f 30 "$FW_PYTHON" "$FW_SOURCE_DIR/tests/system/x_sender.py"; }
  fw_track "$SENDER_PID"
  send() { # send COMMAND FILE: the command, its two times appended to FILE.txt and FILE-sent.txt
    local before after
    echo "$1" >&"${SENDER[1]}"
    read -r before after <&"${SENDER[0]}"
    echo "$before" >>"$FW_TMP/$2.txt"
    echo "$after" >>"$FW_TMP/$2-sent.txt"
  }
  for ((turn = 1; turn <= $1; turn++)); do
    send "key a" keys
    sleep 0.6
    [ -n "${3:-}" ] && [ "$turn" = $(($1 / 2)) ] && "$3"
    send "move $((sx + sw / 2)) $((sy + sh / 2))" moves
    sleep 0.05
    send click stops
    sleep "$2"
    xdotool windowfocus --sync "$FW_WID"
  done
  kill "$SENDER_PID" 2>/dev/null
}
# fw_timed --latency|--silence FILE: from each time in FILE to the deck heard, or to its silence;
# each, then "sound|silence: median M ms, worst W ms, best B ms, of N".
fw_timed() {
  "$FW_PYTHON" "$FW_SOURCE_DIR/tests/system/timed_record.py" "$1" "$FW_TMP/keys.raw" "$FW_TMP/keys.stamps" "$FW_TMP/$2"
}

# fw_console_start BINARY [ARGS...]: the program as an operator starts it, on a private sound
# server and a virtual display with the accessibility bus, its window found and its client area
# measured. On failure, FW_START_FAILURE says what failed.
fw_console_start() {
  fw_pulse_start || { FW_START_FAILURE="no sound server"; return 1; }
  fw_xvfb_start || { FW_START_FAILURE="no virtual display"; return 1; }
  fw_a11y_start || { FW_START_FAILURE="no accessibility bus"; return 1; }
  fw_launch "$@"
  fw_find_window || { FW_START_FAILURE="the console's window did not appear"; return 1; }
  fw_wait_for 10 fw_a11y menubar >/dev/null || { FW_START_FAILURE="the console is not on the accessibility bus"; return 1; }
  fw_client_origin
}

## Driving the console from outside, by the window definition's places (twips; the deck rows'
## buttons inside the Players frame).
FW_FRAME=(3510 210)
FW_LOAD_BUTTON=(3360 345 315) # left, width, height; the top is the deck's
declare -A FW_LOAD_TOP=([A]=600 [B]=1320 [C]=2040)
declare -A FW_AUTO_BUTTON=([A]="300 5520 555 285" [B]="930 5520 555 285" [C]="1560 5520 555 285")
declare -A FW_SLIDER=([A]="270 3240 630 2325" [B]="900 3240 630 2325" [C]="1530 3240 630 2325")

fw_dialog_open() { [ -n "$(fw_other_windows)" ]; }
fw_dialog_closed() { [ -z "$(fw_other_windows)" ]; }
# fw_load_deck DECK FILE: through the real file-open dialog (a click on the deck's "...", the path
# typed, Enter). Says what went wrong, if anything, as a failed check.
fw_load_deck() {
  local dialog
  fw_click_twips "${FW_LOAD_BUTTON[0]}" "${FW_LOAD_TOP[$1]}" "${FW_LOAD_BUTTON[1]}" "${FW_LOAD_BUTTON[2]}" "${FW_FRAME[@]}"
  fw_wait_for 10 fw_dialog_open || { no "the file-open dialog opened for deck $1"; return 1; }
  dialog=$(fw_other_windows | head -1)
  sleep 0.5 # let the dialog take the keyboard focus it asks for
  fw_type "$dialog" "$2"
  fw_key "$dialog" Return
  fw_wait_for 10 fw_dialog_closed || { no "the file-open dialog closed after Enter for deck $1"; return 1; }
}
fw_click_auto() { fw_click_twips ${FW_AUTO_BUTTON[$1]}; }
# fw_click_named NAME: a real click at the centre of the object with that accessible name
# (PARENT/CHILD for a child of a named object, as "Deck B player/Stop").
fw_click_named() {
  local x y w h
  read -r x y w h < <(fw_a11y extents "$1") || return 1
  fw_click_at $((x + w / 2)) $((y + h / 2))
}
# fw_slider_page_up DECK [PAGES]: clicks above the knob of the deck's slider, each a page (ten
# positions) up; ten of them bring it to the top (full level) from the quiet end.
fw_slider_page_up() {
  local s
  read -ra s <<<"${FW_SLIDER[$1]}"
  for _ in $(seq "${2:-10}"); do
    fw_click_at $((FW_CLIENT_X + $(fw_px "${s[0]}") + $(fw_px "${s[2]}") / 2)) $((FW_CLIENT_Y + $(fw_px "${s[1]}") + 4))
    sleep 0.05
  done
}

## Loading the machine, as an operator's machine is never idle. Each load process is the caller's
## own, tracked and ended by its pid.
fw_busy_cpu() {
  # Four spinning processes a core, and four a core that start short programs over and over, as a
  # build does (each start takes a fork, an exec and fresh memory). With two of these a core and
  # one compiler, the output of before (an ordinary thread behind a 12 ms buffer) passed two runs
  # in three; with this, it failed every run, hundreds of times.
  local i
  for ((i = 0; i < 4 * $(nproc); i++)); do
    bash -c 'while :; do :; done' &
    fw_track $!
  done
  for ((i = 0; i < 4 * $(nproc); i++)); do
    bash -c 'while :; do /bin/true; done' &
    fw_track $!
  done
  # And two compilers at work a core: hundreds of megabytes touched afresh in each run.
  printf '#include <regex>\n#include <map>\n#include <iostream>\nint main() { std::regex r("a+"); std::map<int, int> m; std::cout << m.size(); }\n' >"$FW_TMP/load.cpp"
  for ((i = 0; i < 2 * $(nproc); i++)); do
    bash -c 'while :; do g++ -O2 -c "$0" -o "$0.$1.o"; done' "$FW_TMP/load.cpp" "$i" &
    fw_track $!
  done
}
fw_busy_disk() {
  # Writes and syncs 256 MiB at a time, over and over, beside the files the decks read.
  bash -c 'while :; do dd if=/dev/urandom of="$0/written.bin" bs=1M count=256 conv=fsync status=none; done' "$FW_TMP" &
  fw_track $!
}
fw_busy_memory() {
  # Holds all but 1.5 GiB of the memory that is free, touching every page again and again, so the
  # page cache (the program's files and code among it) is squeezed out.
  local free_kib
  free_kib=$(awk '/^MemAvailable:/ {print $2}' /proc/meminfo)
  "$FW_PYTHON" -c '
import sys
n = max(0, int(sys.argv[1]) * 1024 - 1536 * 1024 * 1024)
b = bytearray(n)
while True:
    for i in range(0, n, 4096):
        b[i] = (b[i] + 1) & 255
' "$free_kib" &
  fw_track $!
}
