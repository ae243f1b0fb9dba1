#!/usr/bin/env bash
# Files handed to the built program from outside, as a desktop hands them over:
#  1. --help and --version print on standard output and exit 0, with no display at all; an unknown
#     option is an error on standard error with the usage, exit status 2, and no window.
#  2. Three files on the command line (as "Open with Fadewell" passes them): decks A, B and C show
#     their titles, nothing plays, no message.
#  3. Four files, the second not audio: its message box names it, deck B stays empty, the third
#     still goes to deck C, and the fourth is named on standard error as not loaded.
#  4. Drag and drop from another program's window (a file manager's drag, offering a move or a
#     copy), with deck A live and playing: one file dropped on deck B's player loads deck B, taken
#     as a copy; two files dropped on the display panel fill deck C and name the other as not
#     loaded; deck A plays on, live, with its file.
#   files.sh BUILD_DIR
set -uo pipefail
build=$(cd "${1:?build dir}" && pwd)
. "$(dirname "$0")/lib.sh"
fw_init
bin=$build/src/fadewell
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
stop_app() {
  kill "$FW_APP_PID" 2>/dev/null
  wait "$FW_APP_PID" 2>/dev/null
  return 0
}
title_is() { [ "$(fw_a11y text "Deck $1 title" 2>/dev/null)" = "$2" ]; }
message_shown() { [ -n "$(fw_a11y messages 2>/dev/null)" ]; }

echo "## --help, --version, an unknown option; no display"
run_plain() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin" "$@" >"$FW_TMP/out" 2>"$FW_TMP/err"; }
run_plain --help
status=$?
expect "--help exits 0 (got $status)" test "$status" -eq 0
expect "--help prints the usage on stdout" grep -q '^Usage: fadewell \[OPTION\]\.\.\. \[FILE\]\.\.\.$' "$FW_TMP/out"
expect "--help names --version" grep -q -- '--version' "$FW_TMP/out"
expect "--help prints nothing on stderr" test ! -s "$FW_TMP/err"
run_plain a.wav --version
status=$?
expect "--version exits 0 (got $status)" test "$status" -eq 0
expect "--version prints \"Fadewell $version\" (got \"$(cat "$FW_TMP/out")\")" test "$(cat "$FW_TMP/out")" = "Fadewell $version"
expect "--version prints nothing on stderr" test ! -s "$FW_TMP/err"
run_plain --bogus a.wav
status=$?
expect "an unknown option exits 2 (got $status)" test "$status" -eq 2
expect "the error names the option" grep -q '^fadewell: unknown option --bogus$' "$FW_TMP/err"
expect "the error comes with the usage" grep -q '^Usage: fadewell' "$FW_TMP/err"
expect "nothing on stdout for an error" test ! -s "$FW_TMP/out"

# Deck A's tone outlasts the whole test, so that it still plays at the end of the drops.
for name in one:120 two:5 three:5 four:5; do
  sox -D -n -r 44100 -b 16 -c 2 "$FW_TMP/${name%:*}.wav" synth "${name#*:}" sine 440 vol 0.5 \
    || { no "sox made no tone"; fw_done; exit 1; }
done
echo "these are my notes, not audio" >"$FW_TMP/notes.mp3"

echo "## three files on the command line"
fw_pulse_start || { no "no sound server"; fw_done; exit 1; }
fw_xvfb_start || { no "no virtual display"; fw_done; exit 1; }
fw_a11y_start || { no "no accessibility bus"; fw_done; exit 1; }
fw_launch "$bin" "$FW_TMP/one.wav" "$FW_TMP/two.wav" "$FW_TMP/three.wav"
fw_find_window || { no "the console's window did not appear"; cat "$FW_TMP/app.log"; fw_done; exit 1; }
fw_wait_for 10 title_is C three
for deck in A:one B:two C:three; do
  title=$(fw_a11y text "Deck ${deck%%:*} title" 2>/dev/null)
  expect "deck ${deck%%:*} shows \"${deck#*:}\" (reads \"$title\")" test "$title" = "${deck#*:}"
done
value=$(fw_a11y value "Deck C volume")
expect "Auto Set Volume put deck C's slider at 20 (value $value)" test "${value%.*}" = 20
live=$(fw_a11y text "Live deck" 2>/dev/null)
expect "no deck is live: nothing was started (the indicator reads \"$live\")" test -z "$live"
expect "no message on screen" test -z "$(fw_a11y messages)"
expect "nothing said about files not loaded" not grep -q 'not loaded' "$FW_TMP/app.log"
stop_app

echo "## four files, the second not audio"
fw_launch "$bin" "$FW_TMP/one.wav" "$FW_TMP/notes.mp3" "$FW_TMP/three.wav" "$FW_TMP/four.wav"
fw_find_window || { no "the console's window did not appear"; cat "$FW_TMP/app.log"; fw_done; exit 1; }
fw_wait_for 10 message_shown
messages=$(fw_a11y messages)
expect "a message names notes.mp3 (got: $messages)" grep -q "notes.mp3" <<<"$messages"
box=$(fw_other_windows | head -1)
if [ -n "$box" ]; then fw_key "$box" Return; else no "the message box is a window of its own"; fi
fw_wait_for 10 title_is C three
for deck in A:one B: C:three; do
  title=$(fw_a11y text "Deck ${deck%%:*} title" 2>/dev/null)
  expect "deck ${deck%%:*} shows \"${deck#*:}\" (reads \"$title\")" test "$title" = "${deck#*:}"
done
expect "the fourth file is named on stderr as not loaded" \
  grep -q "^fadewell: not loaded, there are only three decks: $FW_TMP/four.wav\$" "$FW_TMP/app.log"
expect "only the fourth is named so" test "$(grep -c 'not loaded' "$FW_TMP/app.log")" -eq 1
expect "still running" fw_app_running
stop_app

echo "## drag and drop, deck A on air"
drag_source=$build/tests/fadewell_drag_source
# drag TARGET FILE...: presses in a drag source's window holding the files and lets go over the
# object of the console with that accessible name, moving as a hand does.
drag() {
  local target=$1 src sx sy x y w h tx ty i
  shift
  "$drag_source" "$@" >"$FW_TMP/drag.out" 2>"$FW_TMP/drag.err" &
  fw_track $!
  src=$(timeout 10 xdotool search --sync --onlyvisible --name '^drag source$' | head -1)
  [ -n "$src" ] || { no "the drag source's window appeared"; return 1; }
  eval "$(xdotool getwindowgeometry --shell "$src")"
  sx=$((X + WIDTH / 2)) sy=$((Y + HEIGHT / 2))
  read -r x y w h < <(fw_a11y extents "$target") || { no "\"$target\" found on the accessibility bus"; return 1; }
  tx=$((x + w / 2)) ty=$((y + h / 2))
  xdotool mousemove "$sx" "$sy" sleep 0.2 mousedown 1 sleep 0.3
  for i in $(seq 10); do xdotool mousemove $((sx + (tx - sx) * i / 10)) $((sy + (ty - sy) * i / 10)) sleep 0.05; done
  sleep 0.3
  xdotool mouseup 1
  fw_wait_for 10 test -s "$FW_TMP/drag.out"
  xdotool windowclose "$src" 2>/dev/null
}
fw_launch "$bin" "$FW_TMP/one.wav"
fw_find_window || { no "the console's window did not appear"; cat "$FW_TMP/app.log"; fw_done; exit 1; }
fw_wait_for 10 title_is A one
fw_key "$FW_WID" a
live_is() { [ "$(fw_a11y text "Live deck" 2>/dev/null)" = "$1" ]; }
fw_wait_for 5 live_is A || no "deck A went live on the key A"

drag "Deck B player" "$FW_TMP/two.wav"
fw_wait_for 10 title_is B two
expect "deck B shows \"two\", dropped on its player (reads \"$(fw_a11y text "Deck B title")\")" title_is B two
expect "the drop was taken as a copy (the source was told: $(cat "$FW_TMP/drag.out"))" test "$(cat "$FW_TMP/drag.out")" = copy
expect "the dropped file is still there" test -f "$FW_TMP/two.wav"

drag "Display panel" "$FW_TMP/three.wav" "$FW_TMP/four.wav"
fw_wait_for 10 title_is C three
expect "deck C, the one empty deck, shows \"three\" (reads \"$(fw_a11y text "Deck C title")\")" title_is C three
fw_wait_for 5 message_shown
messages=$(fw_a11y messages)
expect "a message names four.wav as not loaded (got: $messages)" grep -q "four.wav: every deck holds a file" <<<"$messages"
expect "deck A keeps its file" title_is A one
expect "deck B keeps its file" title_is B two
live=$(fw_a11y text "Live deck" 2>/dev/null)
expect "deck A is still live (the indicator reads \"$live\")" test "$live" = A
state=$(fw_a11y states "Deck A player/Pause")
expect "deck A still plays: its Pause button is enabled (states: $state)" grep -qw enabled <<<"$state"
expect "still running" fw_app_running
stop_app

fw_done
