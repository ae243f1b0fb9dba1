#!/usr/bin/env bash
# Fadewell on air on a machine that is not idle: the built program on a virtual display with a
# private sound server, decks loaded through the real file-open dialog and started with real keys
# and clicks, the server's output recorded and searched for dropouts (a tone that falls away, a
# sample step no tone makes, a run of digital silence), where the recording is known to be whole
# (the reference tones another client plays beside the console are unbroken there).
#   busy.sh BUILD_DIR cpu        three decks playing tones while busy processes hold every core
#                                (ten a core, two of them compilers) for 40 s
#   busy.sh BUILD_DIR disk       the same while one process writes to the disk the files are read
#                                from and another holds most of the free memory
#   busy.sh BUILD_DIR handover   the auto-fade hand-over, deck A live and deck B's "auto" and back,
#                                twelve times on the otherwise idle machine
# The program runs as an operator starts it: no priority and no sound-server setting from outside.
# FW_SOUND_SERVER=pipewire runs it all on PipeWire instead of PulseAudio (lib.sh).
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

# Tones: stereo, 16 bit, 44.1 kHz, amplitude 0.5, each a whole number of cycles long.
seconds=60
[ "$case" = handover ] && seconds=70
tone() { sox -D -n -r 44100 -b 16 -c 2 "$FW_TMP/tone$1.wav" synth "$seconds" sine "$2" vol 0.5 || die "sox made no tone"; }
tone A 440
tone B 1000
tone C 2500

fw_console_start "$bin" || die "$FW_START_FAILURE"

recording=$FW_TMP/recording.raw
case "$case" in
cpu | disk)
  for deck in A B C; do fw_load_deck "$deck" "$FW_TMP/tone$deck.wav" || die "deck $deck not loaded"; done
  ok "three decks loaded through the file-open dialog"
  sleep 0.5
  fw_record_start "$recording" || die "parec recorded nothing"
  fw_reference_start || die "no reference tone"
  sleep 0.5
  fw_key "$FW_WID" a b c
  sleep 1
  if [ "$case" = cpu ]; then fw_busy_cpu; else fw_busy_disk; fw_busy_memory; fi
  fw_log "load started"
  sleep 40
  fw_record_stop
  expect "the program is still running" fw_app_running
  # Each deck at slider 20 (-8.2 dB): three sines of amplitude 0.5 x 0.389.
  max_step=$(fw_max_step "$(awk 'BEGIN {print 0.5 * 10 ^ (-8.2 / 20)}')" 440,1000,2500)
  steady=440,1000,2500
  ;;
handover)
  for deck in A B; do fw_load_deck "$deck" "$FW_TMP/tone$deck.wav" || die "deck $deck not loaded"; done
  ok "two decks loaded through the file-open dialog"
  sleep 0.5
  fw_record_start "$recording" || die "parec recorded nothing"
  fw_reference_start || die "no reference tone"
  fw_slider_page_up A
  fw_key "$FW_WID" a
  sleep 1.5
  # Each hand-over: the incoming deck halted at its start (its player's Stop), its slider at the
  # top, then its "auto": it starts while the live deck fades out.
  live=A
  for turn in $(seq 12); do
    next=B
    [ "$live" = B ] && next=A
    fw_click_named "Deck $next player/Stop" || die "deck $next's Stop button not found"
    fw_slider_page_up "$next"
    sleep 0.3
    fw_log "hand-over $turn: deck $next's auto"
    fw_click_auto "$next"
    sleep 2.2
    live=$next
  done
  fw_record_stop
  expect "the program is still running" fw_app_running
  # Both decks at full level.
  max_step=$(fw_max_step 0.5 440,1000)
  steady=440,1000
  ;;
*) die "unknown case $case" ;;
esac

kept=$artifacts/busy-$case.wav
sox -q -t raw -r 44100 -e signed -b 16 -c 2 "$recording" "$kept"
"$analyse" "$recording" steady=$steady max_step="$max_step" reference=$FW_REFERENCE_TONES >"$FW_TMP/analysis.txt"
cat "$FW_TMP/analysis.txt"
result=$(tail -1 "$FW_TMP/analysis.txt")
# Where the recording itself lost samples, it says nothing of the program; a recording that lost
# them too often is not judged at all, and fails.
whole=$(grep '^recording: [wNg]' "$FW_TMP/analysis.txt")
if [[ $whole != "recording: NOT"* ]]; then
  ok "the recording is whole, or its few gaps are known (${whole#recording: })"
  expect "no dropout, jump or silence in the recording ($result; kept as $kept)" test "$result" = "dropouts=0 jumps=0 silences=0"
else
  no "the recording can be judged (${whole#recording: }; kept as $kept)"
fi
[ "$FW_FAILURES" -eq 0 ] || { echo "## program output"; tail -20 "$FW_TMP/app.log"; }
fw_done
