#pragma once
// The syslog collector (module id 4, section mod_collector): a list of UDP
// listeners, each with its own receive thread.
#include <memory>
#include <optional>
#include <vector>

#include "core/module.h"
#include "transport/collector/collector_settings.h"
#include "transport/collector/listener.h"

namespace qm::transport {

class CollectorModule : public core::Module {
public:
    explicit CollectorModule(core::CoreContext& core);
    ~CollectorModule() override;

    void Load(const core::SettingsSection& section) override;
    void SaveTo(core::SettingsSection& section) override;
    // Starts every listener that is enabled, not deleted and not running.
    bool Start(platform::Blocking blocking) override;
    bool Stop(platform::Blocking blocking) override;

    // Record operations for the settings dialog and the command handlers;
    // each takes the module lock by the non-blocking protocol.
    bool SetCommon(const CollectorCommon& common);
    std::optional<CollectorCommon> Common();
    std::optional<size_t> AddListener(const ListenerRecord& record);
    bool ReplaceListener(size_t index, const ListenerRecord& record);
    bool DeleteListener(size_t index, bool deleted = true);
    std::optional<ListenerRecord> Listener(size_t index);
    size_t ListenerCount();

    // The port a running listener bound (0 when it is not running).
    uint16_t BoundPort(size_t index);
    CollectorShared& Shared() { return shared_; }

private:
    CollectorSettings settings_;
    // Running listeners by record index; empty where stopped.
    std::vector<std::unique_ptr<transport::Listener>> running_;
    CollectorShared shared_;
};

std::unique_ptr<core::Module> CreateCollectorModule(core::CoreContext& core);

}  // namespace qm::transport
