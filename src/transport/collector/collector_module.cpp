#include "transport/collector/collector_module.h"

#include "core/core_context.h"

namespace qm::transport {

using platform::Blocking;
using platform::GuardedLock;

std::unique_ptr<core::Module> CreateCollectorModule(core::CoreContext& core) {
    return std::make_unique<CollectorModule>(core);
}

CollectorModule::CollectorModule(core::CoreContext& core)
    : TableModule(core, core::kModuleCollector, "mod_collector", kCollectorLayout) {
    // A deleted record's slot is taken over only once its listener has stopped.
    settings_.records.SetReusable([this](size_t i) { return i >= running_.size() || !running_[i]; });
}

CollectorModule::~CollectorModule() { Stop(Blocking::Yes); }

bool CollectorModule::Start(Blocking blocking) {
    shared_.running.store(true);
    GuardedLock lock(Lock(), core_.counters.locks, blocking);
    if (!lock) return false;
    if (!settings_.common.enableService) {
        core_.Report(4, 210);
        return false;
    }
    running_.resize(settings_.records.size());
    bool any = false;
    for (size_t i = 0; i < settings_.records.size(); ++i) {
        const auto& slot = settings_.records[i];
        if (slot.deleted || !slot.record.enable || running_[i]) continue;
        auto listener = std::make_unique<transport::Listener>(core_, shared_, slot.record, settings_.common);
        if (!listener->Started()) continue;
        running_[i] = std::move(listener);
        any = true;
    }
    return any;
}

bool CollectorModule::Stop(Blocking blocking) {
    shared_.running.store(false);
    GuardedLock lock(Lock(), core_.counters.locks, blocking);
    if (!lock) return false;
    bool any = false;
    for (auto& listener : running_) {
        if (!listener) continue;
        listener->Stop();
        listener.reset();
        any = true;
    }
    shared_.threadCount.store(0);
    shared_.startCount.store(0);
    return any;
}

uint16_t CollectorModule::BoundPort(size_t index) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::Yes);
    return index < running_.size() && running_[index] ? running_[index]->BoundPort() : 0;
}

}  // namespace qm::transport
