#include "http/http_module.h"

#include "core/core_context.h"

namespace qm::http {

using platform::Blocking;
using platform::GuardedLock;

std::unique_ptr<core::Module> CreateHttpServerModule(core::CoreContext& core) {
    return std::make_unique<HttpModule>(core);
}

HttpModule::HttpModule(core::CoreContext& core)
    : TableModule(core, core::kModuleHttpServer, "mod_httpserver", kHttpLayout) {
    // A deleted record's slot is taken over only once its item has stopped.
    settings_.records.SetReusable([this](size_t i) { return i >= running_.size() || !running_[i]; });
}

HttpModule::~HttpModule() { Stop(Blocking::Yes); }

bool HttpModule::Start(Blocking blocking) {
    shared_.running.store(true);
    GuardedLock lock(Lock(), core_.counters.locks, blocking);
    if (!lock) return false;
    if (!settings_.common.enableService) {
        core_.Report(4, 300);
        return false;
    }
    running_.resize(settings_.records.size());
    bool any = false;
    for (size_t i = 0; i < settings_.records.size(); ++i) {
        const auto& slot = settings_.records[i];
        if (slot.deleted || !slot.record.enable || running_[i]) continue;
        auto item = std::make_unique<ServerItem>(core_, shared_, slot.record, settings_.common);
        if (!item->Started()) continue;
        running_[i] = std::move(item);
        any = true;
    }
    return any;
}

bool HttpModule::Stop(Blocking blocking) {
    shared_.running.store(false);
    GuardedLock lock(Lock(), core_.counters.locks, blocking);
    if (!lock) return false;
    bool any = false;
    for (auto& item : running_) {
        if (!item) continue;
        item->Stop();
        item.reset();
        any = true;
    }
    return any;
}

uint16_t HttpModule::BoundPort(size_t index) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::Yes);
    return index < running_.size() && running_[index] ? running_[index]->BoundPort() : 0;
}

uint32_t HttpModule::Serving(size_t index) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::Yes);
    return index < running_.size() && running_[index] ? running_[index]->Serving() : 0;
}

std::filesystem::path HttpModule::RequestLogPath(size_t index) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::Yes);
    return index < running_.size() && running_[index] ? running_[index]->RequestLogPath() : std::filesystem::path();
}

}  // namespace qm::http
