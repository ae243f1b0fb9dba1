#!/usr/bin/env bash
# The console starts for real: the built program, a private sound server, no fakes.
#  1. With the server, headless (QT_QPA_PLATFORM=offscreen): it reaches its event loop and runs on.
#  2. With the server, on a virtual display: one window titled Fadewell of the defined size, "Auto Set
#     Volume" ticked (read over the accessibility bus), no message box; a screenshot is kept.
#  3. Without any sound server: the message "Couldn't open the mixer.", and after OK the console
#     runs on with "Auto Set Volume" clear.
# In each, the terminal shows only the program's own one-line notices: nothing from the audio
# libraries about a JACK server nobody asked for.
#   startup.sh BUILD_DIR
set -uo pipefail
build=$(cd "${1:?build dir}" && pwd)
. "$(dirname "$0")/lib.sh"
fw_init
bin=$build/src/fadewell
artifacts=$build/system-tests
mkdir -p "$artifacts"
windows_at_least() { [ "$(fw_count_windows)" -ge "$1" ]; }
message_shown() { [ -n "$(fw_a11y messages 2>/dev/null)" ]; }
no_message_shown() { [ -z "$(fw_a11y messages 2>/dev/null)" ]; }
stop_app() {
  kill "$FW_APP_PID" 2>/dev/null
  wait "$FW_APP_PID" 2>/dev/null
  return 0
}

fw_pulse_start || exit 1

echo "## headless, with a sound server"
QT_QPA_PLATFORM=offscreen fw_launch "$bin"
sleep 2
if fw_app_running; then ok "still running after 2 s (in its event loop)"; else
  no "ended within 2 s"; cat "$FW_TMP/app.log"; fi
stop_app
expect "no handler failure reported on stderr" not grep -E "^fadewell: .* failed:" "$FW_TMP/app.log"
expect "nothing about JACK on stderr" not grep -qi jack "$FW_TMP/app.log"
expect "the output thread's priority said once" test "$(grep -c '^Fadewell: the audio output thread runs at' "$FW_TMP/app.log")" -eq 1

echo "## on a virtual display, with a sound server"
fw_xvfb_start || exit 1
fw_a11y_start || exit 1
fw_launch "$bin"
if fw_find_window; then ok "the console's window is shown"; else no "no window titled Fadewell"; cat "$FW_TMP/app.log"; exit 1; fi
sleep 1
expect "exactly one visible window titled Fadewell (no message box)" test "$(fw_count_windows)" -eq 1
expect "no other window of the program is visible" test -z "$(fw_other_windows)"
eval "$(xdotool getwindowgeometry --shell "$FW_WID")"
read -r _ _ _ menu_height < <(fw_a11y menubar)
expect "client area 687 x 404 pixels (10305 x 6060 twips) below a ${menu_height:-?} pixel menu bar" \
  test "$WIDTH" -eq 687 -a "$HEIGHT" -eq $((404 + ${menu_height:-0}))
states=$(fw_a11y states "Auto Set Volume")
expect "\"Auto Set Volume\" is ticked (states: $states)" grep -qw checked <<<"$states"
windows=$(fw_a11y windows)
expect "the accessibility bus shows one window, the console (got: $(echo $windows))" \
  test "$(printf '%s\n' "$windows" | grep -c .)" -eq 1 -a "$(printf '%s\n' "$windows" | cut -f2)" = Fadewell
expect "no message on screen" test -z "$(fw_a11y messages)"
fw_screenshot "$artifacts/startup.png"
expect "screenshot saved: $artifacts/startup.png" test -s "$artifacts/startup.png"
expect "still running" fw_app_running
stop_app

echo "## on a virtual display, without a sound server"
fw_no_pulse
printf 'autospawn = no\n' >"$FW_TMP/client.conf"
PULSE_CLIENTCONFIG=$FW_TMP/client.conf fw_launch "$bin"
if fw_wait_for 15 windows_at_least 1; then ok "a window titled Fadewell appears"; else
  no "no window appeared"; cat "$FW_TMP/app.log"; exit 1; fi
fw_wait_for 5 message_shown
messages=$(fw_a11y messages)
expect "the message reads \"Couldn't open the mixer.\" (got: $messages)" test "$messages" = "Couldn't open the mixer."
box=$(xdotool search --all --onlyvisible --pid "$FW_APP_PID" --name '^Fadewell$' | while read -r w; do
  [ "$(xdotool getwindowgeometry --shell "$w" | sed -n 's/^WIDTH=//p')" -ne 687 ] && echo "$w"; done | head -1)
fw_screenshot "$artifacts/startup-no-sound-server.png"
if [ -n "$box" ]; then fw_key "$box" Return; else no "the message box is a window of its own"; fi
fw_wait_for 5 no_message_shown
expect "OK closes the message" test -z "$(fw_a11y messages)"
fw_find_window
sleep 1
expect "the console is shown after OK, alone" test "$(fw_count_windows)" -eq 1
states=$(fw_a11y states "Auto Set Volume")
expect "\"Auto Set Volume\" stays clear (states: $states)" test -n "$states" -a -z "$(grep -w checked <<<"$states")"
expect "still running after the message" fw_app_running
stop_app
expect "nothing about JACK on stderr without a server either" not grep -qi jack "$FW_TMP/app.log"
expect "the silent clock said on stderr" grep -q "playing on a silent clock" "$FW_TMP/app.log"

fw_done
