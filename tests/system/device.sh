#!/usr/bin/env bash
# Choosing the output device, with the built program on a private sound server that has two null
# sinks: "testsink" (the default) and "other". Both sinks' monitors are recorded, so what each one
# received is heard, not inferred.
#  1. --list-devices, without a display: both sinks with host API, channels, rate and description,
#     and PortAudio's ALSA devices; exit 0; nothing from the audio libraries on the terminal.
#  2. --device other: deck A, loaded and started with real clicks and keys, is heard on "other" and
#     nothing at all on testsink; the server shows the stream on "other" under the program's name
#     and icon.
#  3. "other" goes away (its module unloaded) while the deck plays and comes back (loaded again):
#     the program says both on stderr; meanwhile the server plays the stream on its default sink,
#     and once "other" is back the program plays there again, and testsink hears nothing. A move
#     by the operator (as the desktop's sound settings make it) is left alone.
#  4. --device nosuch: the reason on stderr and in a message box, and deck A is heard on the default
#     sink.
#  5. FADEWELL_DEVICE chooses the device when no option does; --device wins over it.
#  6. --device pulse: PortAudio's ALSA device of that name is opened, and its stream shows under the
#     program's name and icon too.
#   device.sh BUILD_DIR
set -uo pipefail
build=$(cd "${1:?build dir}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
fw_init
bin=$build/src/fadewell
die() { no "$1"; [ -f "$FW_TMP/app.log" ] && tail -20 "$FW_TMP/app.log"; fw_done; exit 1; }

# A 440 Hz tone at amplitude 0.5 (-6 dB peak); at a loaded deck's slider, 20 (-8.2 dB), -14.2 dB.
sox -D -n -r 44100 -b 16 -c 2 "$FW_TMP/tone.wav" synth 40 sine 440 vol 0.5 || die "sox made no tone"

fw_pulse_start || die "no sound server"
load_other() {
  other_module=$(pactl load-module module-null-sink sink_name=other rate=44100 \
    sink_properties=device.description=Second)
}
load_other || die "no second null sink"

## Helpers: recordings of a sink's monitor, their peak level, the program started and stopped.
REC_PIDS=()
# record SINK FILE: starts recording SINK's monitor into FILE, once it delivers.
record() {
  : >"$2"
  parec --raw --latency-msec=20 -d "$1.monitor" --format=s16le --rate=44100 --channels=2 >"$2" &
  REC_PIDS+=($!)
  fw_track $!
  fw_wait_for 10 test -s "$2" || { no "the recorder of $1 delivered nothing"; return 1; }
}
stop_recording() {
  local pid
  for pid in "${REC_PIDS[@]}"; do kill -INT "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  REC_PIDS=()
}
# Peak level of a recording in dB full scale, "-inf" for digital silence.
peak_db() { sox -q -t raw -r 44100 -e signed -b 16 -c 2 "$1" -n stats 2>&1 | awk '/^Pk lev dB/ {print $4}'; }
silent() { [ "$(peak_db "$1")" = -inf ]; }
# The deck's tone: peak within 2 dB of -14.2 dB.
tone_heard() {
  local p
  p=$(peak_db "$1")
  [ "$p" != -inf ] && awk -v p="$p" 'BEGIN { exit !(p > -16.2 && p < -12.2) }'
}
sink_index() { pactl list short sinks | awk -v n="$1" '$2 == n {print $1}'; }
# The sink-input of the program's stream, the sink it plays on: "SINK-INDEX" of each, one a line.
stream_sinks() { pactl list short sink-inputs | awk '{print $2}'; }
plays_on() { [ -n "$(sink_index "$1")" ] && stream_sinks | grep -qx "$(sink_index "$1")"; }
stop_app() {
  kill "$FW_APP_PID" 2>/dev/null
  wait "$FW_APP_PID" 2>/dev/null
  return 0
}
# start_console ARGS...: the program on the virtual display, its window found and measured.
start_console() {
  fw_launch "$bin" "$@"
  fw_find_window || die "the console's window did not appear"
  fw_wait_for 10 fw_a11y menubar >/dev/null || die "the console is not on the accessibility bus"
  fw_client_origin
}
message_shown() { [ -n "$(fw_a11y messages 2>/dev/null)" ]; }
no_message_shown() { [ -z "$(fw_a11y messages 2>/dev/null)" ]; }

echo "## --list-devices"
list=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin" --list-devices 2>"$FW_TMP/list.err")
status=$?
printf '%s\n' "$list"
expect "exits 0" test "$status" -eq 0
# Each sink at the rate its server runs it: PulseAudio keeps the one asked for, PipeWire its graph's.
sink_rate() { pactl list sinks short | awk -F'\t' -v s="$1" '$2 == s {n = split($4, f, " "); sub(/Hz$/, "", f[n]); print f[n]}'; }
rate=$(sink_rate testsink) other_rate=$(sink_rate other)
expect "testsink: PulseAudio, 2 channels, $rate Hz, TestSink" grep -Eq "^testsink +PulseAudio +2 +$rate +TestSink\$" <<<"$list"
expect "other: PulseAudio, 2 channels, $other_rate Hz, Second" grep -Eq "^other +PulseAudio +2 +$other_rate +Second\$" <<<"$list"
expect "PortAudio's ALSA devices" grep -Eq '^[^ ].* +ALSA +[0-9]+ +[0-9]+$' <<<"$list"
expect "nothing on stderr (got: $(head -c 300 "$FW_TMP/list.err"))" test ! -s "$FW_TMP/list.err"

fw_xvfb_start || die "no virtual display"
fw_a11y_start || die "no accessibility bus"

echo "## --device other"
start_console --device other
ok "the console's window is shown"
fw_wait_for 5 plays_on other
expect "the server shows the program's stream on \"other\"" plays_on other
expect "and none on testsink" not plays_on testsink
props=$(pactl list sink-inputs)
expect "under the program's name" grep -q 'application.name = "Fadewell"' <<<"$props"
expect "and icon" grep -q 'application.icon_name = "fadewell"' <<<"$props"
record other "$FW_TMP/other.raw" || die "no recording"
record testsink "$FW_TMP/testsink.raw" || die "no recording"
fw_load_deck A "$FW_TMP/tone.wav" || die "deck A not loaded"
fw_key "$FW_WID" a
sleep 2.5
stop_recording
expect "\"other\" heard deck A's tone (peak $(peak_db "$FW_TMP/other.raw") dB)" tone_heard "$FW_TMP/other.raw"
expect "testsink heard nothing (peak $(peak_db "$FW_TMP/testsink.raw") dB)" silent "$FW_TMP/testsink.raw"
expect "no message on screen" no_message_shown

echo "## \"other\" goes away and comes back while deck A plays"
# The server moves a stream whose sink goes to its default sink; the program plays on there, and
# opens its stream on "other" again once it is back.
pactl unload-module "$other_module"
fw_wait_for 5 grep -q "went away" "$FW_TMP/app.log"
expect "the loss is said on stderr" grep -q "the audio output device went away" "$FW_TMP/app.log"
record testsink "$FW_TMP/testsink-meanwhile.raw" || die "no recording"
sleep 1
stop_recording
expect "no dead air meanwhile: testsink hears deck A (peak $(peak_db "$FW_TMP/testsink-meanwhile.raw") dB)" \
  tone_heard "$FW_TMP/testsink-meanwhile.raw"
load_other || die "the second sink did not come back"
fw_wait_for 15 grep -q "the audio output device is back" "$FW_TMP/app.log"
expect "the return is said on stderr" grep -q "the audio output device is back" "$FW_TMP/app.log"
expect "the stream is on the new \"other\"" fw_wait_for 5 plays_on other
expect "and no longer on testsink" not plays_on testsink
sleep 2.5 # a new null sink renders its first sound about two seconds after it was made
record other "$FW_TMP/other-back.raw" || die "no recording"
record testsink "$FW_TMP/testsink-after.raw" || die "no recording"
sleep 1.5
stop_recording
expect "the new \"other\" hears deck A again (peak $(peak_db "$FW_TMP/other-back.raw") dB)" tone_heard "$FW_TMP/other-back.raw"
expect "testsink hears nothing once \"other\" is back (peak $(peak_db "$FW_TMP/testsink-after.raw") dB)" \
  silent "$FW_TMP/testsink-after.raw"

echo "## the operator moves the stream while \"other\" is there"
# The desktop's sound settings move the stream to testsink: it stays where it was put.
pactl move-sink-input "$(pactl list short sink-inputs | awk '{print $1}' | head -1)" testsink
sleep 2
expect "the stream stays on testsink" plays_on testsink
expect "and is not taken back to \"other\"" not plays_on other
record testsink "$FW_TMP/testsink-moved.raw" || die "no recording"
sleep 1
stop_recording
expect "testsink hears deck A (peak $(peak_db "$FW_TMP/testsink-moved.raw") dB)" tone_heard "$FW_TMP/testsink-moved.raw"
expect "still running" fw_app_running
stop_app

echo "## --device nosuch"
start_console --device nosuch
fw_wait_for 5 message_shown
messages=$(fw_a11y messages)
expect "a message box names the device and the reason (got: $messages)" \
  grep -q 'no output device is named "nosuch"' <<<"$messages"
expect "the reason on stderr" grep -q \
  'Cannot play on the output device asked for by --device: no output device is named "nosuch" or has it in its name. Playing on the default output instead' \
  "$FW_TMP/app.log"
box=$(fw_other_windows | head -1)
if [ -n "$box" ]; then fw_key "$box" Return; else no "the message box is a window of its own"; fi
fw_wait_for 5 no_message_shown
expect "OK closes the message" no_message_shown
expect "the stream is on the default sink" plays_on testsink
record testsink "$FW_TMP/default.raw" || die "no recording"
record other "$FW_TMP/other-idle.raw" || die "no recording"
fw_load_deck A "$FW_TMP/tone.wav" || die "deck A not loaded"
fw_key "$FW_WID" a
sleep 2.5
stop_recording
expect "the default sink heard deck A (peak $(peak_db "$FW_TMP/default.raw") dB)" tone_heard "$FW_TMP/default.raw"
expect "\"other\" heard nothing (peak $(peak_db "$FW_TMP/other-idle.raw") dB)" silent "$FW_TMP/other-idle.raw"
stop_app

echo "## FADEWELL_DEVICE"
FADEWELL_DEVICE=Secon QT_QPA_PLATFORM=offscreen fw_launch "$bin"
expect "a unique part of a description in FADEWELL_DEVICE chooses \"other\"" fw_wait_for 5 plays_on other
stop_app
FADEWELL_DEVICE=nosuch QT_QPA_PLATFORM=offscreen fw_launch "$bin" --device test
expect "--device wins over FADEWELL_DEVICE" fw_wait_for 5 plays_on testsink
expect "and FADEWELL_DEVICE's name is not refused" not grep -q "Cannot play" "$FW_TMP/app.log"
stop_app
FADEWELL_DEVICE=nosuch QT_QPA_PLATFORM=offscreen fw_launch "$bin"
fw_wait_for 5 plays_on testsink
expect "an unknown name in FADEWELL_DEVICE is refused, saying where it came from" \
  grep -q 'asked for by FADEWELL_DEVICE: no output device is named "nosuch"' "$FW_TMP/app.log"
expect "and the default sink plays" plays_on testsink
stop_app
expect "nothing about JACK on stderr" not grep -qi jack "$FW_TMP/app.log"

echo "## a PortAudio device"
# PortAudio's ALSA device "pulse" reaches the server through ALSA's pulse plugin, whose stream is
# "ALSA Playback" (the program's own is "Fadewell"): the program opened that device.
QT_QPA_PLATFORM=offscreen fw_launch "$bin" --device pulse
alsa_stream() { pactl list sink-inputs | grep -q 'media.name = "ALSA Playback"'; }
expect "--device pulse plays through PortAudio's ALSA device" fw_wait_for 10 alsa_stream
props=$(pactl list sink-inputs)
expect "and not through the program's own stream" not grep -q 'media.name = "Fadewell"' <<<"$props"
expect "the plugin's stream shows under the program's name" grep -q 'application.name = "Fadewell"' <<<"$props"
expect "and icon" grep -q 'application.icon_name = "fadewell"' <<<"$props"
expect "still running" fw_app_running
stop_app
expect "nothing about JACK on stderr with PortAudio either" not grep -qi jack "$FW_TMP/app.log"

fw_done
