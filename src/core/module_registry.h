#pragma once
// The module registry: loads the modules in their fixed order, finds them by
// id for cross-module calls, and unloads them in reverse at shutdown.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/module.h"
#include "platform/sync.h"

namespace qm::core {

struct CoreContext;

struct ModuleDescriptor {
    uint16_t id;
    const char* label;    // shown on the loading window
    const char* section;
    bool startAfterLoading;
    // Builds the module; null while the module is not part of this build.
    std::unique_ptr<Module> (*create)(CoreContext&);
};

class ModuleRegistry {
public:
    explicit ModuleRegistry(CoreContext& core) : core_(core) {}
    ~ModuleRegistry();

    // Loads, starts and registers each module of `catalog` in order.
    void LoadAll(std::span<const ModuleDescriptor> catalog);
    void Add(std::unique_ptr<Module> module, const char* label = "");
    // The module with this id, or null. Modules live until UnloadAll.
    Module* Find(uint16_t id);
    template <typename T>
    T* FindAs(uint16_t id) {
        return dynamic_cast<T*>(Find(id));
    }
    // Unloads from the last to the first (each stops and saves).
    void UnloadAll();
    size_t Count();

private:
    struct Entry {
        uint16_t id;
        std::string label;
        std::unique_ptr<Module> module;
    };
    CoreContext& core_;
    platform::CriticalSection lock_;
    std::vector<Entry> entries_;
};

}  // namespace qm::core
