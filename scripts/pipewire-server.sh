#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A private PipeWire with its PulseAudio server, for tests and benchmarks: its own session bus and
# its own runtime, config and state folders in DIR, no systemd, and one null sink set as the default
# (named as scripts/pulse-server.sh names its own, so the same tests run against either).
#   start DIR    start PipeWire, WirePlumber and the PulseAudio server; print the environment
#                clients need (eval it)
#   env DIR      print that environment without starting anything
#   stop DIR     stop all of them
#   kill DIR     kill the PulseAudio server at once, as a crash does (its sinks go with it)
#   restart DIR  start the PulseAudio server again after a kill, with its sink
#   freeze DIR / thaw DIR   stop and continue the PulseAudio server's process (SIGSTOP, SIGCONT)
# The graph's periods are 1024 frames at the least (see start); BRINESONG_PIPEWIRE_MIN_QUANTUM
# sets another floor, and set empty it leaves PipeWire's own, as a desktop has it.
set -euo pipefail
min_quantum=${BRINESONG_PIPEWIRE_MIN_QUANTUM-1024}
cmd=${1:?start, env, stop, kill, restart, freeze or thaw}
dir=${2:?directory}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
self=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")

# Runs a server in the environment of the servers, nothing of the caller's own sound session
# leaking in. It replaces the calling (background) shell, so that $! is the server's own PID.
server_env() {
  exec env -u PULSE_SERVER -u PULSE_RUNTIME_PATH -u PULSE_STATE_PATH -u PULSE_COOKIE \
    -u PIPEWIRE_REMOTE -u DBUS_SESSION_BUS_ADDRESS \
    XDG_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/config" XDG_STATE_HOME="$dir/state" \
    "$@"
}

client_env() {
  echo "export PULSE_SERVER='unix:$dir/runtime/pulse/native' PULSE_RUNTIME_PATH='$dir/client'" \
       "PULSE_STATE_PATH='$dir/client' PULSE_COOKIE='$dir/client/cookie'" \
       "BRINESONG_SERVER_SCRIPT='$self' BRINESONG_SERVER_KIND=pipewire"
}

# Waits until the PulseAudio server answers, then gives it the test sink.
await_pulse() {
  local server="unix:$dir/runtime/pulse/native"
  for _ in $(seq 1 100); do
    if PULSE_SERVER=$server pactl info >/dev/null 2>&1; then
      PULSE_SERVER=$server pactl load-module module-null-sink sink_name=brinesong_test \
        "sink_properties='device.description=\"Brinesong Test Sink\" device.vendor.name=\"Brinesong Tests\"'" \
        >/dev/null
      PULSE_SERVER=$server pactl set-default-sink brinesong_test
      return 0
    fi
    sleep 0.1
  done
  echo "pipewire-server: the PulseAudio server did not answer; see $dir/log" >&2
  return 1
}

start_pulse() {
  # Inside the session bus of the first start, so it finds the same bus again.
  local bus
  bus=$(cat "$dir/bus")
  (server_env DBUS_SESSION_BUS_ADDRESS="$bus" pipewire-pulse >>"$dir/log" 2>&1) &
  echo $! > "$dir/pulse.pid"
}

signal_pid() {  # signal_pid SIGNAL FILE
  [ -f "$2" ] && kill "-$1" "$(cat "$2")" 2>/dev/null || true
}

case "$cmd" in
start)
  mkdir -p "$dir/runtime" "$dir/config/pipewire/pipewire.conf.d" "$dir/state" "$dir/client"
  chmod 700 "$dir/runtime"
  # Without real-time priority (none here) the graph misses a 5 ms period now and then and plays
  # a period of silence in a stream's place: paplay of a file lost one in a third of 3-second
  # runs. Periods of at least 21 ms are met.
  quantum_conf="$dir/config/pipewire/pipewire.conf.d/brinesong-quantum.conf"
  rm -f "$quantum_conf"
  if [ -n "$min_quantum" ]; then
    echo "context.properties = { default.clock.min-quantum = $min_quantum }" > "$quantum_conf"
  fi
  rm -f "$dir/bus"
  : > "$dir/log"
  # The bus lives as long as the session command does: a shell that waits for PipeWire.
  (server_env setsid dbus-run-session -- bash "$self" session "$dir" >>"$dir/log" 2>&1) &
  echo $! > "$dir/pid"
  for _ in $(seq 1 100); do
    [ -s "$dir/bus" ] && break
    sleep 0.1
  done
  [ -s "$dir/bus" ] || { echo "pipewire-server: the session did not start; see $dir/log" >&2; exit 1; }
  start_pulse
  await_pulse
  client_env
  ;;
env) client_env ;;
session)
  # Runs inside dbus-run-session (internal).
  pipewire >>"$dir/log" 2>&1 &
  echo $! > "$dir/pipewire.pid"
  for _ in $(seq 1 100); do
    [ -S "$dir/runtime/pipewire-0" ] && break
    sleep 0.05
  done
  wireplumber >>"$dir/log" 2>&1 &
  echo $! > "$dir/wireplumber.pid"
  echo "$DBUS_SESSION_BUS_ADDRESS" > "$dir/bus"
  wait "$(cat "$dir/pipewire.pid")" || true
  ;;
stop)
  signal_pid TERM "$dir/pulse.pid"
  signal_pid TERM "$dir/wireplumber.pid"
  signal_pid TERM "$dir/pipewire.pid"
  if [ -f "$dir/pid" ]; then
    pid=$(cat "$dir/pid")
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  for f in pulse wireplumber pipewire; do
    signal_pid KILL "$dir/$f.pid"
    rm -f "$dir/$f.pid"
  done
  rm -f "$dir/pid"
  ;;
kill)
  signal_pid KILL "$dir/pulse.pid"
  # Gone once its socket no longer answers.
  for _ in $(seq 1 50); do
    PULSE_SERVER="unix:$dir/runtime/pulse/native" pactl info >/dev/null 2>&1 || break
    sleep 0.05
  done
  ;;
restart)
  start_pulse
  await_pulse
  ;;
freeze) signal_pid STOP "$dir/pulse.pid" ;;
thaw) signal_pid CONT "$dir/pulse.pid" ;;
*)
  echo "usage: $0 start|env|stop|kill|restart|freeze|thaw DIR" >&2
  exit 2
  ;;
esac
