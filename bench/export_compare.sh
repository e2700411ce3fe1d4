#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Times a 10-minute export side by side with its peers, in one run on one file system, and prints
# the ratios: dd writing the same number of bytes (the floor), sox and ffmpeg synthesising noise to
# a 16-bit stereo AIFF. Then compares brinesong's peak memory for a 10- and a 100-minute export.
#   bash bench/export_compare.sh [BUILD_DIR] [WORK_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
work=${2:-$(mktemp -d "${TMPDIR:-/tmp}/brinesong-bench.XXXXXX")}
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
brinesong=$build/brinesong
export XDG_CONFIG_HOME=$work/config  # default settings, whatever the user saved
runs=3
bytes=$((54 + 4 * 44100 * 600))

# Sets `best` to the best wall time of $runs runs (seconds) and `peak` to the largest peak
# resident memory (KB) among them.
measure() {
  local out t m
  best="" peak=0
  for _ in $(seq "$runs"); do
    out=$(/usr/bin/time -f "%e %M" -o "$work/time.out" "$@" >/dev/null 2>&1; tail -n 1 "$work/time.out")
    t=${out% *}
    m=${out#* }
    if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t; fi
    if [ "$m" -gt "$peak" ]; then peak=$m; fi
  done
}

printf '%-10s %8s %10s\n' tool seconds peak_KB
measure "$brinesong" --export "$work/brinesong.aif" --minutes 10 --seed 1; t_brine=$best; m_brine=$peak
printf '%-10s %8s %10s\n' brinesong "$t_brine" "$m_brine"
measure dd if=/dev/zero of="$work/dd.out" bs=1M count="$bytes" iflag=count_bytes status=none; t_dd=$best
printf '%-10s %8s %10s\n' dd "$t_dd" "$peak"
measure sox -n -r 44100 -b 16 -c 2 "$work/sox.aiff" synth 600 pinknoise; t_sox=$best
printf '%-10s %8s %10s\n' sox "$t_sox" "$peak"
measure ffmpeg -v error -y -f lavfi -i "anoisesrc=d=600:c=pink:r=44100:s=1" \
  -f lavfi -i "anoisesrc=d=600:c=pink:r=44100:s=2" \
  -filter_complex "[0:a][1:a]amerge=inputs=2[a]" -map "[a]" -c:a pcm_s16be "$work/ffmpeg.aiff"; t_ff=$best
printf '%-10s %8s %10s\n' ffmpeg "$t_ff" "$peak"
rm -f "$work"/*.aif* "$work/dd.out"

ratio() { awk "BEGIN{printf \"%.2f\", $1 / $2}"; }
echo
echo "sox / brinesong:     $(ratio "$t_sox" "$t_brine")x   (target >= 6)"
echo "ffmpeg / brinesong:  $(ratio "$t_ff" "$t_brine")x   (target >= 3)"
echo "brinesong / dd:      $(ratio "$t_brine" "$t_dd")x   (the write floor)"

runs=1
measure "$brinesong" --export "$work/ten.aif" --minutes 10 --seed 1; m10=$peak
rm -f "$work/ten.aif"
measure "$brinesong" --export "$work/hundred.aif" --minutes 100 --seed 1; m100=$peak
rm -f "$work/hundred.aif"
echo "peak memory: 10-minute export ${m10} KB, 100-minute export ${m100} KB (target: 100 <= 10)"
