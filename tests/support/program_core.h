#pragma once
// The program's modules (without windows) loaded and started in-process on
// a temporary copy of the default home (without its pings), its listener on `port`; shut down
// when it goes. Whatever works on the modules must go before it.
#include <cstdint>
#include <vector>

#include "core/core_context.h"
#include "modules.h"
#include "support/program_home.h"

namespace qm::testing {

class ProgramCore {
public:
    explicit ProgramCore(uint16_t port) {
        home.Listen(port);
        // The pinging service would hold its module's lock while tests
        // script that module.
        home.StopPinging();
        for (const core::ModuleDescriptor& d : ProgramModules())
            if (d.id != core::kModuleWindow) catalog_.push_back(d);
        core.paths = core::Paths::Build(home.Home() / "quillmark", home.Home());
        core.catalog = catalog_;
        core::CoreStart(core);
    }
    ~ProgramCore() { core::CoreShutdown(core); }
    ProgramCore(const ProgramCore&) = delete;
    ProgramCore& operator=(const ProgramCore&) = delete;

    ProgramHome home;
    core::CoreContext core;

private:
    std::vector<core::ModuleDescriptor> catalog_;
};

}  // namespace qm::testing
