#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What the window's picture of the waves costs: the whole program's CPU while it plays with its
# window visible, once with the picture shown and once with it hidden (View > Wave Picture, set
# through the saved settings), turn about, each run into a null sink of a private sound server and
# onto a private virtual display. Prints CPU seconds per minute of sound for each, and the ratio
# shown / hidden (budget: at most 1.5). The display server's own CPU is printed beside it.
# Usage: bench/picture_cpu.sh [BUILD_DIR] [SECONDS]   (default: build, 30 s per run, two runs each)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
seconds=${2:-30}
brinesong=$build/brinesong
[ -x "$brinesong" ] || { echo "picture_cpu: $brinesong not built" >&2; exit 1; }
for tool in Xvfb xdotool; do
  command -v $tool >/dev/null || { echo "picture_cpu: $tool is missing" >&2; exit 1; }
done

# shellcheck source=bench/desktop.sh
. "$root/bench/desktop.sh"

ticks=$(getconf CLK_TCK)
cpu_ticks() {  # user + system clock ticks of a process so far
  awk '{ print $14 + $15 }' "/proc/$1/stat"
}

# One run: the window plays for SECONDS with the picture shown (true) or hidden (false); prints
# the program's and the display server's CPU seconds over that time.
run() {
  local show=$1 config=$work/config-$1
  rm -rf "$config"
  mkdir -p "$config/Kelvane"
  # A stored volume: no first launch, so no help panel over the window.
  printf '[General]\nVolumeKey=50\nKelvane.Brinesong.ShowWavesKey=%s\n' "$show" \
    >"$config/Kelvane/Brinesong.ini"
  XDG_CONFIG_HOME=$config QT_QPA_PLATFORM=xcb "$brinesong" >"$work/log-$show" 2>&1 &
  program=$!
  local window=""
  for _ in $(seq 1 100); do
    window=$(xdotool search --onlyvisible --name '^Brinesong$' 2>/dev/null | head -n1 || true)
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || { echo "picture_cpu: the window did not appear" >&2; exit 1; }
  xdotool windowfocus "$window"
  xdotool key ctrl+p
  sleep 3  # the stream settles
  local p0 x0 p1 x1
  p0=$(cpu_ticks "$program")
  x0=$(cpu_ticks "$xvfb")
  sleep "$seconds"
  p1=$(cpu_ticks "$program")
  x1=$(cpu_ticks "$xvfb")
  kill -TERM "$program"
  wait "$program" || true
  program=""
  awk -v p=$((p1 - p0)) -v x=$((x1 - x0)) -v t="$ticks" 'BEGIN { printf "%.3f %.3f\n", p / t, x / t }'
}

shown=0 hidden=0 shown_x=0 hidden_x=0
for round in 1 2; do
  read -r p x < <(run true)
  echo "round $round, picture shown : program $p CPU s, display $x CPU s over $seconds s"
  shown=$(awk -v a="$shown" -v b="$p" 'BEGIN { print a + b }')
  shown_x=$(awk -v a="$shown_x" -v b="$x" 'BEGIN { print a + b }')
  read -r p x < <(run false)
  echo "round $round, picture hidden: program $p CPU s, display $x CPU s over $seconds s"
  hidden=$(awk -v a="$hidden" -v b="$p" 'BEGIN { print a + b }')
  hidden_x=$(awk -v a="$hidden_x" -v b="$x" 'BEGIN { print a + b }')
done
awk -v s="$shown" -v h="$hidden" -v sx="$shown_x" -v hx="$hidden_x" -v n="$seconds" 'BEGIN {
  printf "picture shown : %6.3f CPU s per minute of sound (display server %.3f)\n", s * 30 / n, sx * 30 / n
  printf "picture hidden: %6.3f CPU s per minute of sound (display server %.3f)\n", h * 30 / n, hx * 30 / n
  if (h > 0) printf "ratio shown / hidden: %.3f (budget at most 1.5)\n", s / h
}'
