// User-visible texts go through the translation table with the English text as key; a text with
// no entry shows the key itself.
#pragma once

#include <QCoreApplication>
#include <QString>

namespace brinesong {

inline QString localized(const char* englishKey) {
    return QCoreApplication::translate("Brinesong", englishKey);
}

// Loads the table for the user's language, else the English one, into the running application.
void installTranslations(QCoreApplication& app);

}  // namespace brinesong
