// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdio>

#include "cli/CommandLine.h"
#include "model/Settings.h"
#include "model/SoundSetup.h"
#include "platform/SettingsStore.h"

namespace brinesong {

int runListPresetsCommand() {
    SettingsStore store;
    Settings saved;
    saved.load(store);
    printPresetNotes(saved.presetNotes);
    // The shell's completion (resources/desktop/brinesong.bash) asks for every name --preset
    // takes, the shipped presets' names in each language the program speaks among them.
    const bool everyName = qEnvironmentVariableIsSet("BRINESONG_COMPLETE");
    for (const Preset& preset : saved.presets.all()) {
        for (const QString& name : everyName ? preset.names() : QStringList{preset.name}) {
            std::printf("%s\n", name.toLocal8Bit().constData());
        }
    }
    if (!store.readFailure().isEmpty()) {
        std::fprintf(stderr,
                     "brinesong: the settings file %s cannot be read (%s); your own presets are "
                     "not listed\n",
                     store.fileName().toLocal8Bit().constData(),
                     store.readFailure().toLocal8Bit().constData());
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace brinesong
