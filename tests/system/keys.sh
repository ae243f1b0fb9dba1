#!/usr/bin/env bash
# Keys and clicks heard at once on a busy machine: deck A's key pressed and, 0.6 s later, its Stop
# clicked, 30 times under the busy test's load (busy.sh cpu). Each is timed from when the X server
# had it to the deck heard, or silent, in a recording whose samples carry the time they arrived
# (lib.sh: fw_timed_presses). Every key and every click within 500 ms: a "go" or a stop heard a
# second late, behind all the sound server holds, is a failure on air. (Under this load the sound
# server's own thread, through which a rewrite passes twice, waits up to 180 ms for a core.)
# FW_SOUND_SERVER=pipewire runs it on PipeWire (whose recordings of a busy graph gain samples it
# fills in, which makes every figure look shorter, never longer).
#   keys.sh BUILD_DIR
set -uo pipefail
build=$(cd "${1:?build dir}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
fw_init
die() { no "$1"; [ -f "$FW_TMP/app.log" ] && tail -20 "$FW_TMP/app.log"; fw_done; exit 1; }
turns=30
bound=500

sox -D -n -r 44100 -b 16 -c 2 "$FW_TMP/tone.wav" synth 20 sine 440 vol 0.5 || die "sox made no tone"
fw_console_start "$build/src/fadewell" || die "$FW_START_FAILURE"
fw_load_deck A "$FW_TMP/tone.wav" || die "deck A not loaded"
fw_timed_recording_start || die "the timed recorder recorded nothing"
fw_busy_cpu
fw_log "load started"
sleep 2
fw_timed_presses "$turns" 0.6
fw_timed_recording_stop
expect "the program is still running" fw_app_running
for what in "--latency keys-sent" "--silence stops-sent"; do
  set -- $what
  fw_timed "$1" "$2.txt" >"$FW_TMP/$2.timed"
  summary=$(tail -1 "$FW_TMP/$2.timed")
  # Late, or never heard (never silent): each one said.
  bad=$(awk -v b="$bound" '/^at / && ($3 == "nothing" || $3 + 0 > b)' "$FW_TMP/$2.timed")
  expect "each of $turns ${2%%-*} within $bound ms of the X server having it ($summary)" \
    test -z "$bad" -a "${summary##* of }" = "$turns"
  [ -z "$bad" ] || echo "$bad"
done
fw_done
