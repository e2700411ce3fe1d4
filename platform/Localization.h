// SPDX-License-Identifier: GPL-3.0-or-later
// User-visible texts go through the translation table with the English text as key, all in the
// one context "Brinesong" (the interface descriptions' too); a text with no entry shows the key
// itself. Code names a text as `Texts::tr("...")`, the form lupdate collects
// (scripts/update-translations.sh).
#pragma once

#include <QCoreApplication>
#include <QString>

namespace brinesong {

struct Texts {
    Q_DECLARE_TR_FUNCTIONS(Brinesong)
};

// Loads the table for the user's language (German, else English) into the running application,
// and Qt's own table for the texts of its dialogs where the system has one.
void installTranslations(QCoreApplication& app);

}  // namespace brinesong
