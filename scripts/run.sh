#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what building and running need, builds the program alone (no tests, no benchmarks),
# and starts it. Arguments go to the program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/install-deps.sh run
cmake -S . -B build -G Ninja -DBRINESONG_TESTS=OFF -DBRINESONG_BENCH=OFF >/dev/null
cmake --build build -j "$(nproc)" --target brinesong
exec build/brinesong "$@"
