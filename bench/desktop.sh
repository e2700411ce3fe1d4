# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the benchmarks that run the window ($root set): a scratch folder $work, a private
# sound server unless PULSE_SERVER names one, and a private virtual display as DISPLAY. All of it
# goes at exit, with the program whose pid the benchmark keeps in $program.
work=$(mktemp -d /tmp/brinesong-bench.XXXXXX)
cleanup() {
  [ -n "${program:-}" ] && kill "$program" 2>/dev/null || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  [ -n "${own_server:-}" ] && "$root/scripts/pulse-server.sh" stop "$work/pulse" || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
if [ -z "${PULSE_SERVER:-}" ]; then
  eval "$("$root/scripts/pulse-server.sh" start "$work/pulse")"
  own_server=1
fi
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
exec 3>&-
for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
