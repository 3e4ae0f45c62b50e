#include "core/module.h"

#include "core/core_context.h"

namespace qm::core {

void Module::LoadSection() {
    if (!core_.config) return;
    const SettingsSection section = core_.config->Open(section_, section_);
    platform::GuardedLock lock(lock_, core_.counters.locks, platform::Blocking::Yes);
    Load(section);
}

bool Module::SaveSection() {
    if (!core_.config) return false;
    SettingsSection section = core_.config->BeginSave(section_, section_);
    {
        platform::GuardedLock lock(lock_, core_.counters.locks, platform::Blocking::Yes);
        SaveTo(section);
    }
    return section.Commit();
}

void Module::Unload() {
    Stop(platform::Blocking::Yes);
    SaveSection();
}

}  // namespace qm::core
