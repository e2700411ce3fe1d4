#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and runs every test: the main build's tests against a private
# PulseAudio server and a virtual display; the tests whose results optimisation can change (label
# `release`) on a Release (-O3) build; the tests that play (label `sound`) once more against a
# private PipeWire with its PulseAudio server; the fuzzing harnesses (fuzz/), each for
# BRINESONG_FUZZ_SECONDS (30) from its seeds; the core under AddressSanitizer and UBSan and the
# threaded engine under ThreadSanitizer; then the Debian package (scripts/package-check.sh, built
# without its tests, which have run here). Every build treats warnings as errors (the package's is
# checked for none). The servers and the display are stopped on every exit path, and the time each
# stage took is printed at the end, also after a failure.
#
# The fuzzing build runs in the background, at the lowest priority, beside the tests; the fuzzers
# after it, beside the sanitizer builds and the package's, where a core is often idle (linking,
# lintian, apt), never beside the tests that play, whose timing they could upset.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)
fuzz_seconds=${BRINESONG_FUZZ_SECONDS:-30}
services=$(mktemp -d /tmp/brinesong-test.XXXXXX)
began=$SECONDS

# stage NAME COMMAND...: runs the command and notes how long it took.
stage() {
  local name=$1 start=$SECONDS
  shift
  "$@"
  printf '%-46s %5d s\n' "$name" $((SECONDS - start)) >> "$services/times"
}
build() {  # build DIR TARGET [cmake options...]
  local dir=$1 target=$2
  shift 2
  cmake -S . -B "$dir" -G Ninja -DBRINESONG_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs" --target "$target"
}
fuzz_pid=""
kill_tree() {  # a process and all it started, the deepest first
  local child
  for child in $(pgrep -P "$1"); do kill_tree "$child"; done
  kill "$1" 2>/dev/null || true
}
cleanup() {
  [ -z "$fuzz_pid" ] || kill_tree "$fuzz_pid"  # the fuzzing build or the fuzzers
  scripts/pulse-server.sh stop "$services/pulse" || true
  scripts/pipewire-server.sh stop "$services/pipewire" || true
  [ -f "$services/xvfb.pid" ] && kill "$(cat "$services/xvfb.pid")" 2>/dev/null || true
  if [ -f "$services/times" ]; then
    echo "test.sh: time per stage (wall clock; the fuzzers' ran beside the others)"
    cat "$services/times"
    printf '%-46s %5d s\n' "all" $((SECONDS - began))
  fi
  rm -rf "$services"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

stage "install what is missing" scripts/install-deps.sh test

# -O2, as the default build (RelWithDebInfo) is made, but without its debug information, which
# takes a quarter of the compiler's time.
stage "main build" build build all -DBRINESONG_TESTS=ON -DBRINESONG_BENCH=ON \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG"
checks() {
  # Formatting is checked, not changed.
  git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
  # Every source file carries its licence.
  local unlicensed
  unlicensed=$(git ls-files '*.cpp' '*.h' '*.sh' '*.py' '*.ui' '*CMakeLists.txt' |
    xargs grep -L 'SPDX-License-Identifier: GPL-3.0-or-later' || true)
  [ -z "$unlicensed" ] || {
    echo "test.sh: no SPDX-License-Identifier in:" $unlicensed >&2
    exit 1
  }
}
stage "format and licence checks" checks

# The harnesses and what they test, with clang's libFuzzer, AddressSanitizer and UBSan: built in
# the background at the lowest priority from here on, beside the tests (which pass beside a busy
# core); the fuzzers themselves wait until the tests that play are done.
fuzz_build() {
  # Line tables only: a finding's stack names its lines.
  CXX=clang++ build build-fuzz fuzzers -DBRINESONG_FUZZ=ON -DBRINESONG_TESTS=OFF \
    -DBRINESONG_BENCH=OFF -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -gline-tables-only -DNDEBUG"
}
# Leaks are looked for once, as each harness ends, not after every input: Qt's caches make most
# inputs look leaky, and looking after each cost the settings harness six in seven of its runs.
fuzz() {  # each harness in turn, from a copy of its seeds; a finding stops the run
  local harness name
  for harness in fuzz/*.cpp; do
    name=$(basename "$harness" .cpp)
    mkdir -p "$services/corpus/$name"
    (cd "$services" && exec "$root/build-fuzz/fuzz/$name" \
      -max_total_time="$fuzz_seconds" -print_final_stats=1 -detect_leaks=0 \
      -artifact_prefix="$root/build-fuzz/$name-" "corpus/$name" "$root/fuzz/corpus/$name") \
      > "$services/fuzz-$name.log" 2>&1 || {
      tail -n 60 "$services/fuzz-$name.log"
      echo "test.sh: $name found an input that fails; it is in build-fuzz/ (see README.md)" >&2
      return 1
    }
    printf '  %-44s %s\n' "$name" "$(grep -m1 -o 'Done [0-9]* runs' "$services/fuzz-$name.log")"
  done
}
(
  renice -n 19 "$BASHPID" >/dev/null
  stage "fuzzing build (in the background)" fuzz_build
  while [ ! -e "$services/played" ]; do sleep 1; done
  stage "fuzzers ($fuzz_seconds s each, in the background)" fuzz
) > "$services/fuzz.log" 2>&1 &
fuzz_pid=$!


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

stage "main tests" ctest --test-dir build --output-on-failure -j "$jobs"

# What a user or packager builds: -O3, where the results of the arithmetic may differ. The
# package's build checks the whole program's -O3 warnings.
stage "Release build (label release)" build build-release release_tests \
  -DCMAKE_BUILD_TYPE=Release -DBRINESONG_TESTS=ON -DBRINESONG_BENCH=OFF
stage "Release tests" ctest --test-dir build-release --output-on-failure -j "$jobs" -L release
scripts/pulse-server.sh stop "$services/pulse"

# Most desktops serve the PulseAudio protocol from PipeWire: what plays is tested there too.
pipewire_tests() (
  eval "$(scripts/pipewire-server.sh start "$services/pipewire")"
  ctest --test-dir build --output-on-failure -j "$jobs" -L sound
  scripts/pipewire-server.sh stop "$services/pipewire"
)
stage "PipeWire tests (label sound)" pipewire_tests
touch "$services/played"  # the fuzzers may start


stage "AddressSanitizer build (core)" build build-asan all -DBRINESONG_CORE_ONLY=ON \
  -DBRINESONG_SANITIZE=address,undefined
stage "AddressSanitizer tests" ctest --test-dir build-asan --output-on-failure -j "$jobs"

stage "ThreadSanitizer build (label threaded)" build build-tsan threaded_tests \
  -DBRINESONG_CORE_ONLY=ON -DBRINESONG_SANITIZE=thread
stage "ThreadSanitizer tests" ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L threaded

# The Debian package from a clean clone of HEAD, built without its tests (they ran above), through
# lintian, installed and purged.
stage "package build, lintian, install, purge" scripts/package-check.sh

fuzz_status=0
wait "$fuzz_pid" || fuzz_status=$?
fuzz_pid=""
cat "$services/fuzz.log"
[ "$fuzz_status" -eq 0 ] || exit 1
