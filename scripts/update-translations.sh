#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Collects every interface text (Texts::tr in the code, the strings of the interface descriptions)
# into the translation tables with Qt's lupdate. New texts appear in the German table unfinished,
# to be translated; the English table takes each English text as its own translation. Run it after
# adding or changing a text.
#   update-translations.sh           update resources/translations/*.ts
#   update-translations.sh --check   change nothing; fail when a table is out of date or a text
#                                    has no translation (CI runs this)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
lupdate=${LUPDATE:-/usr/lib/qt6/bin/lupdate}
tables=resources/translations
out=$tables
if [ "${1:-}" = --check ]; then
  out=$(mktemp -d)
  trap 'rm -rf "$out"' EXIT
  cp "$tables"/brinesong_*.ts "$out"/
fi
for language in en de; do
  "$lupdate" -silent -no-obsolete -locations none -source-language en -target-language "$language" \
    -I . app cli model window platform resources/interfaces -ts "$out/brinesong_$language.ts"
done
# English: a text is its own translation, except where the table already says otherwise.
perl -0pi -e 's{<source>([^<]*)</source>(\s*)<translation type="unfinished"></translation>}{<source>$1</source>$2<translation>$1</translation>}gs' \
  "$out/brinesong_en.ts"
if [ "$out" != "$tables" ]; then
  status=0
  for table in "$tables"/brinesong_*.ts; do
    if ! diff -u "$table" "$out/$(basename "$table")"; then
      echo "update-translations: $table is out of date: run scripts/update-translations.sh" >&2
      status=1
    fi
    if grep -q 'type="unfinished"' "$table"; then
      echo "update-translations: $table has texts without a translation" >&2
      status=1
    fi
  done
  exit $status
fi
