#include "core/home_lock.h"

#include <system_error>

namespace qm::core {

platform::FileLock TakeHomeLock(const Paths& paths) {
    std::error_code ignored;
    if (!paths.settingsFolder.empty()) std::filesystem::create_directories(paths.settingsFolder, ignored);
    // A home too deep for its paths has no lock file: opening "" says ENOENT.
    return platform::FileLock::TryTake(paths.lockFile);
}

}  // namespace qm::core
