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

class CollectorModule : public core::TableModule<CollectorCommon, ListenerRecord> {
public:
    explicit CollectorModule(core::CoreContext& core);
    ~CollectorModule() override;

    // Starts every listener that is enabled, not deleted and not running.
    bool Start(platform::Blocking blocking) override;
    bool Stop(platform::Blocking blocking) override;

    // The port a running listener bound (0 when it is not running).
    uint16_t BoundPort(size_t index);
    CollectorShared& Shared() { return shared_; }

private:
    // Running listeners by record index; empty where stopped.
    std::vector<std::unique_ptr<transport::Listener>> running_;
    CollectorShared shared_;
};

std::unique_ptr<core::Module> CreateCollectorModule(core::CoreContext& core);

}  // namespace qm::transport
