#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package as a Debian 12 user makes it: built with `dpkg-buildpackage -us -uc -b` in a
# clean clone of HEAD (what is not committed is not in it), on every core and without its tests
# (scripts/test.sh has run them all before it calls this), its source and binary packages checked
# with lintian (no error, no warning), then installed with apt, its files checked where they belong
# and the installed program run, and purged, leaving none of its files. The install is skipped
# where a brinesong package is installed already, so that nobody's own install is touched.
# Run as root, or as a user who may use sudo.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/brinesong-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "package-check: $*" >&2; exit 1; }
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

git clone -q "$root" "$work/brinesong"
# dpkg-buildpackage builds on one core unless told otherwise.
if ! (cd "$work/brinesong" &&
  DEB_BUILD_OPTIONS="nocheck parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}" \
    dpkg-buildpackage -us -uc -b --build-profiles=nocheck) >"$work/build.log" 2>&1; then
  tail -n 80 "$work/build.log"
  fail "dpkg-buildpackage failed"
fi
# A packager's build does not stop on a warning, so it is looked for here.
if grep -E '^[^ ]+:[0-9]+:[0-9]+: warning:' "$work/build.log"; then
  fail "the compiler warned in the package build"
fi
version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
deb="$work/brinesong_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no $(basename "$deb") was built"

# The source package as dpkg-source makes it from the clean tree, then both through lintian. The
# informational and pedantic tags are shown, and only errors and warnings fail.
(cd "$work/brinesong" && git clean -q -d -f -x && dpkg-source -b . >/dev/null)
lintian --display-info --pedantic --fail-on error,warning "$work/brinesong_${version}.dsc" \
  "$work"/brinesong_"${version}"_*.changes || fail "lintian"

# One install at a time on the machine, so that two test runs sharing it take turns; apt waits for
# dpkg's own lock too.
exec 9>>/tmp/brinesong-package-check.lock
flock 9
if dpkg-query -W -f='${Status}' brinesong 2>/dev/null | grep -q 'install ok installed'; then
  echo "package-check: a brinesong package is installed already: not installing over it"
  exit 0
fi
apt_get() {
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -y -q "$@"
}
apt_get install "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get install"; }
purge() { apt_get purge brinesong >>"$work/apt.log" 2>&1; }
trap 'purge || true; rm -rf "$work"' EXIT

for file in /usr/bin/brinesong /usr/share/applications/org.kelvane.Brinesong.desktop \
  /usr/share/metainfo/org.kelvane.Brinesong.metainfo.xml \
  /usr/share/icons/hicolor/scalable/apps/org.kelvane.Brinesong.svg \
  /usr/share/icons/hicolor/symbolic/apps/org.kelvane.Brinesong-symbolic.svg \
  /usr/share/man/man1/brinesong.1.gz /usr/share/bash-completion/completions/brinesong \
  /usr/lib/systemd/user/brinesong.service /usr/share/doc/brinesong/copyright; do
  [ -f "$file" ] || fail "$file is not installed"
done
desktop-file-validate /usr/share/applications/org.kelvane.Brinesong.desktop ||
  fail "desktop-file-validate"
appstreamcli validate --no-net /usr/share/metainfo/org.kelvane.Brinesong.metainfo.xml >/dev/null ||
  fail "appstreamcli validate"
[ "$(man -w brinesong)" = /usr/share/man/man1/brinesong.1.gz ] || fail "man finds no brinesong page"
# The user unit as systemd reads it, its manual page and program installed; and no user has it
# enabled by the install.
systemd-analyze verify /usr/lib/systemd/user/brinesong.service || fail "systemd-analyze verify"
[ -z "$(find /etc/systemd/user -name brinesong.service 2>/dev/null)" ] ||
  fail "the install enabled the user unit"
# bash-completion loads the completion on first use, from where the package put it.
bash -c '. /usr/share/bash-completion/bash_completion; _completion_loader brinesong
  complete -p brinesong' 2>/dev/null | grep -q _brinesong ||
  fail "bash-completion does not load the completion"

# The installed program, on its own settings (read, never written by the command line).
said=$(brinesong --version)
[ "$said" = "brinesong $version" ] || fail "--version says '$said', the package is $version"
XDG_CONFIG_HOME="$work/config" brinesong --export "$work/surf.aif" --minutes 0.05 --seed 1 \
  2>/dev/null || fail "brinesong --export failed"
if [ "$(soxi -s "$work/surf.aif")" != 132300 ] || [ "$(soxi -c "$work/surf.aif")" != 2 ]; then
  fail "the exported file is not 3 seconds of stereo"
fi

purge || { cat "$work/apt.log"; fail "apt-get purge"; }
trap 'rm -rf "$work"' EXIT
status=$(dpkg-query -W -f='${Status}' brinesong 2>/dev/null || true)
case "$status" in
"" | *not-installed) ;;
*) fail "dpkg still has brinesong as '$status' after the purge" ;;
esac
# Every file of the package, and each folder of its own, is gone.
left=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' | while read -r path; do
  if [ -e "$path" ] && { [ "${path%/}" = "$path" ] || [[ $path == *brinesong* ]]; }; then
    echo "$path"
  fi
done)
[ -z "$left" ] || fail "left after the purge: $left"
echo "package-check: brinesong $version built, lintian clean, installed, run and purged"
