// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProgramTexts.h"

#include "export/ExportFormat.h"
#include "export/TargetFile.h"
#include "platform/Localization.h"

namespace brinesong {

QString programVersion() {
    return QStringLiteral(BRINESONG_VERSION);
}

QString targetRefusalText(TargetRefusal refusal, const QString& name, const ExportFormat& format) {
    if (refusal == TargetRefusal::NotAFile) {
        return Texts::tr(
                   "%1 is neither a file, a FIFO nor a device: nothing can be exported to it.")
            .arg(name);
    }
    if (refusal == TargetRefusal::BlockDevice) {
        return Texts::tr(
                   "%1 is a block device (a disk or a partition): nothing is exported to one, as "
                   "that would overwrite what it holds.")
            .arg(name);
    }
    return Texts::tr(
               "%2 is a FIFO or a device, and a %1 file cannot be written to one: its header "
               "is completed at the end, which needs a file that can seek.")
        .arg(QString::fromUtf8(format.title.data(), qsizetype(format.title.size())), name);
}

QString exportFailureText(const ExportFormat& format) {
    if (&format == &aiffFormat()) {
        return Texts::tr("Faild to save an AIFF file.");
    }
    return Texts::tr("Failed to save the %1 file.")
        .arg(QString::fromUtf8(format.title.data(), qsizetype(format.title.size())));
}

}  // namespace brinesong
