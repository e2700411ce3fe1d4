#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what Brinesong needs on Debian 12 (run as root, or with sudo available). Safe to run
# again.
#   install-deps.sh run    building and running the program
#   install-deps.sh test   that, and what the tests need (a private sound server, a virtual
#                          display, a private session bus, the desktop validators, readers, a
#                          screen reader's client library, what builds and lints the package,
#                          clang's libFuzzer for the fuzzing harnesses)
# The program itself never gets a sound server package: the user's desktop has one (PulseAudio or
# PipeWire), and a second one would compete with it. Only the tests start a private server.
set -euo pipefail
what=${1:-run}
run_packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-tools-dev qt6-l10n-tools libqt6uitools6 libgl-dev
  qt6-qpa-plugins qt6-wayland libqt6svg6 qt6-translations-l10n
  libpulse-dev libsndfile1-dev libsoxr-dev
)
test_packages=(
  clang-format libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev procps
  pulseaudio pulseaudio-utils pipewire pipewire-pulse wireplumber
  sox libsox-fmt-pulse sndfile-programs ffmpeg
  xvfb xauth x11-apps x11-utils xdotool imagemagick time trayer weston
  dbus playerctl libglib2.0-bin iproute2
  desktop-file-utils appstream man-db groff-base bash-completion
  python3-pyatspi at-spi2-core
  dpkg-dev debhelper lintian
)
case "$what" in
run) packages=("${run_packages[@]}") ;;
test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
*)
  echo "usage: $0 run|test" >&2
  exit 2
  ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y "${missing[@]}"
fi
