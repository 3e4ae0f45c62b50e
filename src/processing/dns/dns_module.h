#pragma once
// Name resolution (module id 2, section mod_dns): turns a sender's address
// text into a host name for display, from the local storage file, the
// system's reverse lookup or the device's SNMP system name, and remembers
// every answer per address until a refresh is scheduled.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/name_lookup.h"
#include "processing/dns/dns_settings.h"
#include "processing/dns/name_cache.h"

namespace qm::processing {

// What the SNMP poller offers once it is loaded: the system name (sysName.0,
// .1.3.6.1.2.1.1.5.0) of the device at an address.
class SystemNameSource {
public:
    virtual ~SystemNameSource() = default;
    // The name, or nothing when the device does not answer. Called from many
    // threads at once, with no lock of the name resolution held.
    virtual std::optional<std::string> SystemName(const platform::Ipv4Bytes& address) = 0;
};

struct DnsHits {
    uint64_t localStorage = 0;
    uint64_t systemLookup = 0;
    uint64_t snmp = 0;
};

class DnsModule : public core::TableModule<DnsCommon, DnsResolver> {
public:
    using ReverseLookup = std::function<platform::HostNameLookup(const platform::SocketAddress&)>;
    using MillisecondClock = std::function<uint64_t()>;

    explicit DnsModule(core::CoreContext& core, ReverseLookup reverseLookup = platform::LookUpHostName,
                       MillisecondClock clock = platform::MonotonicMs);
    // Waits for lookups still running on other threads.
    ~DnsModule() override;

    // The name for a sender text. Only the first live, enabled resolver with
    // ID 0 is asked. Blocks for the lookup only when this call is the one
    // that looks the address up; a caller that finds another's lookup of it
    // running gets what was known before without waiting.
    Resolution Resolve(std::string_view address);
    // What a display shows: the name when one is known, else the sender text.
    std::string NameFor(std::string_view senderText);
    // Every name found for the address by the resolver in use, oldest first.
    std::vector<std::string> KnownNames(std::string_view address);

    // Every cached address is looked up again at its next use; reports the
    // outcome as a System event. False when the module lock could not be had.
    bool ScheduleRefresh();

    // The local storage file of a resolver: the resource folder and its
    // CacheFile; empty when CacheFile is not a plain file name.
    std::filesystem::path CacheFilePath(size_t index);

    // The SNMP poller registers itself here when loaded; addresses that found
    // no name so far are then tried again. Detach returns once no lookup is
    // using the source any more, so its owner may go right after.
    void AttachSystemNameSource(SystemNameSource& source);
    void DetachSystemNameSource();

    DnsHits Hits() const;

protected:
    void AfterLoad() override;

private:
    // A resolver's cache, and the methods and file its answers came from.
    struct CacheSlot {
        std::shared_ptr<NameCache> cache;
        uint8_t param = 0;
        std::string cacheFile;
    };
    struct Plan;

    std::optional<size_t> ActiveResolver() const;
    std::filesystem::path PathFor(const std::string& cacheFile) const;
    NameCache& CacheFor(size_t index);
    Resolution Settle(const Plan& plan, std::string_view address, const NameCache::Outcome& outcome);
    NameCache::Outcome LookUp(std::string_view address, uint8_t param, const std::filesystem::path& file);
    std::optional<std::string> AskSystemNameSource(const platform::Ipv4Bytes& address);

    std::vector<CacheSlot> caches_;  // by resolver slot; guarded by the module lock

    const ReverseLookup reverseLookup_;
    const MillisecondClock clock_;

    // Lookups running outside the module lock, and the SNMP source in use.
    std::mutex useMutex_;
    std::condition_variable useDone_;
    size_t runningLookups_ = 0;
    SystemNameSource* systemNames_ = nullptr;
    size_t systemNameUsers_ = 0;

    std::atomic<uint64_t> localHits_{0};
    std::atomic<uint64_t> systemLookupHits_{0};
    std::atomic<uint64_t> snmpHits_{0};
};

std::unique_ptr<core::Module> CreateDnsModule(core::CoreContext& core);

}  // namespace qm::processing
