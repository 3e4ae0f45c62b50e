#include "processing/dns/dns_module.h"

#include "core/core_context.h"
#include "platform/codepage.h"
#include "platform/profile_file.h"
#include "platform/utf16.h"
#include "processing/dns/sender_address.h"

namespace qm::processing {

using platform::Blocking;
using platform::GuardedLock;

namespace {

constexpr const char* kCacheSection = "CACHE";
// Longer sender texts are no addresses anyone keeps a name for.
constexpr size_t kMaxAddressBytes = 255;

}  // namespace

// What a lookup needs, copied under the lock so that the lookup can run without it.
struct DnsModule::Plan {
    std::shared_ptr<NameCache> cache;
    uint8_t param = 0;
    std::filesystem::path file;
    uint64_t ticket = 0;
};

std::unique_ptr<core::Module> CreateDnsModule(core::CoreContext& core) { return std::make_unique<DnsModule>(core); }

DnsModule::DnsModule(core::CoreContext& core, ReverseLookup reverseLookup, MillisecondClock clock)
    : TableModule(core, core::kModuleDns, "mod_dns", kDnsLayout),
      reverseLookup_(std::move(reverseLookup)),
      clock_(std::move(clock)) {}

DnsModule::~DnsModule() {
    std::unique_lock lock(useMutex_);
    useDone_.wait(lock, [this] { return runningLookups_ == 0; });
}

void DnsModule::AfterLoad() {
    if (settings_.records.size() == 0) settings_.records.Add(DefaultResolver());
    settings_.records[0].record.primary = true;
    caches_.clear();
}

std::filesystem::path DnsModule::PathFor(const std::string& cacheFile) const {
    if (core_.paths.resourceFolder.empty() || !core::IsPlainFileName(cacheFile)) return {};
    return core_.paths.resourceFolder / cacheFile;
}

std::optional<size_t> DnsModule::ActiveResolver() const {
    for (size_t i = 0; i < settings_.records.size(); ++i) {
        const auto& slot = settings_.records[i];
        if (!slot.deleted && slot.record.enable && slot.record.id == 0) return i;
    }
    return std::nullopt;
}

NameCache& DnsModule::CacheFor(size_t index) {
    if (caches_.size() <= index) caches_.resize(index + 1);
    CacheSlot& slot = caches_[index];
    const DnsResolver& record = settings_.records[index].record;
    if (!slot.cache) {
        slot.cache = std::make_shared<NameCache>();
    } else if (slot.param != record.param || slot.cacheFile != record.cacheFile) {
        // Answers found with other methods or in another file are stale;
        // the names stay in the entries' lists.
        slot.cache->MarkAllForRefresh();
    }
    slot.param = record.param;
    slot.cacheFile = record.cacheFile;
    return *slot.cache;
}

Resolution DnsModule::Resolve(std::string_view address) {
    if (address.empty() || address.size() > kMaxAddressBytes) return {};
    Plan plan;
    {
        GuardedLock lock(Lock(), core_.counters.locks, Blocking::Yes);
        const std::optional<size_t> index = ActiveResolver();
        if (!index) return {};
        NameCache::Claim claim = CacheFor(*index).Begin(address, clock_());
        if (!claim.lookup) return claim.current;
        const DnsResolver& record = settings_.records[*index].record;
        plan = Plan{caches_[*index].cache, record.param, PathFor(record.cacheFile), claim.ticket};
        std::lock_guard use(useMutex_);
        ++runningLookups_;
    }

    NameCache::Outcome outcome{{}, true};
    try {
        outcome = LookUp(address, plan.param, plan.file);
    } catch (...) {
        // An entry left claimed would never be asked about again.
        Settle(plan, address, outcome);
        throw;
    }
    return Settle(plan, address, outcome);
}

Resolution DnsModule::Settle(const Plan& plan, std::string_view address, const NameCache::Outcome& outcome) {
    Resolution answer;
    {
        GuardedLock lock(Lock(), core_.counters.locks, Blocking::Yes);
        answer = plan.cache->Finish(address, plan.ticket, outcome, clock_());
    }
    std::lock_guard use(useMutex_);
    --runningLookups_;
    useDone_.notify_all();
    return answer;
}

NameCache::Outcome DnsModule::LookUp(std::string_view address, uint8_t param, const std::filesystem::path& file) {
    NameCache::Outcome outcome;
    if ((param & kDnsLocalStorage) && !file.empty()) {
        // A missing file or key reads as empty: the next method is tried.
        const platform::ProfileFile storage = platform::ProfileFile::Load(file);
        outcome.name = CleanName(storage.ReadString(kCacheSection, address, kMaxNameUnits + 1));
        if (!outcome.name.empty()) {
            localHits_.fetch_add(1, std::memory_order_relaxed);
            return outcome;
        }
    }

    const std::optional<platform::SocketAddress> ip = ParseSenderAddress(address);
    if (!ip) return outcome;

    if (param & kDnsSystemLookup) {
        const platform::HostNameLookup found = reverseLookup_(*ip);
        if (found.Found()) {
            std::string name = CleanName(platform::AnsiToUtf8(found.name));
            // A pointer record naming another address would pass one host off as another.
            if (!name.empty() && !ParseDottedIpv4(name) && !platform::SocketAddress::Parse(name, 0)) {
                outcome.name = std::move(name);
                systemLookupHits_.fetch_add(1, std::memory_order_relaxed);
                return outcome;
            }
        } else if (found.Temporary()) {
            outcome.temporary = true;
        }
    }

    // The SNMP poller asks IPv4 agents only.
    const std::optional<platform::Ipv4Bytes> v4 = ParseDottedIpv4(address);
    if ((param & kDnsSnmp) && v4) {
        if (std::optional<std::string> name = AskSystemNameSource(*v4)) {
            outcome.name = CleanName(*name);
            if (!outcome.name.empty()) {
                snmpHits_.fetch_add(1, std::memory_order_relaxed);
                return outcome;
            }
        }
    }
    return outcome;
}

std::optional<std::string> DnsModule::AskSystemNameSource(const platform::Ipv4Bytes& address) {
    SystemNameSource* source = nullptr;
    {
        std::lock_guard use(useMutex_);
        source = systemNames_;
        if (!source) return std::nullopt;
        ++systemNameUsers_;
    }
    struct Done {
        DnsModule& module;
        ~Done() {
            std::lock_guard use(module.useMutex_);
            --module.systemNameUsers_;
            module.useDone_.notify_all();
        }
    } done{*this};
    return source->SystemName(address);
}

void DnsModule::AttachSystemNameSource(SystemNameSource& source) {
    {
        std::lock_guard use(useMutex_);
        systemNames_ = &source;
    }
    // Addresses seen before the poller was loaded found no name through it.
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::Yes);
    for (CacheSlot& slot : caches_) {
        if (slot.cache) slot.cache->MarkUnresolvedForRefresh();
    }
}

void DnsModule::DetachSystemNameSource() {
    std::unique_lock use(useMutex_);
    systemNames_ = nullptr;
    useDone_.wait(use, [this] { return systemNameUsers_ == 0; });
}

std::string DnsModule::NameFor(std::string_view senderText) {
    Resolution r = Resolve(senderText);
    if (r.state == NameState::Resolved && !r.name.empty()) return std::move(r.name);
    return std::string(senderText);
}

std::vector<std::string> DnsModule::KnownNames(std::string_view address) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::Yes);
    const std::optional<size_t> index = ActiveResolver();
    if (!index) return {};
    return CacheFor(*index).Names(address);
}

bool DnsModule::ScheduleRefresh() {
    {
        GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
        if (!lock) {
            core_.Report(core::Severity::Info, core::str::kNameCacheRefreshNotScheduled);
            return false;
        }
        for (CacheSlot& slot : caches_) {
            if (slot.cache) slot.cache->MarkAllForRefresh();
        }
    }
    core_.Report(core::Severity::Info, core::str::kNameCacheRefreshScheduled);
    return true;
}

std::filesystem::path DnsModule::CacheFilePath(size_t index) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::Yes);
    return index < settings_.records.size() ? PathFor(settings_.records[index].record.cacheFile) : std::filesystem::path{};
}

DnsHits DnsModule::Hits() const {
    return {localHits_.load(std::memory_order_relaxed), systemLookupHits_.load(std::memory_order_relaxed),
            snmpHits_.load(std::memory_order_relaxed)};
}

}  // namespace qm::processing
