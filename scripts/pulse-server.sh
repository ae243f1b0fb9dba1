#!/usr/bin/env bash
# A private PulseAudio server with one null sink ("testsink"), for tests that need real sound or a
# real mixer on a machine without a sound card. ALSA's "default" device reaches it through the pulse
# plugin, so PortAudio's default output and ALSA's default mixer both land on it.
#   pulse-server.sh start DIR   start it with its socket, cookie and pid under DIR
#   pulse-server.sh stop DIR    stop the server started with DIR, by its pid
# Clients must share the same XDG_RUNTIME_DIR=DIR (and PULSE_COOKIE, PULSE_STATE_PATH under it).
set -u
cmd=${1:?start or stop}
dir=${2:?runtime folder}
export XDG_RUNTIME_DIR="$dir" PULSE_COOKIE="$dir/cookie" PULSE_STATE_PATH="$dir/state"
. "$(dirname "$0")/process.sh"

stop() {
  [ -f "$dir/pulse/pid" ] || return 0
  pid=$(cat "$dir/pulse/pid")
  kill "$pid" 2>/dev/null
  for _ in $(seq 50); do running "$pid" || break; sleep 0.1; done
  kill -9 "$pid" 2>/dev/null
  rm -f "$dir/pulse/pid"
  return 0
}

case "$cmd" in
start)
  stop
  mkdir -p "$dir" && chmod 700 "$dir"
  XDG_CONFIG_HOME="$dir" pulseaudio -D -n --exit-idle-time=-1 \
    --log-target=file:"$dir/pulse.log" \
    -L "module-native-protocol-unix auth-anonymous=1" \
    -L "module-null-sink sink_name=testsink rate=44100 sink_properties=device.description=TestSink" \
    || { echo "pulseaudio did not start:"; cat "$dir/pulse.log" 2>/dev/null; exit 1; }
  for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl set-default-sink testsink && pactl set-default-source testsink.monitor || exit 1
  echo "pulseaudio running, pid $(cat "$dir/pulse/pid")"
  ;;
stop) stop ;;
*) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
