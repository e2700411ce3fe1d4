// SPDX-License-Identifier: GPL-3.0-or-later
// Linked into every window test: before main() runs, the process gets user directories of its own
// (configuration, data, cache, runtime) in a fresh temporary folder, removed at exit. Qt writes
// there, the file dialog's state for instance, and programs the test starts inherit them, so two
// runs of the suite at once never share a file, and a developer's own settings are never touched.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/Program.h"

namespace {

struct IsolatedUserDirs {
    IsolatedUserDirs() {
        if (!dir.valid()) {
            return;
        }
        for (const char* name :
             {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
            const std::string path = dir.file(name);
            std::filesystem::create_directories(path);
            // The runtime folder must be the user's alone, or Qt will not use it.
            std::filesystem::permissions(path, std::filesystem::perms::owner_all);
            setenv(name, path.c_str(), 1);
        }
    }
    brinesong::testing::ScratchDir dir{"brinesong-user"};
};

const IsolatedUserDirs isolated;

}  // namespace
