#pragma once
// The SNMP poller: agent items polled in turn, each with the OID list it
// names, one event per agent and cycle, values to the value collector.
#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "core/core_context.h"
#include "core/module.h"
#include "core/record_sets.h"
#include "core/service_worker.h"
#include "polling/snmp/snmp_client.h"
#include "polling/snmp/snmp_poll.h"
#include "polling/snmp/snmp_settings.h"
#include "processing/dns/dns_module.h"

namespace qm::polling::snmp {

class SnmpModule : public core::Module, public core::RecordSets, public processing::SystemNameSource {
public:
    SnmpModule(core::CoreContext& core, std::unique_ptr<SnmpClient> client);
    explicit SnmpModule(core::CoreContext& core) : SnmpModule(core, MakeNetSnmpClient()) {}
    ~SnmpModule() override;

    void Load(const core::SettingsSection& section) override;
    void SaveTo(core::SettingsSection& section) override;
    bool Start(platform::Blocking blocking) override;
    bool Stop(platform::Blocking blocking) override;

    // The agent's sysName, asked with its own session: it needs nothing of
    // the module's settings, so a running cycle does not make it fail.
    std::optional<std::string> QuerySystemName(const std::string& address);
    std::optional<std::string> SystemName(const platform::Ipv4Bytes& address) override;
    // Offers the system names to the name resolution while the module is
    // loaded; Unload and the destructor take the offer back.
    void OfferSystemNamesTo(processing::DnsModule& dns);
    void Unload() override;

    uint32_t ThreadCount() const { return worker_.Started() ? 1 : 0; }

    // Records for editors (common block, items, lists, a list's entries).
    core::RecordSets* Records() override { return this; }
    bool Has(core::RecordSet) const override { return true; }
    std::optional<std::vector<core::RecordCopy>> Copy(core::SetRef set) override;
    core::RecordCopy Blank(core::SetRef set) const override;
    bool Add(core::SetRef set, const core::RecordCopy& record) override;
    bool Replace(core::SetRef set, size_t index, const core::RecordCopy& record,
                 const core::RecordCopy& original) override;

    // One cycle over every agent (module lock held); the pause before the next.
    uint32_t Round();

private:
    // Polls one agent with its list and submits the event.
    void PollAndReport(const SnmpAgentItem& item, const OidList& list);
    const OidList* ListFor(uint64_t id) const;
    void FitList(OidList& list) const;

    SnmpSettings settings_;
    std::unique_ptr<SnmpClient> client_;
    std::atomic<bool> active_{false};
    core::ServiceWorker worker_{core_};
    processing::DnsModule* dns_ = nullptr;
};

// The event's sender: the agent's address as dotted IPv4, 255.255.255.255
// for anything else (a host name).
sockaddr_in AgentSender(const std::string& agent);

std::unique_ptr<core::Module> CreateSnmpModule(core::CoreContext& core);

}  // namespace qm::polling::snmp
