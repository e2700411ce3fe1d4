// SPDX-License-Identifier: GPL-3.0-or-later
#include "Localization.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace brinesong {

void installTranslations(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(), QStringLiteral("brinesong"), QStringLiteral("_"),
                         QStringLiteral(":/i18n")) ||
        translator->load(QStringLiteral(":/i18n/brinesong_en.qm"))) {
        app.installTranslator(translator);
    } else {
        delete translator;
    }
    // The buttons and labels of Qt's own dialogs (the file dialog, message boxes).
    auto* qtTexts = new QTranslator(&app);
    if (qtTexts->load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        app.installTranslator(qtTexts);
    } else {
        delete qtTexts;
    }
}

}  // namespace brinesong
