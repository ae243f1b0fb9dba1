#!/usr/bin/env bash
# A private PipeWire graph as current desktops run it (PipeWire, its session manager WirePlumber and
# its PulseAudio service), with one null sink "testsink" as the private PulseAudio server has, so a
# test can use either: pactl, parec, paplay, the ALSA pulse plugin and the program reach it through
# the PulseAudio protocol on DIR/pulse/native. It runs on a session bus of its own, keeps its
# configuration, state and sockets under DIR, and changes nothing on the machine.
#   pipewire-server.sh start DIR   start it (DIR is its XDG_RUNTIME_DIR), the pids in DIR/pids
#   pipewire-server.sh stop DIR    stop what was started with DIR, by those pids
# Clients must share the same XDG_RUNTIME_DIR=DIR.
set -u
cmd=${1:?start or stop}
dir=${2:?runtime folder}
export XDG_RUNTIME_DIR="$dir" PIPEWIRE_RUNTIME_DIR="$dir" XDG_CONFIG_HOME="$dir/config" \
  XDG_STATE_HOME="$dir/state" XDG_DATA_HOME="$dir/data" PULSE_COOKIE="$dir/cookie" PULSE_STATE_PATH="$dir/state"
unset PIPEWIRE_REMOTE PULSE_SERVER
. "$(dirname "$0")/process.sh"

# Newest first, each given five seconds to go.
stop() {
  [ -f "$dir/pids" ] || return 0
  local pid
  for pid in $(tac "$dir/pids"); do
    kill "$pid" 2>/dev/null || continue
    for _ in $(seq 50); do running "$pid" || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
  done
  rm -f "$dir/pids"
  return 0
}

fail() {
  echo "pipewire did not start: $1"
  for log in "$dir"/*.log; do echo "== $log"; tail -20 "$log"; done
  stop
  exit 1
}

case "$cmd" in
start)
  stop
  mkdir -p "$dir" "$XDG_CONFIG_HOME/pipewire/pipewire.conf.d" "$XDG_STATE_HOME" "$XDG_DATA_HOME" && chmod 700 "$dir"
  # The null sink, made by the daemon itself and kept when nobody plays (object.linger); it drives
  # the graph's clock, as a sound card does. Everything else is Debian's configuration as shipped
  # (48 kHz, the quantum chosen by the clients' latencies, from 16 to 2048 frames).
  cat >"$XDG_CONFIG_HOME/pipewire/pipewire.conf.d/testsink.conf" <<'CONF'
context.objects = [
    { factory = adapter
        args = {
            factory.name     = support.null-audio-sink
            node.name        = "testsink"
            node.description = "TestSink"
            media.class      = Audio/Sink
            object.linger    = true
            audio.position   = [ FL FR ]
            priority.driver  = 30000
            priority.session = 30000
            node.driver      = true
            monitor.channel-volumes = true
        }
    }
]
CONF
  : >"$dir/pids"
  # The session bus: WirePlumber and the PulseAudio service look for their peers on it.
  bus=$(dbus-daemon --session --fork --nopidfile --address="unix:path=$dir/bus" --print-address=1 --print-pid=1) \
    || fail "no session bus"
  echo "$bus" | sed -n 2p >>"$dir/pids"
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/bus"
  pipewire >"$dir/pipewire.log" 2>&1 &
  echo $! >>"$dir/pids"
  for _ in $(seq 50); do [ -S "$dir/pipewire-0" ] && break; sleep 0.1; done
  [ -S "$dir/pipewire-0" ] || fail "no pipewire socket"
  wireplumber >"$dir/wireplumber.log" 2>&1 &
  echo $! >>"$dir/pids"
  pipewire-pulse >"$dir/pipewire-pulse.log" 2>&1 &
  echo $! >>"$dir/pids"
  for _ in $(seq 100); do pactl list short sinks 2>/dev/null | grep -qw testsink && break; sleep 0.1; done
  pactl list short sinks 2>/dev/null | grep -qw testsink || fail "no testsink"
  # The defaults are kept by the session manager, which may not be ready for them yet ("Not
  # supported").
  defaults=
  for _ in $(seq 50); do
    pactl set-default-sink testsink 2>/dev/null && pactl set-default-source testsink.monitor 2>/dev/null &&
      defaults=set && break
    sleep 0.1
  done
  [ -n "$defaults" ] || fail "no default sink"
  echo "pipewire running, pids $(tr '\n' ' ' <"$dir/pids")"
  ;;
stop) stop ;;
*) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
