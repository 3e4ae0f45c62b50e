#pragma once
// The script nodes of the loaded modules, made once and kept for as long as
// the modules live: a module's edit state belongs to it, not to one run.
#include <memory>
#include <string_view>
#include <vector>

#include "script/module_commands.h"
#include "script/script_interpreter.h"

namespace qm::core {
class ModuleRegistry;
struct CoreContext;
}

namespace qm::script {

class ModuleNodes {
public:
    explicit ModuleNodes(core::ModuleRegistry& registry);
    // The node of a loaded module that has script words, by section name.
    ScriptNode* Find(std::string_view name) const;

private:
    std::vector<std::unique_ptr<ModuleCommands>> nodes_;
    std::vector<std::string> names_;
};

// What a script sees of a running core: its counters and events, and the
// modules through `nodes` (which must outlive the runs).
ScriptEnvironment EnvironmentFor(core::CoreContext& core, const ModuleNodes& nodes);

}  // namespace qm::script
