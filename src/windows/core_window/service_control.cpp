#include "windows/core_window/service_control.h"

#include "core/core_context.h"
#include "processing/dns/dns_module.h"

namespace qm::windows {

namespace {

constexpr uint16_t kServices[] = {core::kModuleCollector, core::kModuleRelay,   core::kModuleSnmp,
                                  core::kModuleIcmp,      core::kModuleLaurent, core::kModuleHttpServer};

}  // namespace

void StartServices(core::CoreContext& core) {
    if (!core.registry) return;
    for (uint16_t id : kServices)
        if (core::Module* module = core.registry->Find(id)) module->Start(platform::Blocking::Yes);
}

void StopServices(core::CoreContext& core) {
    if (!core.registry) return;
    for (uint16_t id : kServices)
        if (core::Module* module = core.registry->Find(id)) module->Stop(platform::Blocking::Yes);
    if (auto* dns = core.registry->FindAs<processing::DnsModule>(core::kModuleDns)) dns->ScheduleRefresh();
}

bool ServiceControl::Start(std::function<void()> done) { return Run(StartServices, std::move(done)); }

bool ServiceControl::Stop(std::function<void()> done) { return Run(StopServices, std::move(done)); }

bool ServiceControl::Run(void (*work)(core::CoreContext&), std::function<void()> done) {
    std::lock_guard lock(lock_);
    bool idle = false;
    if (!busy_.compare_exchange_strong(idle, true)) return false;
    // The last worker has ended (it cleared busy_ as its last step); joining
    // it here only reaps it.
    worker_.Join();
    worker_ = platform::Thread(&core_.counters.threads, [this, work, done = std::move(done)] {
        work(core_);
        busy_ = false;
        if (done) done();
    });
    return true;
}

void ServiceControl::Wait() {
    std::lock_guard lock(lock_);
    worker_.Join();
}

}  // namespace qm::windows
