#include "transport/collector/collector_module.h"

#include "core/core_context.h"
#include "transport/collector/stream_listener.h"

namespace qm::transport {

using platform::Blocking;

std::unique_ptr<core::Module> CreateCollectorModule(core::CoreContext& core) {
    return std::make_unique<CollectorModule>(core);
}

CollectorModule::CollectorModule(core::CoreContext& core)
    : ItemServiceModule(core, core::kModuleCollector, "mod_collector", kCollectorLayout, shared_.running,
                        core::str::kCollectorDisabled) {}

CollectorModule::~CollectorModule() { Stop(Blocking::Yes); }

std::unique_ptr<CollectorItem> CollectorModule::MakeItem(const ListenerRecord& record) {
    if (record.proto == kProtoUdp) return std::make_unique<Listener>(core_, shared_, record, settings_.common);
    return std::make_unique<StreamListener>(core_, shared_, record, settings_.common);
}

void CollectorModule::AfterStop() {
    shared_.threadCount.store(0);
    shared_.startCount.store(0);
}

uint16_t CollectorModule::BoundPort(size_t index) {
    return FromItem<uint16_t>(index, 0, [](CollectorItem& listener) { return listener.BoundPort(); });
}

}  // namespace qm::transport
