#!/usr/bin/env bash
# Fadewell on air on a machine that is not idle: the built program on a virtual display with a
# private sound server, decks loaded through the real file-open dialog and started with real keys
# and clicks, the server's output recorded and searched for dropouts (a tone that falls away, a
# sample step no tone makes, a run of digital silence).
#   busy.sh BUILD_DIR cpu        three decks playing tones while busy processes hold every core
#                                (six a core, and a compiler on each) for 40 s
#   busy.sh BUILD_DIR disk       the same while one process writes to the disk the files are read
#                                from and another holds most of the free memory
#   busy.sh BUILD_DIR handover   the auto-fade hand-over, deck A live and deck B's "auto" and back,
#                                twelve times on the otherwise idle machine
# The program runs as an operator starts it: no priority and no sound-server setting from outside.
set -uo pipefail
build=$(cd "${1:?build dir}" && pwd)
case=${2:?cpu, disk or handover}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
fw_init
bin=$build/src/fadewell
analyse=$build/tests/fadewell_dropout_analyse
artifacts=$build/system-tests
mkdir -p "$artifacts"
die() { no "$1"; [ -f "$FW_TMP/app.log" ] && tail -20 "$FW_TMP/app.log"; fw_done; exit 1; }

# The window definition's places, in twips (inside the Players frame for the frame's buttons).
frame=(3510 210)
load_button=(3360 345 315) # left, width, height; the top is the deck's
declare -A load_top=([A]=600 [B]=1320 [C]=2040)
declare -A auto_button=([A]="300 5520 555 285" [B]="930 5520 555 285")
declare -A slider=([A]="270 3240 630 2325" [B]="900 3240 630 2325")

# Tones: stereo, 16 bit, 44.1 kHz, amplitude 0.5, each a whole number of cycles long.
seconds=60
[ "$case" = handover ] && seconds=70
tone() { sox -D -n -r 44100 -b 16 -c 2 "$FW_TMP/tone$1.wav" synth "$seconds" sine "$2" vol 0.5 || die "sox made no tone"; }
tone A 440
tone B 1000
tone C 2500

fw_pulse_start || die "no sound server"
fw_xvfb_start || die "no virtual display"
fw_a11y_start || die "no accessibility bus"
fw_launch ${FW_WRAP:-} "$bin"
fw_find_window || die "the console's window did not appear"
fw_wait_for 10 fw_a11y menubar >/dev/null || die "the console is not on the accessibility bus"
fw_client_origin

dialog_open() { [ -n "$(fw_other_windows)" ]; }
dialog_closed() { [ -z "$(fw_other_windows)" ]; }
load() { # load DECK: its tone, through the real file-open dialog
  local dialog
  fw_click_twips "${load_button[0]}" "${load_top[$1]}" "${load_button[1]}" "${load_button[2]}" "${frame[@]}"
  fw_wait_for 10 dialog_open || { no "the file-open dialog opened for deck $1"; return 1; }
  dialog=$(fw_other_windows | head -1)
  sleep 0.5 # let the dialog take the keyboard focus it asks for
  fw_type "$dialog" "$FW_TMP/tone$1.wav"
  fw_key "$dialog" Return
  fw_wait_for 10 dialog_closed || { no "the file-open dialog closed after Enter for deck $1"; return 1; }
}
# click_named NAME: a real click at the centre of the object with that accessible name.
click_named() {
  local x y w h
  read -r x y w h < <(fw_a11y extents "$1") || return 1
  fw_click_at $((x + w / 2)) $((y + h / 2))
}
# Pages deck X's slider up to the top (full level) with clicks above its knob: ten pages of ten
# from the quiet end.
slider_to_top() {
  local s
  read -ra s <<<"${slider[$1]}"
  for _ in $(seq 10); do
    fw_click_at $((FW_CLIENT_X + $(fw_px "${s[0]}") + $(fw_px "${s[2]}") / 2)) $((FW_CLIENT_Y + $(fw_px "${s[1]}") + 4))
    sleep 0.05
  done
}

# Load processes are the test's own, started and ended by pid.
busy_cpu() {
  # Four spinning processes a core, and two a core that start short programs over and over, as a
  # build does (each start takes a fork, an exec and fresh memory).
  local i
  for ((i = 0; i < 4 * $(nproc); i++)); do
    bash -c 'while :; do :; done' &
    fw_track $!
  done
  for ((i = 0; i < 2 * $(nproc); i++)); do
    bash -c 'while :; do /bin/true; done' &
    fw_track $!
  done
  # And a compiler at work on every core: hundreds of megabytes touched afresh in each run.
  printf '#include <regex>\n#include <map>\n#include <iostream>\nint main() { std::regex r("a+"); std::map<int, int> m; std::cout << m.size(); }\n' >"$FW_TMP/load.cpp"
  for ((i = 0; i < $(nproc); i++)); do
    bash -c 'while :; do g++ -O2 -c "$0" -o "$0.$1.o"; done' "$FW_TMP/load.cpp" "$i" &
    fw_track $!
  done
}
busy_disk() {
  # Writes and syncs 256 MiB at a time, over and over, beside the files the decks read.
  bash -c 'while :; do dd if=/dev/urandom of="$0/written.bin" bs=1M count=256 conv=fsync status=none; done' "$FW_TMP" &
  fw_track $!
}
busy_memory() {
  # Holds all but 1.5 GiB of the memory that is free, touching every page again and again, so the
  # page cache (the program's files and code among it) is squeezed out.
  local free_kib
  free_kib=$(awk '/^MemAvailable:/ {print $2}' /proc/meminfo)
  "$FW_PYTHON" -c '
import sys, time
n = max(0, int(sys.argv[1]) * 1024 - 1536 * 1024 * 1024)
b = bytearray(n)
while True:
    for i in range(0, n, 4096):
        b[i] = (b[i] + 1) & 255
' "$free_kib" &
  fw_track $!
}

recording=$FW_TMP/recording.raw
case "$case" in
cpu | disk)
  for deck in A B C; do load "$deck" || die "deck $deck not loaded"; done
  ok "three decks loaded through the file-open dialog"
  sleep 0.5
  fw_record_start "$recording" || die "parec recorded nothing"
  fw_key "$FW_WID" a b c
  sleep 1
  if [ "$case" = cpu ]; then busy_cpu; else busy_disk; busy_memory; fi
  fw_log "load started"
  sleep 40
  fw_record_stop
  expect "the program is still running" fw_app_running
  # Each deck at slider 20 (-8.2 dB): three sines of amplitude 0.5 x 0.389; the largest step the
  # sum can make is the sum of amplitude x 2 pi f / rate, given 15 % for rounding.
  max_step=$(awk 'BEGIN {a = 0.5 * 10 ^ (-8.2 / 20); print 1.15 * a * 2 * 3.14159265 * (440 + 1000 + 2500) / 44100}')
  steady=440,1000,2500
  ;;
handover)
  for deck in A B; do load "$deck" || die "deck $deck not loaded"; done
  ok "two decks loaded through the file-open dialog"
  sleep 0.5
  fw_record_start "$recording" || die "parec recorded nothing"
  slider_to_top A
  fw_key "$FW_WID" a
  sleep 1.5
  # Each hand-over: the incoming deck halted at its start (its player's Stop), its slider at the
  # top, then its "auto": it starts while the live deck fades out.
  live=A
  for turn in $(seq 12); do
    next=B
    [ "$live" = B ] && next=A
    click_named "Deck $next player/Stop" || die "deck $next's Stop button not found"
    slider_to_top "$next"
    sleep 0.3
    fw_log "hand-over $turn: deck $next's auto"
    fw_click_twips ${auto_button[$next]}
    sleep 2.2
    live=$next
  done
  fw_record_stop
  expect "the program is still running" fw_app_running
  # Both decks at full level: the largest step is that of the two sines together, plus 15 %.
  max_step=$(awk 'BEGIN {print 1.15 * 0.5 * 2 * 3.14159265 * (440 + 1000) / 44100}')
  steady=440,1000
  ;;
*) die "unknown case $case" ;;
esac

kept=$artifacts/busy-$case.wav
sox -q -t raw -r 44100 -e signed -b 16 -c 2 "$recording" "$kept"
"$analyse" "$recording" steady=$steady max_step="$max_step" >"$FW_TMP/analysis.txt"
cat "$FW_TMP/analysis.txt"
result=$(tail -1 "$FW_TMP/analysis.txt")
expect "no dropout, jump or silence in the recording ($result; kept as $kept)" test "$result" = "dropouts=0 jumps=0 silences=0"
[ "$FW_FAILURES" -eq 0 ] || { echo "## program output"; tail -20 "$FW_TMP/app.log"; }
fw_done
