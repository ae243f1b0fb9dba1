#!/usr/bin/env bash
# Playing on JACK as a studio runs it: a private JACK server on its dummy backend (no sound card), in
# real time as studios run it (without, the graph misses its deadlines whenever this test's own
# tools take a core, and the recording shows it), no PulseAudio, the console started with --device system and driven with real clicks
# and keys, what it sends to JACK recorded by a JACK client of the test's own (jack_rec).
#  1. --list-devices lists JACK's "system" (two playback ports, the server's rate) once.
#  2. JACK's graph shows the program as "Fadewell" with the ports out_left and out_right, connected
#     to system:playback_1 and _2, and no other client of its (no "PortAudio").
#  3. Deck A's tone at its slider's level (20: -8.2 dB), then at the top (0 dB); deck B's "auto"
#     hands over with no dropout, jump or digital silence (fadewell_dropout_analyse).
#  4. The server stops while deck B plays, comes back at another rate (refused, saying why) and at
#     its own: the console runs on and says each on stderr, deck B's remaining time goes on with
#     the clock, and once connected again deck B is heard at its slider's level.
#   jack.sh BUILD_DIR
set -uo pipefail
build=$(cd "${1:?build dir}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
fw_init
bin=$build/src/fadewell
analyse=$build/tests/fadewell_dropout_analyse
die() { no "$1"; [ -f "$FW_TMP/app.log" ] && tail -20 "$FW_TMP/app.log"; fw_done; exit 1; }

# Tones of amplitude 0.5 (-6 dB peak); at a loaded deck's slider, 20 (-8.2 dB), -14.2 dB.
sox -D -n -r 44100 -b 16 -c 2 "$FW_TMP/toneA.wav" synth 20 sine 440 vol 0.5 || die "sox made no tone"
sox -D -n -r 44100 -b 16 -c 2 "$FW_TMP/toneB.wav" synth 40 sine 1000 vol 0.5 || die "sox made no tone"

# The graph's connections, "from -> to" one a line.
connections() { jack_lsp -c 2>/dev/null | awk '/^[^ \t]/ {port = $0; next} {sub(/^[ \t]+/, ""); print port " -> " $0}'; }
connected() {
  connections | grep -qx "Fadewell:out_left -> system:playback_1" &&
    connections | grep -qx "Fadewell:out_right -> system:playback_2"
}
record() { fw_jack_record "$1" "$2" Fadewell:out_left Fadewell:out_right; }
# peak_db FILE [START LENGTH]: the peak level in dB full scale of the file or of that part of it.
peak_db() { sox -q "$1" -n ${2:+trim "$2" "$3"} stats 2>&1 | awk '/^Pk lev dB/ {print $4}'; }
near() { awk -v a="$1" -v b="$2" -v d="$3" 'BEGIN { exit !(a != "-inf" && a - b < d && b - a < d) }'; }
seconds_of() { awk -F: '{ print $1 * 60 + $2 }' <<<"$1"; }
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN {print b - a}'; }

fw_jack_start 48000 -R || die "no JACK server"
fw_no_pulse

echo "## --list-devices"
list=$(env -u DISPLAY "$bin" --list-devices 2>"$FW_TMP/list.err")
printf '%s\n' "$list"
expect "system: JACK, 2 channels, 48000 Hz" grep -Eq '^system +JACK +2 +48000$' <<<"$list"
expect "listed once (not again through PortAudio)" test "$(grep -c '^system ' <<<"$list")" -eq 1
expect "nothing on stderr (got: $(head -c 300 "$FW_TMP/list.err"))" test ! -s "$FW_TMP/list.err"

echo "## --device system"
fw_xvfb_start || die "no virtual display"
fw_a11y_start || die "no accessibility bus"
fw_launch "$bin" --device system
fw_find_window && fw_close_mixer_box || die "the console's window did not appear"
fw_wait_for 10 fw_a11y menubar >/dev/null || die "the console is not on the accessibility bus"
fw_client_origin
expect "out_left and out_right connected to system:playback_1 and _2" fw_wait_for 5 connected
connections
expect "the program's ports are out_left and out_right" \
  test "$(jack_lsp | grep -v '^system:' | tr '\n' ' ')" = "Fadewell:out_left Fadewell:out_right "
fw_load_deck A "$FW_TMP/toneA.wav" || die "deck A not loaded"
fw_load_deck B "$FW_TMP/toneB.wav" || die "deck B not loaded"

echo "## deck A at its slider's level, then at the top; deck B's \"auto\""
xruns_before=$(fw_jack_xruns)
t0=$(now)
record "$FW_TMP/handover.wav" 8.5 &
fw_track $!
recorder=$!
sleep 0.5
fw_key "$FW_WID" a
key=$(since "$t0")
sleep 2
fw_slider_page_up A 3
top=$(since "$t0")
sleep 1.5
auto=$(since "$t0")
fw_click_auto B
wait "$recorder"
xruns=$(($(fw_jack_xruns) - xruns_before))
echo "seconds into the recording: key A $key, slider at the top $top, deck B's auto $auto"
a_first=$(peak_db "$FW_TMP/handover.wav" "$(awk -v t="$key" 'BEGIN {print t + 0.5}')" 1)
a_top=$(peak_db "$FW_TMP/handover.wav" "$(awk -v t="$top" 'BEGIN {print t + 0.3}')" 0.8)
b_live=$(peak_db "$FW_TMP/handover.wav" 7.3 1)
expect "deck A at its slider's level, 20: peak $a_first dB (-14.2)" near "$a_first" -14.2 1.5
expect "deck A at the top: peak $a_top dB (-6.0)" near "$a_top" -6.0 1.5
expect "deck B live, A faded out: peak $b_live dB (-14.2)" near "$b_live" -14.2 1.5
sox -q "$FW_TMP/handover.wav" -t raw -e signed -b 16 "$FW_TMP/handover.raw"
# Deck B's tone from its start to the end, deck A's at full level (then fading) under it: the largest
# step the two make (deck A's own checks would end where its fade begins).
max_step=$(awk 'BEGIN {print 1.15 * 2 * 3.14159265 * (0.5 * 440 + 0.5 * 10 ^ (-8.2 / 20) * 1000) / 48000}')
"$analyse" "$FW_TMP/handover.raw" steady=1000 max_step="$max_step" rate=48000 \
  from="$(awk -v t="$top" 'BEGIN {print t + 0.3}')" >"$FW_TMP/analysis.txt"
clean=$?
grep -E '^(tone|dropout|jump|silence)' "$FW_TMP/analysis.txt"
inconclusive=
if [ "$clean" -ne 0 ] && [ "$xruns" -gt 0 ]; then
  # The server skipped a client for a cycle (the program, the recorder or both; its log says which,
  # not when): what the recording lacks cannot be put on the program. The other checks go on.
  inconclusive="the hand-over's $(tail -1 "$FW_TMP/analysis.txt"), with $xruns xruns of the JACK server while it recorded"
  echo "inconclusive: $inconclusive"
  grep XRun "$FW_TMP/jackd.log" | tail -"$xruns"
else
  expect "the hand-over has no dropout, jump or silence ($(tail -1 "$FW_TMP/analysis.txt"); the server: $xruns xruns)" test "$clean" -eq 0
fi

echo "## the JACK server stops while deck B plays, and starts again"
before=$(seconds_of "$(fw_a11y text "Deck B remaining time")")
stopped=$(now)
fw_jack_stop
expect "the loss is said on stderr" fw_wait_for 5 grep -q "the audio output device went away" "$FW_TMP/app.log"
expect "the console runs on" fw_app_running
# Back first at another rate than the console's: refused, and why said once.
fw_jack_start 44100 -R || die "no JACK server at 44100 Hz"
expect "a server at another rate is refused, saying why" fw_wait_for 5 grep -q \
  "does not open (the JACK server runs at 44100 Hz, the console at 48000 Hz)" "$FW_TMP/app.log"
fw_jack_stop
fw_jack_start 48000 -R || die "the JACK server did not start again"
expect "the return is said on stderr" fw_wait_for 10 grep -q "the audio output device is back" "$FW_TMP/app.log"
expect "connected to system:playback_1 and _2 again" fw_wait_for 5 connected
after=$(seconds_of "$(fw_a11y text "Deck B remaining time")")
elapsed=$(since "$stopped")
expect "deck B's remaining time went on with the clock: $before s, $elapsed s later $after s" \
  near "$(awk -v a="$before" -v b="$after" 'BEGIN {print a - b}')" "$elapsed" 0.7
record "$FW_TMP/back.wav" 1
expect "deck B heard again at its level: peak $(peak_db "$FW_TMP/back.wav") dB (-14.2)" \
  near "$(peak_db "$FW_TMP/back.wav")" -14.2 1.5
expect "still running" fw_app_running
if [ -n "$inconclusive" ] && [ "$FW_FAILURES" -eq 0 ]; then
  echo "$FW_PASSED passed; inconclusive: $inconclusive"
  exit 77
fi
fw_done
