#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What `cmake --install` puts under a prefix, checked as a packager would: the exact file list,
# the PNG icons at their sizes, the desktop entry and the AppStream data through their validators
# (AppStream's pedantic too), the manual page rendered with every warning on, the bash completion
# loaded and asked, and the installed program run.
#   install_check.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
fail() { echo "install_check: $*" >&2; exit 1; }

DESTDIR="$dest" cmake --install "$build" --prefix /usr >/dev/null
root="$dest/usr"

expected="bin/brinesong
lib/systemd/user/brinesong.service
share/applications/org.kelvane.Brinesong.desktop
share/bash-completion/completions/brinesong
share/icons/hicolor/128x128/apps/org.kelvane.Brinesong.png
share/icons/hicolor/16x16/apps/org.kelvane.Brinesong.png
share/icons/hicolor/24x24/apps/org.kelvane.Brinesong.png
share/icons/hicolor/256x256/apps/org.kelvane.Brinesong.png
share/icons/hicolor/32x32/apps/org.kelvane.Brinesong.png
share/icons/hicolor/48x48/apps/org.kelvane.Brinesong.png
share/icons/hicolor/64x64/apps/org.kelvane.Brinesong.png
share/icons/hicolor/scalable/apps/org.kelvane.Brinesong.svg
share/icons/hicolor/symbolic/apps/org.kelvane.Brinesong-symbolic.svg
share/man/man1/brinesong.1
share/metainfo/org.kelvane.Brinesong.metainfo.xml"
actual=$(cd "$root" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
echo "$actual" | sed 's/^/  /'
[ "$actual" = "$expected" ] || fail "the install tree differs from the expected one"
[ -z "$(cd "$dest" && find . -mindepth 1 -maxdepth 1 ! -name usr)" ] || fail "files outside the prefix"

# Each PNG is a PNG of the size its folder names (width and height from its header).
for png in "$root"/share/icons/hicolor/*x*/apps/org.kelvane.Brinesong.png; do
  size=$(basename "$(dirname "$(dirname "$png")")")
  [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$png is no PNG"
  read -r w1 w2 w3 w4 h1 h2 h3 h4 < <(od -An -tu1 -j16 -N8 "$png")
  [ "$(((w1 << 24) + (w2 << 16) + (w3 << 8) + w4))x$(((h1 << 24) + (h2 << 16) + (h3 << 8) + h4))" = "$size" ] ||
    fail "$png is not $size"
done

desktop-file-validate "$root/share/applications/org.kelvane.Brinesong.desktop" ||
  fail "desktop-file-validate"
# Pedantic, and not one remark: except that the application id has capitals, which its
# reverse-DNS form allows and which the desktop entry, the icons and the bus names share.
appstream=$(appstreamcli validate --no-net --pedantic --explain \
  "$root/share/metainfo/org.kelvane.Brinesong.metainfo.xml" 2>&1) ||
  fail "appstreamcli validate: $appstream"
remarks=$(printf '%s\n' "$appstream" | grep -E '^[EWIP]: ' | grep -v ': cid-contains-uppercase-letter ' || true)
[ -z "$remarks" ] || fail "appstreamcli validate --pedantic remarks: $remarks"
# The licence a distribution ships it under, and the metadata's own.
grep -q '<project_license>GPL-3.0-or-later</project_license>' \
  "$root/share/metainfo/org.kelvane.Brinesong.metainfo.xml" || fail "the metainfo's project licence"
grep -q '<metadata_license>CC0-1.0</metadata_license>' \
  "$root/share/metainfo/org.kelvane.Brinesong.metainfo.xml" || fail "the metainfo's metadata licence"

# The user unit starts the installed program's headless player, and systemd takes it as it is (on
# a copy that names the program where it lies here, and without looking for its manual page).
unit="$root/lib/systemd/user/brinesong.service"
grep -qx 'ExecStart=brinesong --serve' "$unit" || fail "the unit does not start brinesong --serve"
grep -q '^WantedBy=default.target$' "$unit" || fail "the unit has no [Install] target"
if command -v systemd-analyze >/dev/null; then
  mkdir -p "$dest/verify"
  sed "s|^ExecStart=brinesong |ExecStart=$root/bin/brinesong |" "$unit" >"$dest/verify/brinesong.service"
  verified=$(systemd-analyze verify --man=no "$dest/verify/brinesong.service" 2>&1) ||
    fail "systemd-analyze verify: $verified"
  [ -z "$verified" ] || fail "systemd-analyze verify remarks: $verified"
fi

# Every warning groff and man can give, as a packager's lint would ask for them.
warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
  man --warnings -E UTF-8 -l -Tutf8 -Z "$root/share/man/man1/brinesong.1" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "the manual page renders with warnings: $warnings"

# The installed program is whole without its build tree. Its version is the changelog's top entry
# (read by dpkg's own parser) in --version, the newest AppStream release and the manual page's
# header alike, and so is the date in the last two.
changelog="$source/debian/changelog"
version=$(dpkg-parsechangelog -l "$changelog" -S Version)
# The day as written in the entry, whatever its time zone.
date=$(date -d "$(dpkg-parsechangelog -l "$changelog" -S Date | cut -d' ' -f2-4)" +%F)
said=$("$root/bin/brinesong" --version)
[ "$said" = "brinesong $version" ] || fail "--version says '$said', the changelog '$version'"
release=$(grep -m1 -o '<release [^>]*>' "$root/share/metainfo/org.kelvane.Brinesong.metainfo.xml")
[ "$release" = "<release version=\"$version\" date=\"$date\">" ] ||
  fail "the newest release in the metainfo is '$release', the changelog's $version of $date"
header=$(grep -m1 "^\.TH " "$root/share/man/man1/brinesong.1")
[ "$header" = ".TH BRINESONG 1 $date \"Brinesong $version\" \"User Commands\"" ] ||
  fail "the manual page's header is '$header', the changelog's $version of $date"

# Every option --help names is in the manual page and in the completion.
options=$("$root/bin/brinesong" --help | grep -o -- '--[a-z][a-z-]*' | sort -u)
for option in $options; do
  grep -q -- "$(printf '%s' "$option" | sed 's/-/\\\\-/g')" "$root/share/man/man1/brinesong.1" ||
    fail "the manual page lacks $option"
  grep -q -- "$option" "$root/share/bash-completion/completions/brinesong" ||
    fail "the completion lacks $option"
done

# The completion, loaded as bash-completion loads it, completes options and their values.
complete_line() {  # complete_line WORD... : the completions of the last word
  bash -c '
    [ -f /usr/share/bash-completion/bash_completion ] && . /usr/share/bash-completion/bash_completion
    . "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    _brinesong brinesong "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}"' _ "$root/share/bash-completion/completions/brinesong" "$@"
}
[ "$(complete_line brinesong --boost)" = "--boost-sound-level" ] || fail "completion of --boost"
[ "$(complete_line brinesong --amplitude-generator o | tr '\n' ' ')" = "on off " ] ||
  fail "completion of the switch's values"
# Preset names as the installed program takes them (in any case; the shipped ones in German too),
# quoted for the shell; the user's own from a settings file of the check's own.
mkdir -p "$dest/config/Kelvane"
cat >"$dest/config/Kelvane/Brinesong.ini" <<'INI'
[Presets]
1\name="Stormy night (mine)"
1\lightWave=1
1\heavyWave=2
1\ascent=3
1\descent=4
1\waveInterval=5
1\boostSoundLevel=false
1\amplitudeGenerator=true
INI
presets=$(XDG_CONFIG_HOME="$dest/config" complete_line "$root/bin/brinesong" --play --preset st |
  tr '\n' ' ')
[ "$presets" = 'Steady\ surf Storm Sturm Stormy\ night\ \(mine\) ' ] ||
  fail "completion of the presets' names: $presets"
echo "install_check: the install tree, the validators, the manual page and the completion pass"
