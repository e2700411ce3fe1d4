#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A long night of sound, shortened: `brinesong --play` for MINUTES into the null sink of a private
# sound server, with one core kept busy by a loop beside it, once on PulseAudio and once on
# PipeWire's PulseAudio server. For each, it reports the underruns, the program's CPU (over the
# whole run, and over its first and last minute, to show any growth) and its resident memory at the
# start and at the end; the server's own CPU is printed beside, for scale. Goal: no underrun, no
# growth.
# Usage: bench/soak.sh MINUTES [pulse|pipewire|both] [BUILD_DIR]   (default: both, build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# PipeWire with its own periods, as a desktop runs it, not the tests' longer ones.
export BRINESONG_PIPEWIRE_MIN_QUANTUM=
minutes=${1:?minutes to play}
kinds=${2:-both}
build=${3:-$root/build}
brinesong=$build/brinesong
[ -x "$brinesong" ] || { echo "soak: $brinesong not built" >&2; exit 1; }
[[ "$minutes" =~ ^[0-9]+$ ]] && [ "$minutes" -ge 2 ] ||
  { echo "soak: MINUTES is a whole number, at least 2" >&2; exit 2; }
case "$kinds" in
both) kinds="pulse pipewire" ;;
pulse|pipewire) ;;
*) echo "soak: the server is pulse, pipewire or both" >&2; exit 2 ;;
esac

work=$(mktemp -d /tmp/brinesong-soak.XXXXXX)
busy=""
player=""
cleanup() {
  [ -n "$busy" ] && kill "$busy" 2>/dev/null || true
  [ -n "$player" ] && kill -9 "$player" 2>/dev/null || true
  for kind in pulse pipewire; do
    "$root/scripts/$kind-server.sh" stop "$work/$kind" >/dev/null 2>&1 || true
  done
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

ticks=$(getconf CLK_TCK)
cpu_ticks() {  # user + system ticks of a process
  awk '{ print $14 + $15 }' "/proc/$1/stat"
}
rss_kb() {
  awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"
}

printf '%-9s %9s %9s %9s %9s %10s %10s %9s\n' server underruns "cpu%" "1st-min%" "last-min%" \
  "rss-start" "rss-end" "server%"
for kind in $kinds; do
  env_line=$("$root/scripts/$kind-server.sh" start "$work/$kind")
  (
    eval "$env_line"
    server_pid=$(cat "$work/$kind/pulse.pid" 2>/dev/null || cat "$work/$kind/pid")
    # One core kept busy, as a build or a browser beside the night's sound would.
    sh -c 'while :; do :; done' &
    busy=$!
    XDG_CONFIG_HOME="$work/config" BRINESONG_PLAY_REPORT=1 \
      "$brinesong" --play --minutes "$minutes" --seed 1 2>"$work/$kind.log" &
    player=$!
    trap 'kill "$busy" 2>/dev/null; kill -9 "$player" 2>/dev/null; true' EXIT

    # Every 5 s: seconds since the start, the program's CPU ticks and resident memory, the
    # server's CPU ticks.
    samples="$work/$kind.samples"
    : >"$samples"
    begin=$(date +%s.%N)
    for ((t = 5; t <= minutes * 60 - 5; t += 5)); do
      sleep 5
      kill -0 "$player" 2>/dev/null || break
      now=$(date +%s.%N)
      echo "$(awk -v a="$begin" -v b="$now" 'BEGIN { print b - a }') $(cpu_ticks "$player")" \
        "$(rss_kb "$player") $(cpu_ticks "$server_pid")" >>"$samples"
    done
    wait "$player" || true
    kill "$busy" 2>/dev/null || true
    underruns=$(sed -n 's/.*underruns \([0-9]*\),.*/\1/p' "$work/$kind.log")
    # The whole run from 5 s in (past the connection and the first buffers) to 5 s before the end;
    # the first minute from 5 s; the last minute up to 5 s before the end.
    awk -v t="$ticks" -v u="${underruns:-?}" -v k="$kind" '
      { time[NR] = $1; cpu[NR] = $2; rss[NR] = $3; server[NR] = $4 }
      END {
        n = NR; minute = 60 / 5
        first = minute + 1 <= n ? minute + 1 : n
        last = n - minute >= 1 ? n - minute : 1
        whole = (cpu[n] - cpu[1]) / t / (time[n] - time[1]) * 100
        one = (cpu[first] - cpu[1]) / t / (time[first] - time[1]) * 100
        end_ = (cpu[n] - cpu[last]) / t / (time[n] - time[last]) * 100
        srv = (server[n] - server[1]) / t / (time[n] - time[1]) * 100
        printf "%-9s %9s %9.2f %9.2f %9.2f %7d kB %7d kB %9.2f\n", k, u, whole, one, end_, rss[1], rss[n], srv
      }' "$samples"
  )
  "$root/scripts/$kind-server.sh" stop "$work/$kind"
done
