// SPDX-License-Identifier: GPL-3.0-or-later
// `brinesong --export FILE`: the export flow without a window. The file is replaced only when every
// frame was written and closed; otherwise it is left as it was and the reason printed.
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "cli/CommandLine.h"
#include "export/ExportJob.h"
#include "model/ProgramTexts.h"
#include "model/SoundSetup.h"
#include "platform/TerminationSignals.h"
#include "synth/Preferences.h"
#include "synth/Renderer.h"

namespace brinesong {

namespace {

ExportAbort* abortSave = nullptr;  // set before the handlers are installed
volatile std::sig_atomic_t receivedSignal = 0;
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void onInterrupt(int signalNumber) {
    const int savedErrno = errno;
    receivedSignal = signalNumber;
    abortSave->request();
    errno = savedErrno;
}

// A one-line bar redrawn in place on a terminal.
class ProgressBar {
public:
    explicit ProgressBar(QString name) : name_(std::move(name)), shown_(isatty(STDERR_FILENO)) {}

    void show(int percent) {
        if (!shown_) {
            return;
        }
        constexpr int kWidth = 30;
        const int filled = percent * kWidth / 100;
        QByteArray bar(filled, '#');
        bar.append(QByteArray(kWidth - filled, '-'));
        std::fprintf(stderr, "\r%s [%s] %3d%%", name_.toLocal8Bit().constData(), bar.constData(),
                     percent);
        std::fflush(stderr);
        drawn_ = true;
    }

    void end() {
        if (drawn_) {
            std::fputc('\n', stderr);
            drawn_ = false;
        }
    }

private:
    QString name_;
    bool shown_;
    bool drawn_ = false;
};

}  // namespace

int runExportCommand(const CommandLine& command) {
    Preferences& preferences = Preferences::sharedInstance();
    Renderer renderer(preferences);
    Night night;
    if (!prepareSound(command.sound, preferences, renderer, night)) {
        return kExitBadUsage;
    }

    const ExportTarget target = exportTarget(
        command.exportPath, command.format ? formatNamed(command.format->toStdString()) : nullptr);
    const std::string& path = target.path;
    ExportOptions options;
    options.loop = command.loop;
    options.night = &night;
    const float minutes = command.sound.minutes.value_or(kExportLengthPresets[0]);
    if (minutes > kMaxExportMinutes) {
        std::fprintf(stderr, "brinesong: --minutes %g is more than %g; capped to %g\n",
                     static_cast<double>(minutes), static_cast<double>(kMaxExportMinutes),
                     static_cast<double>(kMaxExportMinutes));
    }
    const float seconds = exportSeconds(minutes);

    // A target of a kind that cannot be written is refused, like a bad option, before anything is
    // opened.
    const auto refuse = [&](TargetRefusal refusal) {
        std::fprintf(stderr, "brinesong: --export: %s\n",
                     targetRefusalText(
                         refusal, "'" + QFile::decodeName(QByteArray::fromStdString(path)) + "'",
                         *target.format)
                         .toLocal8Bit()
                         .constData());
        return kExitBadUsage;
    };
    if (const TargetRefusal refusal = targetRefusal(path, *target.format);
        refusal != TargetRefusal::None) {
        return refuse(refusal);
    }

    // A write waiting for a reader that has stopped reading waits beside the abort, which the
    // handler requests: whichever thread takes the signal, the export ends.
    static ExportAbort abort;
    abortSave = &abort;
    handleInterruptSignals(onInterrupt);
    ProgressBar bar(QFileInfo(QFile::decodeName(QByteArray::fromStdString(path))).fileName());
    ExportHooks hooks;
    hooks.abortSave = abortSave;
    hooks.setProgress = [&bar](int percent) { bar.show(percent); };
    bar.show(0);

    const ExportOutcome outcome =
        exportToFile(renderer, path, seconds, hooks, *target.format, options);
    if (outcome.saved) {
        bar.show(100);
        bar.end();
        return kExitOk;
    }
    bar.end();
    if (outcome.refused != TargetRefusal::None) {
        return refuse(outcome.refused);
    }
    if (receivedSignal != 0) {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) {
            std::fprintf(stderr, "brinesong: export interrupted; %s left as it was\n",
                         path.c_str());
        } else {
            std::fprintf(stderr, "brinesong: export to %s interrupted\n", path.c_str());
        }
        return 128 + receivedSignal;
    }
    std::fprintf(stderr, "brinesong: %s %s: %s\n",
                 exportFailureText(*target.format).toLocal8Bit().constData(), path.c_str(),
                 std::strerror(outcome.error));
    return kExitFailure;
}

}  // namespace brinesong
