#include "core/core_context.h"

#include <atomic>
#include <cstdio>
#include <system_error>

#include "core/string_table.h"
#include "platform/codepage.h"

namespace qm::core {

uint64_t CoreContext::SecondsSinceEpoch() const {
    const uint64_t now = platform::UnixSecondsNow();
    return now > settings.beginUtc ? now - settings.beginUtc : 0;
}

void CoreStart(CoreContext& core) {
    core.ShowStatus("Loading ... System stuff");
    core.counters.startupBusy.fetch_add(1);

    core.ShowStatus("Loading ... String helper");
    if (core.paths.programFolder.empty() && core.paths.executable.empty()) core.paths = Paths::ForThisProcess();

    core.ShowStatus("Loading ... Timer helper");
    core.ShowStatus("Loading ... Config helper");
    core.config = std::make_unique<Config>(core.paths.settingsFolder);

    core.startTime = platform::LocalTimeNow();
    core.startUtc = platform::UnixSecondsNow();

    core.paths.CreateFolders();

    core.settings = LoadCoreSettings(*core.config, core.startUtc, core.dotsPerInch, &core.settingsReadError);
    ApplyStartOptions(core.options, core.dotsPerInch, core.settings);
    if (!platform::SetFallbackCharset(core.settings.fallbackCharset)) {
        std::fprintf(stderr, "quillmark: StrFallbackCharset \"%s\" is not a single-byte charset; %s is used\n",
                     core.settings.fallbackCharset.c_str(), platform::kDefaultFallbackCharset);
        // The setting keeps what the user wrote, so the line comes again
        // until it is corrected instead of the typo being saved away.
        platform::SetFallbackCharset(platform::kDefaultFallbackCharset);
    }

    if (!core.paths.languageFile.empty() && !core.settings.locale.empty())
        core.texts = std::make_unique<TextTable>(BuiltinStrings(), core.paths.languageFile, core.settings.locale);
    else
        core.texts = std::make_unique<TextTable>(BuiltinStrings());

    core.ShowStatus("Loading ... Syslog helper");
    core.events = std::make_unique<EventCore>(core.counters);
    // L is read at every push: a script may change it while the program runs.
    core.values = std::make_unique<core::ValueCollector>(
        [&settings = core.settings] { return std::atomic_ref<uint32_t>(settings.valueCollectorStackLimit).load(std::memory_order_relaxed); },
        &core.counters.locks);

    core.registry = std::make_unique<ModuleRegistry>(core);
    core.registry->LoadAll(core.catalog);

    core.counters.startupBusy.fetch_sub(1);

    try {
        core.statistics = std::make_unique<StatisticsTimer>(core.counters, *core.values);
    } catch (const std::system_error& e) {
        // The program runs on without its own curves.
        std::fprintf(stderr, "quillmark: the statistics thread could not be started (%s)\n", e.what());
    }
}

void CoreShutdown(CoreContext& core) {
    core.ShowStatus("Shutting down ... ");
    core.statistics.reset();
    core.ShowStatus("Shutting down ... Core environment");
    // Settings that could not be read at start are defaults, a new BeginUTC
    // among them: saving them would replace what the file still holds.
    if (core.config && core.settingsReadError == 0) SaveCoreSettings(*core.config, core.settings);
    if (core.registry) {
        core.registry->UnloadAll();
        core.registry.reset();
    }
    core.ShowStatus("Shutting down ... Syslog helper");
    if (core.events) {
        core.events->Shutdown();
        core.events.reset();
    }
    if (core.values) {
        core.values->Release();
        core.values.reset();
    }
    core.ShowStatus("Shutting down ... Timer helper");
    core.ShowStatus("Shutting down ... String helper");
    core.texts.reset();
    core.ShowStatus("Shutting down ... System stuff");
    core.ShowStatus("Shutting down ... Config helper");
    core.config.reset();
    core.ShowStatus("Shutting down ... Complete");
}

}  // namespace qm::core
