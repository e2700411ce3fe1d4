#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# CPU cost of live playback: `brinesong --play --minutes 1` against sox playing pink and brown noise
# for the same minute, one after the other in this run, both into a null sink of a private sound
# server. Prints CPU seconds per minute of sound for each, their ratio, and brinesong's underruns.
# Usage: bench/play_cpu.sh [BUILD_DIR]   (default: build; a server is started unless PULSE_SERVER
# is already set)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
brinesong=$build/brinesong
[ -x "$brinesong" ] || { echo "play_cpu: $brinesong not built" >&2; exit 1; }
command -v play >/dev/null || { echo "play_cpu: sox's play is not installed" >&2; exit 1; }
play -h 2>&1 | grep -q "DEVICE DRIVERS:.*pulseaudio" ||
  { echo "play_cpu: sox has no PulseAudio driver (libsox-fmt-pulse)" >&2; exit 1; }

work=$(mktemp -d /tmp/brinesong-bench.XXXXXX)
cleanup() {
  [ -n "${own_server:-}" ] && "$root/scripts/pulse-server.sh" stop "$work/pulse" || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
if [ -z "${PULSE_SERVER:-}" ]; then
  eval "$("$root/scripts/pulse-server.sh" start "$work/pulse")"
  own_server=1
fi

seconds=60
# user + system CPU seconds of one command, from GNU time.
cpu_of() {  # cpu_of OUTFILE command...
  local out=$1; shift
  /usr/bin/time -f '%U %S %e' -o "$out.time" "$@" >"$out.log" 2>&1
  awk '{ printf "%.3f %.1f\n", $1 + $2, $3 }' "$out.time"
}

read -r b_cpu b_wall < <(XDG_CONFIG_HOME="$work/config" BRINESONG_PLAY_REPORT=1 \
  cpu_of "$work/brinesong" "$brinesong" --play --minutes 1 --seed 1)
report=$(grep 'played' "$work/brinesong.log" || true)
underruns=$(sed -n 's/.*underruns \([0-9]*\),.*/\1/p' <<<"$report")

read -r s_cpu s_wall < <(AUDIODRIVER=pulseaudio \
  cpu_of "$work/sox" play -q -n -c 2 -r 44100 synth "$seconds" pinknoise brownnoise)

awk -v b="$b_cpu" -v bw="$b_wall" -v s="$s_cpu" -v sw="$s_wall" -v u="${underruns:-?}" \
    -v n="$seconds" 'BEGIN {
  printf "brinesong --play : %6.3f CPU s per minute of sound (%.1f s wall), underruns %s\n", b * 60 / n, bw, u
  printf "sox play         : %6.3f CPU s per minute of sound (%.1f s wall)\n", s * 60 / n, sw
  if (s > 0) printf "ratio brinesong / sox: %.3f (target at most 0.333)\n", b / s
}'
echo "brinesong's stream: ${report#brinesong: }"
