#include "polling/snmp/snmp_module.h"

#include <arpa/inet.h>

#include <cstdio>

#include "core/event_record.h"
#include "core/module_registry.h"
#include "core/string_ids.h"
#include "platform/codepage.h"

namespace qm::polling::snmp {

using platform::Blocking;
using platform::GuardedLock;

namespace {
constexpr uint32_t kIdleWaitMs = 10000;
constexpr const char* kModuleName = "mod_snmp";
}  // namespace

sockaddr_in AgentSender(const std::string& agent) {
    sockaddr_in out{};
    out.sin_family = AF_INET;
    const std::string address(AgentAddress(agent));
    if (inet_pton(AF_INET, address.c_str(), &out.sin_addr) != 1) out.sin_addr.s_addr = INADDR_NONE;
    return out;
}

SnmpModule::SnmpModule(core::CoreContext& core, std::unique_ptr<SnmpClient> client)
    : Module(core, core::kModuleSnmp, kModuleName), client_(std::move(client)) {}

SnmpModule::~SnmpModule() {
    if (dns_) dns_->DetachSystemNameSource();
    Stop(Blocking::Yes);
}

void SnmpModule::OfferSystemNamesTo(processing::DnsModule& dns) {
    dns_ = &dns;
    dns.AttachSystemNameSource(*this);
}

void SnmpModule::Unload() {
    // The name resolution stops asking before the module goes.
    if (dns_) dns_->DetachSystemNameSource();
    dns_ = nullptr;
    Module::Unload();
}

void SnmpModule::Load(const core::SettingsSection& section) {
    SnmpSettings loaded;
    LoadSnmpSettings(section, loaded);
    settings_ = std::move(loaded);
}

void SnmpModule::SaveTo(core::SettingsSection& section) { SaveSnmpSettings(section, settings_); }

bool SnmpModule::Start(Blocking blocking) {
    active_ = true;
    GuardedLock lock(Lock(), core_.counters.locks, blocking);
    if (!lock || worker_.Started()) return false;
    if (!settings_.common.enableService) {
        core_.Report(core::Severity::Warning, core::str::kSnmpDisabled);
        return false;
    }
    core::ServiceRounds rounds;
    rounds.round = [this] { return Round(); };
    rounds.lock = &Lock();
    rounds.busyPause = kIdleWaitMs;
    rounds.startedReport = core::str::kSnmpStarted;
    rounds.stoppedReport = core::str::kSnmpStopped;
    return worker_.Start(std::move(rounds));
}

bool SnmpModule::Stop(Blocking) {
    active_ = false;
    return worker_.Stop();
}

const OidList* SnmpModule::ListFor(uint64_t id) const {
    for (const auto& slot : settings_.lists)
        if (!slot.deleted && slot.record.enable && slot.record.id == id) return &slot.record;
    return nullptr;
}

uint32_t SnmpModule::Round() {
    if (settings_.items.LiveCount() == 0) return kIdleWaitMs;
    for (const auto& slot : settings_.items) {
        // Stop ends the cycle after the agent being polled, not after all.
        if (!active_ || !worker_.Running()) break;
        if (slot.deleted || !slot.record.enable) continue;
        if (const OidList* list = ListFor(slot.record.oidId)) PollAndReport(slot.record, *list);
    }
    return settings_.common.repeatTimeout;
}

void SnmpModule::PollAndReport(const SnmpAgentItem& item, const OidList& list) {
    const std::string marker = core_.Text(core::str::kLimitBreachMarker);
    ValueSink sink;
    if ((item.param & kParamToCollector) && core_.values) {
        sink = [&](std::optional<std::string_view> tag, std::optional<Reading> value) {
            core_.values->Push(kModuleName, item.name, tag, value);
        };
    }
    const SnmpTarget target{item.name, item.community, item.timeout, item.retries};
    const PollResult result = PollAgent(*client_, target, list.entries, list.outFormat, marker, sink);
    std::string text;
    switch (result.code) {
        case kPollNormal: text = core_.Text(core::str::kSnmpInfoEvent, result.text); break;
        case kPollFailed: text = core_.Text(core::str::kSnmpRequestErrorEvent, marker); break;
        default: text = core_.Text(core::str::kSnmpWarningEvent, result.text); break;
    }
    if (core_.events)
        core_.events->Submit(core::kEventInternal, 100, platform::Utf8ToAnsi(text), AgentSender(item.name));
}

std::optional<std::string> SnmpModule::QuerySystemName(const std::string& address) {
    const auto response = client_->Get({address, "public", 1000, 2}, {".1.3.6.1.2.1.1.5.0"});
    if (!response || response->errorStatus != 0) return std::nullopt;
    for (const SnmpValue& v : response->values)
        if (v.type == kTypeOctetString && !v.bytes.empty()) return platform::AnsiToUtf8(v.bytes);
    return std::nullopt;
}

std::optional<std::string> SnmpModule::SystemName(const platform::Ipv4Bytes& address) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
    return QuerySystemName(text);
}

std::unique_ptr<core::Module> CreateSnmpModule(core::CoreContext& core) {
    auto module = std::make_unique<SnmpModule>(core);
    if (core.registry)
        if (auto* dns = core.registry->FindAs<processing::DnsModule>(core::kModuleDns)) module->OfferSystemNamesTo(*dns);
    return module;
}

}  // namespace qm::polling::snmp
