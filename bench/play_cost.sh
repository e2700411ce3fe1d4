#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What a playback costs the whole machine: our process and the sound server it keeps awake.
# For each server (PulseAudio, PipeWire's PulseAudio server), 30 s each into the same null sink,
# one after the other in this run: `brinesong --play`, sox playing pink and brown noise, and paplay
# streaming a ready-made WAV. Prints client CPU, server CPU (the server's processes, all threads)
# and server wake-ups (its context switches, voluntary and not), and then the stop and change
# latencies measured on the sink's recorded monitor (bench/play_latency.py).
# Usage: bench/play_cost.sh [BUILD_DIR] [SERVERS]   (default: build, "pulse pipewire")
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# PipeWire with its own periods, as a desktop runs it, not the tests' longer ones.
export BRINESONG_PIPEWIRE_MIN_QUANTUM=
build=${1:-$root/build}
kinds=${2:-pulse pipewire}
brinesong=$build/brinesong
[ -x "$brinesong" ] || { echo "play_cost: $brinesong not built" >&2; exit 1; }
for tool in play paplay parecord playerctl dbus-run-session Xvfb; do
  command -v "$tool" >/dev/null || { echo "play_cost: $tool is not installed" >&2; exit 1; }
done
seconds=${BRINESONG_COST_SECONDS:-30}
repeats=${BRINESONG_LATENCY_REPEATS:-5}

work=$(mktemp -d /tmp/brinesong-cost.XXXXXX)
cleanup() {
  for kind in $kinds; do
    "$root/scripts/$kind-server.sh" stop "$work/$kind" >/dev/null 2>&1 || true
  done
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

# The ready-made file paplay streams: the same kind of noise, rendered beforehand.
sox -q -n -r 44100 -c 2 -b 16 "$work/ready.wav" synth "$seconds" pinknoise brownnoise

# CPU ticks (user + system) and context switches of a set of processes, all their threads.
descendants() {  # descendants PID: it and every process below it
  local child
  echo "$1"
  for child in $(ps -o pid= --ppid "$1"); do descendants "$child"; done
}
server_counts() {  # server_counts PID...
  local ticks=0 switches=0 pid t s
  for pid in $(for p in "$@"; do descendants "$p"; done); do
    t=$(awk '{ print $14 + $15 }' "/proc/$pid/stat")
    s=$(cat /proc/"$pid"/task/*/status |
      awk '/^(voluntary|nonvoluntary)_ctxt_switches:/ { n += $2 } END { print n + 0 }')
    ticks=$((ticks + t)) switches=$((switches + s))
  done
  echo "$ticks $switches"
}
hz=$(getconf CLK_TCK)

# run NAME command...: one row of the table.
run() {
  local name=$1; shift
  local before after
  before=$(server_counts "${server_pids[@]}")
  /usr/bin/time -f '%U %S' -o "$work/time" "$@" >/dev/null 2>&1 || true
  after=$(server_counts "${server_pids[@]}")
  awk -v name="$name" -v hz="$hz" -v b="$before" -v a="$after" -v t="$(cat "$work/time")" '
    BEGIN { split(b, x, " "); split(a, y, " "); split(t, c, " ")
            printf "| %-44s | %6.2f s | %6.2f s | %8d |\n", name, c[1] + c[2],
                   (y[1] - x[1]) / hz, y[2] - x[2] }'
}

for kind in $kinds; do
  env_line=$("$root/scripts/$kind-server.sh" start "$work/$kind")
  (
    eval "$env_line"
    if [ "$kind" = pulse ]; then
      server_pids=("$(cat "$work/$kind/pid")")
    else
      server_pids=("$(cat "$work/$kind/pipewire.pid")" "$(cat "$work/$kind/pulse.pid")")
    fi
    echo "== $kind ($(pactl info | sed -n 's/^Server Name: //p')), $seconds s each"
    echo "| player                                       | client   | server   | wake-ups |"
    echo "|---|---|---|---|"
    minutes=$(awk -v s="$seconds" 'BEGIN { print s / 60 }')
    run "brinesong --play" env XDG_CONFIG_HOME="$work/config" \
      "$brinesong" --play --minutes "$minutes" --seed 1
    run "sox play ... synth pinknoise brownnoise" env AUDIODRIVER=pulseaudio \
      play -q -n -c 2 -r 44100 synth "$seconds" pinknoise brownnoise
    run "paplay of a ready WAV" paplay "$work/ready.wav"

    # The window (for its volume) on a display and a session bus of its own.
    exec 3>"$work/display"
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    exec 3>&-
    for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.1; done
    DISPLAY=":$(head -n1 "$work/display")" dbus-run-session -- \
      python3 "$root/bench/play_latency.py" "$brinesong" brinesong_test "$repeats" || true
    kill "$xvfb" 2>/dev/null || true
    rm -f "$work/display"
  )
  "$root/scripts/$kind-server.sh" stop "$work/$kind" >/dev/null 2>&1 || true
done
