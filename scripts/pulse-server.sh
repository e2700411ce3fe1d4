#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A private PulseAudio server for tests and benchmarks: no systemd, no user session, one null
# sink set as the default.
#   start DIR    start it with its socket, state and log in DIR; print the environment clients
#                need (eval it)
#   env DIR      print that environment without starting anything
#   stop DIR     stop it
#   kill DIR     kill it at once, as a crash does
#   restart DIR  start it again after a kill, on the same socket, with its sink
#   freeze DIR / thaw DIR   stop and continue its process (SIGSTOP, SIGCONT)
#   eval "$(scripts/pulse-server.sh start /tmp/pulse)"; ...; scripts/pulse-server.sh stop /tmp/pulse
set -euo pipefail
cmd=${1:?start, env, stop, kill, restart, freeze or thaw}
dir=${2:?directory}
self=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
client_env() {
  echo "export PULSE_SERVER='unix:$dir/native' PULSE_RUNTIME_PATH='$dir'" \
    "PULSE_STATE_PATH='$dir' PULSE_COOKIE='$dir/cookie'" \
    "BRINESONG_SERVER_SCRIPT='$self' BRINESONG_SERVER_KIND=pulse"
}
case "$cmd" in
env)
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  client_env
  ;;
start|restart)
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  cat > "$dir/server.pa" <<PA
load-module module-native-protocol-unix socket=$dir/native auth-anonymous=1 auth-cookie-enabled=0
load-module module-null-sink sink_name=brinesong_test norewinds=1 sink_properties='device.description="Brinesong Test Sink" device.vendor.name="Brinesong Tests"'
set-default-sink brinesong_test
PA
  export PULSE_SERVER="unix:$dir/native" PULSE_RUNTIME_PATH="$dir" PULSE_STATE_PATH="$dir" \
         PULSE_COOKIE="$dir/cookie"
  pulseaudio -n -F "$dir/server.pa" --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
    --realtime=no --high-priority=no --enable-memfd=no --log-target="file:$dir/log" \
    >/dev/null 2>&1 &
  echo $! > "$dir/pid"
  for _ in $(seq 1 100); do
    if pactl info >/dev/null 2>&1; then
      if [ "$cmd" = start ]; then client_env; fi
      exit 0
    fi
    sleep 0.1
  done
  echo "pulse-server: the server did not answer; see $dir/log" >&2
  exit 1
  ;;
stop)
  if [ -f "$dir/pid" ]; then
    pid=$(cat "$dir/pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
    rm -f "$dir/pid"
  fi
  ;;
kill)
  if [ -f "$dir/pid" ]; then
    pid=$(cat "$dir/pid")
    kill -9 "$pid" 2>/dev/null || true
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    rm -f "$dir/pid"
  fi
  ;;
freeze) [ -f "$dir/pid" ] && kill -STOP "$(cat "$dir/pid")" ;;
thaw) [ -f "$dir/pid" ] && kill -CONT "$(cat "$dir/pid")" ;;
*)
  echo "usage: $0 start|env|stop|kill|restart|freeze|thaw DIR" >&2
  exit 2
  ;;
esac
