#pragma once
// The shape every module shares: an id and a settings section, one lock over
// its records, load/save of its section, a service that starts and stops, and
// an unload that stops the service and saves.
#include <cstdint>
#include <string>

#include "core/config.h"
#include "platform/guarded_lock.h"
#include "platform/sync.h"

namespace qm::core {

struct CoreContext;
class RecordSets;

enum ModuleId : uint16_t {
    kModuleRules = 0,
    kModuleSnmp = 1,
    kModuleDns = 2,
    kModuleDbase = 3,
    kModuleCollector = 4,
    kModuleRelay = 5,
    kModuleIcmp = 6,
    kModuleLaurent = 7,
    kModuleModbus = 8,
    kModuleHttpServer = 9,
    kModuleWindow = 11,
};

class Module {
public:
    Module(CoreContext& core, uint16_t id, std::string section) : core_(core), id_(id), section_(std::move(section)) {}
    virtual ~Module() = default;
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    uint16_t Id() const { return id_; }
    const std::string& Section() const { return section_; }
    platform::CriticalSection& Lock() { return lock_; }
    CoreContext& Core() { return core_; }

    // Reads the module's records from its section (current or legacy form).
    virtual void Load(const SettingsSection& section) = 0;
    // Writes every live record in the current form into an emptied section.
    virtual void SaveTo(SettingsSection& section) = 0;
    // Service start/stop; true when something was started or stopped.
    // Modules without a service keep these.
    virtual bool Start(platform::Blocking) { return false; }
    virtual bool Stop(platform::Blocking) { return false; }

    // The module's records for editors from outside; null for a module
    // that offers none.
    virtual RecordSets* Records() { return nullptr; }

    // Loads from the module's own file.
    void LoadSection();
    // Rewrites the module's file; false, with a report, when it could not be
    // written, or not read (now or when the module was loaded) and so is left
    // as it is. Non-blocking: false without a report when the lock stayed busy.
    bool SaveSection(platform::Blocking blocking = platform::Blocking::Yes);
    // Stops the service and saves, at shutdown.
    virtual void Unload();

protected:
    CoreContext& core_;

private:
    const uint16_t id_;
    const std::string section_;
    platform::CriticalSection lock_;
    int loadError_ = 0;  // errno of an unreadable file at LoadSection
};

}  // namespace qm::core
