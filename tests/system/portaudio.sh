#!/usr/bin/env bash
# No sound server at all, as on a bare ALSA machine: the output goes through PortAudio's ALSA host
# API, the one way out that busy.sh does not take. This machine has no sound card (no ALSA driver
# in its kernel), so ALSA's jack plugin (its device "jack") on a private JACK server's dummy backend,
# in real time, stands in for the card. Three decks play while busy processes hold every core
# (lib.sh's fw_busy_cpu) for 30 s; what reaches the server is recorded and searched for dropouts,
# jumps and digital silence; a fault while the stand-in server itself reported xruns leaves the run
# inconclusive (exit 77). What a real card's driver adds is not reached (bench/README.md).
#   portaudio.sh BUILD_DIR
set -uo pipefail
build=$(cd "${1:?build dir}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
fw_init
bin=$build/src/fadewell
analyse=$build/tests/fadewell_dropout_analyse
die() { no "$1"; [ -f "$FW_TMP/app.log" ] && tail -20 "$FW_TMP/app.log"; fw_done; exit 1; }

tone() { sox -D -n -r 44100 -b 16 -c 2 "$FW_TMP/tone$1.wav" synth 50 sine "$2" vol 0.5 || die "sox made no tone"; }
tone A 440
tone B 1000
tone C 2500

fw_jack_start 48000 -R || die "no JACK server"
fw_xvfb_start || die "no virtual display"
fw_a11y_start || die "no accessibility bus"
fw_no_pulse
fw_launch "$bin" --device jack
fw_find_window && fw_close_mixer_box || die "the console's window did not appear"
fw_wait_for 10 fw_a11y menubar >/dev/null || die "the console is not on the accessibility bus"
fw_client_origin
for deck in A B C; do fw_load_deck "$deck" "$FW_TMP/tone$deck.wav" || die "deck $deck not loaded"; done
# The plugin's client (named after the program) and its two ports: the program's only way in.
ports=$(jack_lsp | grep -v '^system:')
expect "PortAudio's ALSA device \"jack\" reaches the server through two ports: $(echo $ports)" \
  test "$(wc -w <<<"$ports")" -eq 2
expect "and no client of the program's own" not grep -q '^Fadewell:' <<<"$ports"
fw_key "$FW_WID" a b c
sleep 1
fw_busy_cpu
fw_log "load started"
xruns_before=$(fw_jack_xruns)
fw_jack_record "$FW_TMP/recording.wav" 30 $ports
xruns=$(($(fw_jack_xruns) - xruns_before))
expect "the program is still running" fw_app_running
# Each deck at slider 20 (-8.2 dB), as in busy.sh.
max_step=$(awk 'BEGIN {a = 0.5 * 10 ^ (-8.2 / 20); print 1.15 * a * 2 * 3.14159265 * (440 + 1000 + 2500) / 48000}')
sox -q "$FW_TMP/recording.wav" -t raw -e signed -b 16 "$FW_TMP/recording.raw"
"$analyse" "$FW_TMP/recording.raw" steady=440,1000,2500 max_step="$max_step" rate=48000 >"$FW_TMP/analysis.txt"
cat "$FW_TMP/analysis.txt"
result=$(tail -1 "$FW_TMP/analysis.txt")
if [ "$result" != "dropouts=0 jumps=0 silences=0" ] && [ "$xruns" -gt 0 ]; then
  # The stand-in server itself ran late, or skipped a client (the recorder, the plugin): what the
  # recording lacks cannot be put on the program.
  echo "inconclusive: $result, with $xruns xruns of the JACK server while it recorded"
  exit 77
fi
expect "no dropout, jump or silence under load ($result; the server: $xruns xruns)" \
  test "$result" = "dropouts=0 jumps=0 silences=0"
fw_done
