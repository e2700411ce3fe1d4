// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop's file dialog's answer: the response code and the results (the URIs, the file type,
// the choices), each possibly of another type than the portal documents, in the plain types they
// have once QtDBus has decoded the message. An answer
// that is taken names an absolute local file with no NUL in its name, and the length chosen in it
// reads as 0 to 400 minutes or is refused.
#include <fuzzer/FuzzedDataProvider.h>

#include <QStringList>
#include <QVariantMap>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "export/ExportJob.h"
#include "platform/PortalFileChooser.h"
#include "window/ExportFlow.h"

using namespace brinesong;

namespace {

QString text(FuzzedDataProvider& data) {
    const std::string bytes = data.ConsumeRandomLengthString(256);
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

// A value for one entry of the results: the type the portal documents, or another.
QVariant value(FuzzedDataProvider& data, const QVariant& documented) {
    switch (data.ConsumeIntegralInRange(0, 3)) {
        case 0:
            return documented;
        case 1:
            return text(data);
        case 2:
            return data.ConsumeIntegral<int>();
        default:
            return QVariant();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    static const bool registered = (registerPortalTypes(), true);
    (void)registered;
    FuzzedDataProvider data(bytes, size);
    const uint code = data.ConsumeIntegralInRange<uint>(0, 3);
    QStringList uris;
    for (int n = data.ConsumeIntegralInRange(0, 2); n > 0; --n) {
        uris << text(data);
    }
    PortalFilter filter{text(data), {}};
    for (int n = data.ConsumeIntegralInRange(0, 2); n > 0; --n) {
        filter.rules.append({data.ConsumeIntegral<uint>(), text(data)});
    }
    QList<PortalChoiceOption> choices;
    for (int n = data.ConsumeIntegralInRange(0, 3); n > 0; --n) {
        const QString id = data.ConsumeBool() ? QStringLiteral("length") : text(data);
        choices.append({id, text(data)});
    }
    QVariantMap results;
    results.insert(QStringLiteral("uris"), value(data, uris));
    results.insert(QStringLiteral("current_filter"), value(data, QVariant::fromValue(filter)));
    results.insert(QStringLiteral("choices"), value(data, QVariant::fromValue(choices)));

    PortalFileChooser::Answer answer;
    if (PortalFileChooser::readResponse(code, results, answer) !=
        PortalFileChooser::Ending::Chosen) {
        return 0;
    }
    if (answer.path.isEmpty() || !answer.path.startsWith(QLatin1Char('/')) ||
        answer.path.contains(QChar(0))) {
        std::abort();
    }
    if (answer.choices.contains(QStringLiteral("length"))) {
        const auto minutes = ExportFlow::lengthMinutes(answer.choices.value("length"));
        if (minutes && !(*minutes >= 0.0f && *minutes <= kMaxExportMinutes)) {
            std::abort();
        }
    }
    return 0;
}
