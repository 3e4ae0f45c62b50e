#pragma once
// The syslog collector (module id 4, section mod_collector): a list of
// listeners, each with its own thread: UDP ones receive datagrams, TCP and
// TLS ones serve their connections from one event loop.
#include <memory>
#include <optional>
#include <vector>

#include "core/item_service_module.h"
#include "transport/collector/collector_settings.h"
#include "transport/collector/collector_item.h"
#include "transport/collector/listener.h"

namespace qm::transport {

class CollectorModule : public core::ItemServiceModule<CollectorCommon, ListenerRecord, CollectorItem> {
public:
    explicit CollectorModule(core::CoreContext& core);
    ~CollectorModule() override;


    // The port a running listener bound (0 when it is not running).
    uint16_t BoundPort(size_t index);
    CollectorShared& Shared() { return shared_; }

protected:
    std::unique_ptr<CollectorItem> MakeItem(const ListenerRecord& record) override;
    void AfterStop() override;

private:
    CollectorShared shared_;
};

std::unique_ptr<core::Module> CreateCollectorModule(core::CoreContext& core);

}  // namespace qm::transport
