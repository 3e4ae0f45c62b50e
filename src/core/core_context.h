#pragma once
// The one process-wide object: paths, settings, texts, the event core, the
// module registry and the counters. Everything else reaches it by reference.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/command_line.h"
#include "core/config.h"
#include "core/core_settings.h"
#include "core/counters.h"
#include "core/event_core.h"
#include "core/language.h"
#include "core/module_registry.h"
#include "core/paths.h"
#include "core/severity.h"
#include "core/string_ids.h"
#include "core/statistics_timer.h"
#include "platform/clock.h"
#include "core/value_collector.h"
#include "platform/sync.h"

namespace qm::core {

struct CoreContext {
    StartOptions options;
    Paths paths;
    int32_t dotsPerInch = 96;  // the windows layer replaces it with the screen's

    platform::AutoResetEvent exitEvent;  // signalled to end the run
    platform::SystemTime startTime;
    uint64_t startUtc = 0;

    CoreCounters counters;
    platform::CriticalSection generalLock;

    std::unique_ptr<Config> config;
    CoreSettings settings;
    int settingsReadError = 0;  // errno of a Core.ini that exists but could not be read at start
    std::unique_ptr<TextTable> texts;
    std::unique_ptr<EventCore> events;
    // The store of readings; made with the event core, released after it.
    std::unique_ptr<core::ValueCollector> values;
    std::unique_ptr<ModuleRegistry> registry;
    // The ten-second statistics; runs from the end of start-up to the start
    // of shutdown.
    std::unique_ptr<StatisticsTimer> statistics;

    // The loading window's status line; the windows layer sets it.
    std::function<void(const std::string&)> loadingStatus;
    // The modules to load, in order (the program's catalog, or a test's).
    std::span<const ModuleDescriptor> catalog;

    void ShowStatus(const std::string& text) const {
        if (loadingStatus) loadingStatus(text);
    }

    // A System event from a string id (a str:: name), as Info, Warning or Error.
    template <typename... Args>
    int Report(Severity severity, uint32_t stringId, const Args&... args) {
        if (!events) return kRefused;
        std::optional<std::string> text;
        if (texts) text = texts->Text(stringId, args...);
        if (!text) return kRefused;
        return events->Report(SeverityValue(severity), *text);
    }

    template <typename... Args>
    std::string Text(uint32_t stringId, const Args&... args) const {
        return texts ? texts->TextOr(stringId, args...) : "#" + std::to_string(stringId);
    }

    // Seconds since the settings' epoch, the base of every UID.
    uint64_t SecondsSinceEpoch() const;
};

// Builds the context in the fixed start order.
void CoreStart(CoreContext& core);
// Tears it down in reverse: statistics stopped, settings saved, modules
// unloaded, event core stopped.
void CoreShutdown(CoreContext& core);

}  // namespace qm::core
