#include "polling/snmp/snmp_module.h"

#include <cstdio>

#include "core/module_registry.h"

namespace qm::polling::snmp {

using platform::Blocking;

sockaddr_in AgentSender(const std::string& agent) { return PollSender(AgentAddress(agent)); }

SnmpModule::SnmpModule(core::CoreContext& core, std::unique_ptr<SnmpClient> client)
    : ListPoller(core), client_(std::move(client)) {}

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

void SnmpModule::Poll(const SnmpAgentItem& item, const OidList& list) {
    const std::string marker = core_.Text(core::str::kLimitBreachMarker);
    const ValueSink sink = [&](std::optional<std::string_view> tag, std::optional<core::Reading> value) {
        Push(item, tag, value);
    };
    const SnmpTarget target{item.name, item.community, UsableTimeoutMs(item.timeout), item.retries};
    const PollResult result =
        PollAgent(*client_, target, list.entries, list.outFormat, marker, sink, [this] { return !Polling(); });
    // A poll cut short by Stop says nothing about the agent.
    if (result.code == kPollFailed && !Polling()) return;
    switch (result.code) {
        case kPollNormal: Emit(core::str::kSnmpInfoEvent, result.text, AgentSender(item.name)); break;
        case kPollFailed: Emit(core::str::kSnmpRequestErrorEvent, marker, AgentSender(item.name)); break;
        default: Emit(core::str::kSnmpWarningEvent, result.text, AgentSender(item.name)); break;
    }
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
