#include "script/module_nodes.h"

#include "core/module_registry.h"
#include "processing/dns/dns_module.h"
#include "script/statement_lexer.h"

namespace qm::script {

ModuleNodes::ModuleNodes(core::ModuleRegistry& registry) {
    for (uint16_t id = 0; id <= core::kModuleWindow; ++id) {
        core::Module* module = registry.Find(id);
        if (module == nullptr || module->Records() == nullptr) continue;
        const ModuleWords* words = WordsFor(module->Section());
        if (words == nullptr) continue;
        std::function<void()> refresh;
        if (auto* dns = dynamic_cast<processing::DnsModule*>(module)) refresh = [dns] { dns->ScheduleRefresh(); };
        nodes_.push_back(std::make_unique<ModuleCommands>(*module, *module->Records(), *words, std::move(refresh)));
        names_.push_back(module->Section());
    }
}

ScriptEnvironment EnvironmentFor(core::CoreContext& core, const ModuleNodes& nodes) {
    ScriptEnvironment env;
    env.core = &core;
    env.findNode = [&nodes](std::string_view name) { return nodes.Find(name); };
    return env;
}

ScriptNode* ModuleNodes::Find(std::string_view name) const {
    for (size_t i = 0; i < nodes_.size(); ++i)
        if (SameWord(names_[i], name)) return nodes_[i].get();
    return nullptr;
}

}  // namespace qm::script
