#include "Localization.h"

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
}

}  // namespace brinesong
