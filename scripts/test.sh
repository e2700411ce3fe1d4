#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and runs every test: the main build's tests against a private
# PulseAudio server and a virtual display, the same for a Release (-O3) build, the tests that play
# (label `sound`) once more against a private PipeWire with its PulseAudio server, the core under
# AddressSanitizer and UBSan, the threaded engine under ThreadSanitizer, then the Debian package
# (scripts/package-check.sh). Every build treats warnings as errors (the package's is checked for
# none). The servers and the display are stopped on every exit path.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/install-deps.sh test

jobs=$(nproc)
build() {  # build DIR [cmake options...]
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DBRINESONG_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

build build -DBRINESONG_TESTS=ON -DBRINESONG_BENCH=ON
# Formatting is checked, not changed.
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
# Every source file carries its licence.
unlicensed=$(git ls-files '*.cpp' '*.h' '*.sh' '*.py' '*.ui' '*CMakeLists.txt' |
  xargs grep -L 'SPDX-License-Identifier: GPL-3.0-or-later' || true)
[ -z "$unlicensed" ] || { echo "test.sh: no SPDX-License-Identifier in:" $unlicensed >&2; exit 1; }

services=$(mktemp -d /tmp/brinesong-test.XXXXXX)
cleanup() {
  scripts/pulse-server.sh stop "$services/pulse" || true
  scripts/pipewire-server.sh stop "$services/pipewire" || true
  [ -f "$services/xvfb.pid" ] && kill "$(cat "$services/xvfb.pid")" 2>/dev/null || true
  rm -rf "$services"
}
trap cleanup EXIT INT TERM
eval "$(scripts/pulse-server.sh start "$services/pulse")"
# Xvfb picks a free display and reports its number, so two runs can share the machine.
exec 3> "$services/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset >/dev/null 2>&1 &
echo $! > "$services/xvfb.pid"
exec 3>&-
for _ in $(seq 1 100); do
  [ -s "$services/display" ] && break
  sleep 0.1
done
[ -s "$services/display" ] || { echo "test.sh: Xvfb did not start" >&2; exit 1; }
export BRINESONG_XVFB_DISPLAY=":$(head -n1 "$services/display")"

ctest --test-dir build --output-on-failure -j "$jobs"

# What a user or packager builds: -O3, where the compiler's warnings differ.
build build-release -DCMAKE_BUILD_TYPE=Release
ctest --test-dir build-release --output-on-failure -j "$jobs"
scripts/pulse-server.sh stop "$services/pulse"

# Most desktops serve the PulseAudio protocol from PipeWire: what plays is tested there too.
(
  eval "$(scripts/pipewire-server.sh start "$services/pipewire")"
  ctest --test-dir build --output-on-failure -j "$jobs" -L sound
)
scripts/pipewire-server.sh stop "$services/pipewire"

build build-asan -DBRINESONG_CORE_ONLY=ON -DBRINESONG_SANITIZE=address,undefined
ctest --test-dir build-asan --output-on-failure -j "$jobs"

build build-tsan -DBRINESONG_CORE_ONLY=ON -DBRINESONG_SANITIZE=thread
ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L threaded

# The Debian package from a clean clone of HEAD, with the tests that need no server or display,
# through lintian, installed and purged.
scripts/package-check.sh
