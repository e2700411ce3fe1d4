// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdio>

#include "cli/CommandLine.h"
#include "model/Settings.h"
#include "platform/SettingsStore.h"

namespace brinesong {

int runListPresetsCommand() {
    SettingsStore store;
    Settings saved;
    saved.load(store);
    printPresetNotes(saved.presetNotes);
    for (const Preset& preset : saved.presets.all()) {
        std::printf("%s\n", preset.name.toLocal8Bit().constData());
    }
    return kExitOk;
}

}  // namespace brinesong
