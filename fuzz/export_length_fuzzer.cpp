// SPDX-License-Identifier: GPL-3.0-or-later
// The export's length as typed into the dialog's field (or answered by the desktop's dialog), in
// the C locale and in German, which writes a decimal comma: whatever the text, it reads as a
// length from 0 to 400 minutes or as none.
//
// Typed times of day get a harness of their own beside this one when a parser of them lands.
#include <QLocale>
#include <QString>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "export/ExportJob.h"
#include "window/ExportFlow.h"

using namespace brinesong;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::German, QLocale::Germany)}) {
        QLocale::setDefault(locale);
        if (const std::optional<float> minutes = ExportFlow::lengthMinutes(text)) {
            if (!std::isfinite(*minutes) || *minutes < 0.0f || *minutes > kMaxExportMinutes) {
                std::abort();
            }
        }
    }
    return 0;
}
