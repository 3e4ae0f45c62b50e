#include "core/module.h"

#include <cerrno>
#include <cstdio>

#include "core/core_context.h"

namespace qm::core {

void Module::LoadSection() {
    if (!core_.config) return;
    const SettingsSection section = core_.config->Open(section_, section_);
    // The module runs on its defaults then; they must not later replace the
    // settings the file still holds, even once it can be read again.
    loadError_ = section.ReadError();
    if (loadError_ != 0) core_.Report(Severity::Error, str::kFileError, section.Path().string(), loadError_);
    platform::GuardedLock lock(lock_, core_.counters.locks, platform::Blocking::Yes);
    Load(section);
}

bool Module::SaveSection(platform::Blocking blocking) {
    if (!core_.config) return false;
    if (loadError_ != 0) {
        const std::string path = core_.config->FileFor(section_).string();
        std::fprintf(stderr, "settings: %s was not readable at start; [%s] not saved, the file is left as it is\n",
                     path.c_str(), section_.c_str());
        core_.Report(Severity::Error, str::kFileError, path, loadError_);
        return false;
    }
    // The records are written out under the module's lock, the file under
    // the settings' write lock, one after the other: the file's other
    // writers (the windows share the window module's file) read it only
    // once this save has written it.
    SettingsSection section = core_.config->BeginDetached(section_, section_);
    {
        platform::GuardedLock lock(lock_, core_.counters.locks, blocking);
        if (!lock) return false;
        SaveTo(section);
    }
    if (core_.config->Store(section)) return true;
    core_.Report(Severity::Error, str::kFileError, section.Path().string(), errno);
    return false;
}

void Module::Unload() {
    Stop(platform::Blocking::Yes);
    SaveSection();
}

}  // namespace qm::core
