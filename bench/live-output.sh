#!/usr/bin/env bash
# The live output as an operator's machine runs it, on the private sound server (not part of the
# tests; bench/README.md has the figures):
#   1. dropouts under load: the console playing three tones on three decks, then the same three
#      tones mixed into one file played by paplay and by aplay -D default, each for 40 s while
#      the machine is loaded as in the busy system test (ten busy processes a core, two of them
#      compilers), ROUNDS rounds in turns; counted by fadewell_dropout_analyse.
#   2. key-to-sound: deck A's key pressed 20 times (the deck stopped in between, for KEY_PAUSE
#      seconds, 0.6 unless set: with 2.5 the output has gone quiet before each key); from the key
#      press to the first sound of the deck in a recording whose samples carry the time they
#      arrived (tests/system/timed_record.py), and from the click on its Stop to silence. The recorder's buffer
#      is FW_RECORD_MS (5 ms by default); what the server's sink takes at a time follows the
#      smallest buffer any client asks for, so a recorder's that is shorter than the program's
#      shortens the figure. What the server made of the program's stream is printed too. KEY_LOAD=1
#      presses under the busy test's load. Each figure twice: from just before the event was sent,
#      and from when the X server had it (tests/system/x_sender.py).
#   3. CPU and memory: three decks of 10-minute FLACs of real music (bench/music.sh), the process's
#      CPU time over 20 s and its resident memory, at rest (alone: with no deck loaded, then) with
#      the three halted, and playing; then three paplay of the same files on the same server,
#      beside the console with its decks stopped, and once the console is closed (then asking for a
#      25 ms latency, as a player that must answer a key at once would); the console drawn
#      off-screen, its three decks playing; and a bare Qt window that sets five time labels as the
#      console sets its displays (then one, then none).
#      MUSIC_RATE=48000 makes the files at 48 kHz (the test server's sink runs at 44.1 kHz, so the
#      console resamples them); MUSIC_DIR keeps them between runs.
#   live-output.sh BUILD_DIR [ROUNDS [PARTS]]     (scripts/deps.sh bench first; PARTS: "1 2 3")
# FW_SOUND_SERVER=pipewire runs it on PipeWire instead of PulseAudio (tests/system/lib.sh).
set -uo pipefail
build=$(cd "${1:?build dir}" && pwd)
rounds=${2:-3}
parts=" ${3:-1 2 3} "
part() { [[ $parts == *" $1 "* ]]; }
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../tests/system/lib.sh"
fw_init
bin=$build/src/fadewell
analyse=$build/tests/fadewell_dropout_analyse
[ -x "$analyse" ] || analyse=$here/../build/tests/fadewell_dropout_analyse
die() { echo "bench: $1" >&2; [ -f "$FW_TMP/app.log" ] && tail -20 "$FW_TMP/app.log" >&2; exit 1; }

# Tones as the busy test plays them: each deck at slider 20 (-8.2 dB) of amplitude 0.5; the mix
# for the other players is their sum, sample for sample what the console sends.
for t in "A 440" "B 1000" "C 2500"; do
  set -- $t
  sox -D -n -r 44100 -b 16 -c 2 "$FW_TMP/tone$1.wav" synth 60 sine "$2" vol 0.5 || die "sox made no tone"
done
sox -D -m -v 0.389 "$FW_TMP/toneA.wav" -v 0.389 "$FW_TMP/toneB.wav" -v 0.389 "$FW_TMP/toneC.wav" "$FW_TMP/mix.wav"
max_step=$(awk 'BEGIN {a = 0.5 * 10 ^ (-8.2 / 20); print 1.15 * a * 2 * 3.14159265 * (440 + 1000 + 2500) / 44100}')

fw_console_start "$bin" || die "$FW_START_FAILURE"
if part 1 || part 2; then
  for deck in A B C; do fw_load_deck "$deck" "$FW_TMP/tone$deck.wav" || die "deck $deck not loaded"; done
fi

# load_start, load_stop: the busy test's load, then ended (its pids only); load_for SECONDS: both.
load_start() {
  load_first=${#FW_PIDS[@]}
  fw_busy_cpu
}
load_stop() {
  local i
  for ((i = ${#FW_PIDS[@]} - 1; i >= load_first; i--)); do kill "${FW_PIDS[i]}" 2>/dev/null; done
  for ((i = ${#FW_PIDS[@]} - 1; i >= load_first; i--)); do wait "${FW_PIDS[i]}" 2>/dev/null; done
  FW_PIDS=("${FW_PIDS[@]:0:load_first}")
  sleep 2 # the compilers it started finish
}
load_for() { load_start; sleep "$1"; load_stop; }
stop_decks() { for deck in A B C; do fw_click_named "Deck $deck player/Stop"; done; }
count() { # count RAW: dropouts + jumps + silences
  "$analyse" "$1" steady=440,1000,2500 max_step="$max_step" | tail -1 |
    awk -F'[= ]' '{print $2 + $4 + $6 " (" $0 ")"}'
}

declare -A results
part 1 && echo "## 1. dropouts under load, $rounds rounds of 40 s"
part 1 && for round in $(seq "$rounds"); do
  for player in console paplay aplay; do
    fw_record_start "$FW_TMP/$player.raw" || die "parec recorded nothing"
    case $player in
    console) fw_key "$FW_WID" a b c ;;
    paplay) paplay "$FW_TMP/mix.wav" & fw_track $! ;;
    aplay) aplay -q -D default "$FW_TMP/mix.wav" & fw_track $! ;;
    esac
    sleep 1
    load_for 40
    fw_record_stop
    case $player in console) stop_decks ;; *) kill "${FW_PIDS[-1]}" 2>/dev/null ;; esac
    sleep 0.5
    result=$(count "$FW_TMP/$player.raw")
    echo "round $round, $player: $result"
    results[$player]+="${result%% *} "
  done
done
part 1 && for player in console paplay aplay; do echo "dropouts, $player: ${results[$player]}"; done

key_to_sound() {
echo "## 2. key to sound, 20 presses of A ($(pactl info | sed -n 's/^Server Name: //p'), recorder ${FW_RECORD_MS:-5} ms${KEY_LOAD:+, under the busy load})"
fw_timed_recording_start "${FW_RECORD_MS:-5}" || die "the timed recorder recorded nothing"
[ -n "${KEY_LOAD:-}" ] && { load_start; sleep 2; }
fw_timed_presses 20 "${KEY_PAUSE:-0.6}" server_view
[ -n "${KEY_LOAD:-}" ] && load_stop
fw_timed_recording_stop
timed() { fw_timed "$@" | tail -"${FW_BENCH_LINES:-1}"; }
timed --latency keys.txt
timed --silence stops.txt
echo "from the moment the X server had each:"
timed --latency keys-sent.txt
timed --silence stops-sent.txt
}
# What the server made of the program's stream while a deck plays: its buffer as the server has
# it, and on PipeWire the stream's latency and the graph's cycle (its quantum), from pw-profiler.
server_view() {
  pactl list sink-inputs | awk '/application.name = "Fadewell"/ {f = 1} f && /Latency|pulse.attr|node.latency/ {print "  " $0}
    /^Sink Input/ {f = 0}'
  pactl list sink-inputs | grep -E '^\s*(Buffer|Sink) Latency' | head -2 | sed 's/^\s*/  Fadewell: /'
  if [ "$FW_SOUND_SERVER" = pipewire ]; then
    (cd "$FW_TMP" && timeout -s INT 1 pw-profiler -o profile.log >/dev/null 2>&1)
    awk -F'\t' 'NR > 1 {n++; q += $4} END {if (n) printf "  graph cycle: %.2f ms (%d frames at 48 kHz), %d cycles seen\n", q / n / 1000, q / n * 48 / 1000 + 0.5, n}' \
      "$FW_TMP/profile.log"
  fi
}
part 2 && key_to_sound

cpu_and_memory() {
echo "## 3. CPU and resident memory: the console, then three paplay of the same three files of real music"
music=${MUSIC_DIR:-$FW_TMP/music}
"$here/music.sh" "$music" flac || die "no music"
# Each thread's time on a core by its name, in ns (/proc/PID/task/TID/schedstat): exact, where the
# clock ticks of /proc/PID/stat only sample which thread a tick of the kernel found running, and
# miss most of a wake-up of a few microseconds.
threads_of() { local p t; for p in "$@"; do for t in /proc/"$p"/task/*; do echo "$(tr ' ' _ <"$t/comm") $(cut -d' ' -f1 "$t/schedstat")"; done; done; }
rss_of() { local s=0 p; for p in "$@"; do s=$((s + $(awk '/^VmRSS/ {print $2}' "/proc/$p/status"))); done; echo $s; }
measure() { # LABEL PID...: their CPU time over 20 s as a share of one core (and each thread's), and their resident memory
  local label=$1 before
  shift
  before=$(threads_of "$@")
  sleep 20
  { echo "$before"; echo --; threads_of "$@"; } | awk -v l="$label" -v r="$(rss_of "$@")" '
    $0 == "--" {after = 1; next}
    {if (after) b[$1] += $2; else a[$1] += $2}
    END {
      for (n in b) {d = (b[n] - a[n]) / 2e8; total += d; if (d >= 0.005) parts = parts sprintf(" %s %.2f,", n, d)}
      sub(/,$/, "", parts)
      printf "%-38s CPU %5.2f %% of one core over 20 s, resident %5.1f MiB (threads:%s)\n", l ":", total, r / 1024, parts
    }'
}
sleep 3
part 1 || part 2 || measure "console at rest, no deck loaded" "$FW_APP_PID"
for deck in A B C; do fw_load_deck "$deck" "$music/music$deck.flac" || die "deck $deck not loaded"; done
sleep 3
measure "console at rest, three decks halted" "$FW_APP_PID"
fw_key "$FW_WID" a b c
sleep 3
measure "console, three decks playing" "$FW_APP_PID"
expect "the program ran throughout" fw_app_running
stop_decks
paplay_three "three paplay beside the quiet console"
# The console's stream, even corked, holds the server's sink at the short latency it asks for, and
# every other client then gets its requests as often: a plain player on a server of its own.
kill "$FW_APP_PID"
wait "$FW_APP_PID" 2>/dev/null
paplay_three "three paplay, the console closed"
# The console again, drawn off-screen (Qt's offscreen platform: its widgets painted into memory,
# nothing sent to the X server): the files on its command line, started by OSC. What the window's
# thread costs there is the timers and Qt's painting, without the display server.
osc() { "$FW_PYTHON" "$here/../tests/system/osc_client.py" "$@"; }
port=$(osc free-port)
QT_QPA_PLATFORM=offscreen "$bin" --osc "$port" "$music"/music{A,B,C}.flac >"$FW_TMP/offscreen.log" 2>&1 &
offscreen_pid=$!
fw_track "$offscreen_pid"
osc "$port" status 20 >/dev/null || die "the off-screen console did not answer"
for deck in A B C; do osc "$port" send "/fadewell/deck/$deck/play"; done
sleep 3
measure "console off-screen, three playing" "$offscreen_pid"
kill "$offscreen_pid"
wait "$offscreen_pid" 2>/dev/null
# A paplay queues two seconds and answers the server once or twice a second; one that must be
# heard as soon as the console's keys are answers as often as the console's output does.
paplay_three "three paplay asking for 25 ms" --latency-msec=25
# The floor that Qt and the X server set for the window's thread: a plain window whose five labels
# are set as the console's displays are (bench/bare_window.cpp).
bare=$build/bench/fadewell_bench_bare_window
if [ -x "$bare" ]; then
  # Then the same window with one label set, and with none: its timer alone.
  for changing in 5 1 0; do
    "$bare" "$changing" >/dev/null 2>&1 &
    bare_pid=$!
    fw_track "$bare_pid"
    sleep 3
    case $changing in
      5) measure "a bare Qt window, five time labels" "$bare_pid" ;;
      1) measure "the bare window, one label set" "$bare_pid" ;;
      0) measure "the bare window, its timer alone" "$bare_pid" ;;
    esac
    kill "$bare_pid"
  done
else
  echo "(no $bare: configure with -DFADEWELL_BUILD_BENCH=ON for the bare window's figure)"
fi
}
paplay_three() { # LABEL [PAPLAY OPTION...]: three paplay of the same files, measured, then ended
  local label=$1 pids=() p deck
  shift
  for deck in A B C; do
    paplay "$@" "$music/music$deck.flac" &
    pids+=($!)
    fw_track $!
  done
  sleep 3
  for p in "${pids[@]}"; do kill -0 "$p" 2>/dev/null || die "paplay did not play"; done
  measure "$label" "${pids[@]}"
  for p in "${pids[@]}"; do kill "$p"; done
}
part 3 && cpu_and_memory
exit 0
