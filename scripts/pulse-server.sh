#!/usr/bin/env bash
# A private PulseAudio server for tests and benchmarks: no systemd, no user session, two null
# sinks. `start DIR` starts it with its socket, state and log in DIR and prints the environment
# clients need; `stop DIR` stops it.
#   eval "$(scripts/pulse-server.sh start /tmp/pulse)"; ...; scripts/pulse-server.sh stop /tmp/pulse
set -euo pipefail
cmd=${1:?start or stop}
dir=${2:?directory}
case "$cmd" in
start)
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
      echo "export PULSE_SERVER='$PULSE_SERVER' PULSE_RUNTIME_PATH='$dir' PULSE_STATE_PATH='$dir' PULSE_COOKIE='$dir/cookie'"
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
*)
  echo "usage: $0 start|stop DIR" >&2
  exit 2
  ;;
esac
