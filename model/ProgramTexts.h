// SPDX-License-Identifier: GPL-3.0-or-later
// Texts the window and the commands both say: the program's version, and why an export was
// refused or failed.
#pragma once

#include <QString>

namespace brinesong {

struct ExportFormat;
enum class TargetRefusal;

// The program's version, "0.1.0": the build's project version, the one place it is written.
QString programVersion();

// The alert and message of a failed export: the AIFF text for AIFF, else one naming the format.
QString exportFailureText(const ExportFormat& format);
// Why an export refuses the file `name` before opening it, in a sentence.
QString targetRefusalText(TargetRefusal refusal, const QString& name, const ExportFormat& format);

}  // namespace brinesong
