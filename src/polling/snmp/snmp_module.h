#pragma once
// The SNMP poller: agent items polled in turn, each with the OID list it
// names, one event per agent and cycle, values to the value collector. The
// shape (records, service, rounds) is the list poller's; this module adds the
// SNMP client, the poll of one agent and the system names for the name
// resolution.
#include <memory>
#include <optional>
#include <string>

#include "core/core_context.h"
#include "core/string_ids.h"
#include "polling/list_poller.h"
#include "polling/snmp/snmp_client.h"
#include "polling/snmp/snmp_poll.h"
#include "polling/snmp/snmp_settings.h"
#include "processing/dns/dns_module.h"

namespace qm::polling::snmp {

struct SnmpShape {
    using Common = SnmpCommon;
    using Item = SnmpAgentItem;
    using Entry = OidEntry;
    static constexpr auto kListRef = &SnmpAgentItem::oidId;
    static constexpr uint16_t kId = core::kModuleSnmp;
    static constexpr const char* kSection = "mod_snmp";
    static constexpr uint32_t kStarted = core::str::kSnmpStarted;
    static constexpr uint32_t kStopped = core::str::kSnmpStopped;
    static constexpr uint32_t kDisabled = core::str::kSnmpDisabled;
};

class SnmpModule : public ListPoller<SnmpShape>, public processing::SystemNameSource {
public:
    SnmpModule(core::CoreContext& core, std::unique_ptr<SnmpClient> client);
    explicit SnmpModule(core::CoreContext& core) : SnmpModule(core, MakeNetSnmpClient()) {}
    ~SnmpModule() override;

    // The agent's sysName, asked with its own session: it needs nothing of
    // the module's settings, so a running cycle does not make it fail.
    std::optional<std::string> QuerySystemName(const std::string& address);
    std::optional<std::string> SystemName(const platform::Ipv4Bytes& address) override;
    // Offers the system names to the name resolution while the module is
    // loaded; Unload and the destructor take the offer back.
    void OfferSystemNamesTo(processing::DnsModule& dns);
    void Unload() override;

protected:
    // Polls one agent with its list and submits the event.
    void Poll(const SnmpAgentItem& item, const OidList& list) override;

private:
    std::unique_ptr<SnmpClient> client_;
    processing::DnsModule* dns_ = nullptr;
};

// The event's sender: the agent's address as dotted IPv4, 255.255.255.255
// for anything else (a host name).
sockaddr_in AgentSender(const std::string& agent);

std::unique_ptr<core::Module> CreateSnmpModule(core::CoreContext& core);

}  // namespace qm::polling::snmp
