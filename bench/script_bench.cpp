// Script benchmark, on one thread: a 10,000-statement script through the
// interpreter, a counted loop, and the command handlers on a real relay
// module: 500 destinations added by script, then echoed. Plain main, best of
// a few rounds, figures on stdout.
//
//   script_bench [rounds]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/core_context.h"
#include "core/module_registry.h"
#include "modules.h"
#include "script/module_nodes.h"
#include "script/script_interpreter.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename F>
double BestMs(int rounds, F once) {
    double best = 1e300;
    for (int r = 0; r < rounds; ++r) {
        const auto start = Clock::now();
        once();
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace qm;
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    std::string plain;
    for (int i = 0; i < 5000; ++i) plain += "#var:a" + std::to_string(i % 50) + "=value " + std::to_string(i) + ";#echo=@a7;\n";
    script::ScriptEnvironment bare;
    std::printf("10,000 statements (var, echo with substitution): %.1f ms (target <= 100 ms)\n",
                BestMs(rounds, [&] { script::RunScript(plain, bare); }));
    std::printf("#for:i=10000{#echo=@i}: %.1f ms\n", BestMs(rounds, [&] { script::RunScript("#for:i=10000{#echo=@i}", bare); }));

    // A relay module in a scratch home.
    char pattern[] = "/tmp/qm-script-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return 1;
    const std::filesystem::path home = pattern;
    std::vector<core::ModuleDescriptor> catalog;
    for (const core::ModuleDescriptor& d : ProgramModules())
        if (d.id == core::kModuleRelay) catalog.push_back(d);
    {
        core::CoreContext core;
        core.paths = core::Paths::Build(home / "quillmark", home);
        core.catalog = catalog;
        core::CoreStart(core);
        {
            const script::ModuleNodes nodes(*core.registry);
            const script::ScriptEnvironment env = script::EnvironmentFor(core, nodes);
            std::string add;
            for (int i = 0; i < 500; ++i)
                add += "#set:mod_relay=10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250) +
                       "{#set:port=514;#set:enable=1;#set:ext=1}\n";
            const double adding = BestMs(1, [&] { script::RunScript(add, env); });
            size_t bytes = 0;
            const double echo = BestMs(rounds, [&] { bytes = script::RunScript("#echo:mod_relay.item", env).text.size(); });
            std::printf("500 relay destinations added by script: %.1f ms; echo of all 500: %.2f ms (%zu bytes)\n", adding,
                        echo, bytes);
        }
        core::CoreShutdown(core);
    }
    std::filesystem::remove_all(home);
    return 0;
}
