#include "core/module_registry.h"

#include "core/core_context.h"

namespace qm::core {

using platform::Blocking;
using platform::GuardedLock;

ModuleRegistry::~ModuleRegistry() { UnloadAll(); }

void ModuleRegistry::LoadAll(std::span<const ModuleDescriptor> catalog) {
    for (const ModuleDescriptor& d : catalog) {
        if (!d.create) continue;
        core_.ShowStatus(std::string("Loading ... ") + d.label);
        const bool isWindow = d.id == kModuleWindow;
        if (isWindow) core_.counters.startupBusy.fetch_add(1);
        std::unique_ptr<Module> module;
        try {
            module = d.create(core_);
        } catch (const std::exception&) {
            module.reset();
        }
        if (module) {
            module->LoadSection();
            if (d.startAfterLoading) module->Start(Blocking::Yes);
            if (!isWindow) core_.Report(Severity::Info, str::kModuleLoaded, module->Section());
            Add(std::move(module), d.label);
        }
        if (isWindow) core_.counters.startupBusy.fetch_sub(1);
    }
}

void ModuleRegistry::Add(std::unique_ptr<Module> module, const char* label) {
    if (!module) return;
    GuardedLock lock(lock_, core_.counters.locks, Blocking::Yes);
    const uint16_t id = module->Id();
    entries_.push_back(Entry{id, label, std::move(module)});
}

Module* ModuleRegistry::Find(uint16_t id) {
    GuardedLock lock(lock_, core_.counters.locks, Blocking::Yes);
    for (const Entry& e : entries_) {
        if (e.id == id) return e.module.get();
    }
    return nullptr;
}

size_t ModuleRegistry::Count() {
    GuardedLock lock(lock_, core_.counters.locks, Blocking::Yes);
    return entries_.size();
}

void ModuleRegistry::UnloadAll() {
    // A module stays findable while it unloads (its late callers still reach
    // it) and the registry lock is not held across Unload, since an unloading
    // module may itself look up another one.
    for (;;) {
        Module* module = nullptr;
        std::string label;
        {
            GuardedLock lock(lock_, core_.counters.locks, Blocking::Yes);
            if (entries_.empty()) return;
            label = entries_.back().label;
            module = entries_.back().module.get();
        }
        core_.ShowStatus("Shutting down ... " + label);
        module->Unload();
        std::unique_ptr<Module> gone;
        {
            GuardedLock lock(lock_, core_.counters.locks, Blocking::Yes);
            gone = std::move(entries_.back().module);
            entries_.pop_back();
        }
    }
}

}  // namespace qm::core
