#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "CommandLine.h"
#include "Controller.h"
#include "audio/OutputDeviceSelection.h"
#include "platform/Localization.h"
#include "platform/PulseConnection.h"
#include "platform/PulseHardware.h"
#include "platform/PulseOutputUnit.h"
#include "platform/QtMainThreadQueue.h"
#include "platform/SettingsStore.h"
#include "platform/TerminationSignals.h"

namespace {

void nameApplication() {
    QCoreApplication::setOrganizationName(QStringLiteral("Kelvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Brinesong"));
}

int runWindow(int argc, char* argv[]) {
    using namespace brinesong;
    QApplication app(argc, argv);
    nameApplication();
    installTranslations(app);
    quitOnTerminationSignals(app);
    // These live until the process ends: a playback's wait thread may still post to the
    // controller while the process exits. The output and the device list share one connection
    // to the sound server; nothing of it runs once it is closed below.
    auto* connection = new PulseConnection;
    auto* unit = new PulseOutputUnit(*connection);
    auto* store = new SettingsStore;
    auto* controller = new Controller(*unit, *store);
    auto* hardware = new PulseHardware(*connection);
    auto* deviceQueue = new QtMainThreadQueue;
    auto* devices = new OutputDeviceSelection(*hardware, *deviceQueue);
    controller->setOutputDevices(devices, unit);
    if (!controller->awakeFromNib()) {
        return kExitFailure;
    }
    // The window is up; connecting goes on beside it, on the connection's own thread, whatever
    // the server does.
    if (!connection->start()) {
        std::fprintf(stderr, "brinesong: the sound system's client library cannot be used\n");
    }
    QTimer::singleShot(0, controller, &Controller::applicationDidFinishLaunching);
    const int status = app.exec();
    // The termination sequence has run (aboutToQuit): the output is closed, the settings written.
    connection->close();
    return status;
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace brinesong;
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    const ParseOutcome parsed = parseCommandLine(arguments);
    if (!parsed.ok) {
        std::fprintf(stderr, "brinesong: %s\n", parsed.error.toLocal8Bit().constData());
        return kExitBadUsage;
    }
    switch (parsed.command.mode) {
        case CommandLine::Mode::Window:
            return runWindow(argc, argv);
        case CommandLine::Mode::Help:
            std::fputs(usageText().toLocal8Bit().constData(), stdout);
            return kExitOk;
        case CommandLine::Mode::ListDevices:
            return runListDevicesCommand();
        case CommandLine::Mode::Export:
        case CommandLine::Mode::Play:
            break;
    }
    QCoreApplication app(argc, argv);
    nameApplication();
    installTranslations(app);
    if (parsed.command.mode == CommandLine::Mode::Play) {
        return runPlayCommand(parsed.command);
    }
    return runExportCommand(parsed.command);
}
