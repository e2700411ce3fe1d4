#include <QCoreApplication>
#include <cstdio>

#include "CommandLine.h"
#include "platform/Localization.h"

int main(int argc, char* argv[]) {
    using namespace brinesong;
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Kelvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Brinesong"));
    installTranslations(app);

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const ParseOutcome parsed = parseCommandLine(arguments);
    if (!parsed.ok) {
        std::fprintf(stderr, "brinesong: %s\n", parsed.error.toLocal8Bit().constData());
        return kExitBadUsage;
    }
    switch (parsed.command.mode) {
        case CommandLine::Mode::Export:
            return runExportCommand(parsed.command);
        case CommandLine::Mode::Play:
            return runPlayCommand(parsed.command);
        case CommandLine::Mode::Help:
        case CommandLine::Mode::Window:
            std::fputs(usageText().toLocal8Bit().constData(), stdout);
            return kExitOk;
    }
    return kExitOk;
}
