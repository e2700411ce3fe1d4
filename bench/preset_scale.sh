#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# How the user's presets scale: settings files with 1,000, 5,000 and 20,000 presets of their own,
# timed for `--list-presets` and for the window's first show (launch until the window is visible on
# a private virtual display, with a private sound server). Prints the seconds of each and the ratio
# of each count to the 1,000 presets' time; linear reading gives about 5 and 20 (budget: 20,000
# within 30 times 1,000).
# Usage: bench/preset_scale.sh [BUILD_DIR] [COUNTS...]   (default: build, 1000 5000 20000)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(1000 5000 20000)
brinesong=$build/brinesong
[ -x "$brinesong" ] || { echo "preset_scale: $brinesong not built" >&2; exit 1; }
for tool in Xvfb xdotool; do
  command -v $tool >/dev/null || { echo "preset_scale: $tool is missing" >&2; exit 1; }
done

# shellcheck source=bench/desktop.sh
. "$root/bench/desktop.sh"

# A settings file with COUNT presets of the user's, of names and values that differ, and a stored
# volume so the launch is no first one (no help panel over the window).
make_store() {
  local count=$1 config=$2
  mkdir -p "$config/Kelvane"
  awk -v n="$count" 'BEGIN {
    print "[General]\nVolumeKey=50\n[Presets]"
    for (i = 1; i <= n; i++) {
      printf "%d\\name=Preset number %d\n%d\\lightWave=%d\n%d\\heavyWave=%d\n", i, i, i, i % 101, i, (i * 7) % 101
      printf "%d\\ascent=50\n%d\\descent=50\n%d\\waveInterval=%d\n", i, i, i, (i * 3) % 101
      printf "%d\\boostSoundLevel=false\n%d\\amplitudeGenerator=true\n", i, i
    }
  }' >"$config/Kelvane/Brinesong.ini"
}

now() { date +%s.%N; }

# Seconds `--list-presets` takes.
time_list() {
  local config=$1 start
  start=$(now)
  XDG_CONFIG_HOME=$config "$brinesong" --list-presets >"$work/list" 2>/dev/null
  awk -v a="$start" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'
}

# Seconds from the launch of the window until it is visible.
time_window() {
  local config=$1 start window=""
  start=$(now)
  XDG_CONFIG_HOME=$config XDG_CACHE_HOME=$work/cache QT_QPA_PLATFORM=xcb "$brinesong" \
    >"$work/window-log" 2>&1 &
  program=$!
  for _ in $(seq 1 3000); do
    window=$(xdotool search --onlyvisible --name '^Brinesong$' 2>/dev/null | head -n1 || true)
    [ -n "$window" ] && break
    sleep 0.05
  done
  local seconds
  seconds=$(awk -v a="$start" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }')
  kill "$program" 2>/dev/null || true
  wait "$program" 2>/dev/null || true
  program=""
  [ -n "$window" ] || { echo "preset_scale: the window did not appear" >&2; exit 1; }
  echo "$seconds"
}

printf '%8s %12s %8s %12s %8s\n' presets list_s ratio window_s ratio
first_list="" first_window=""
for count in "${counts[@]}"; do
  config=$work/config-$count
  make_store "$count" "$config"
  list=$(time_list "$config")
  listed=$(wc -l <"$work/list")
  [ "$listed" -eq $((count + 5)) ] || { echo "preset_scale: listed $listed names" >&2; exit 1; }
  window=$(time_window "$config")
  [ -n "$first_list" ] || { first_list=$list; first_window=$window; }
  printf '%8s %12s %8.1f %12s %8.1f\n' "$count" "$list" \
    "$(awk -v a="$list" -v b="$first_list" 'BEGIN { print (b > 0 ? a / b : 0) }')" "$window" \
    "$(awk -v a="$window" -v b="$first_window" 'BEGIN { print (b > 0 ? a / b : 0) }')"
done
