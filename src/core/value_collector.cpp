#include "core/value_collector.h"

#include <cinttypes>
#include <cstdio>
#include <unordered_map>

#include "platform/clock.h"

namespace qm::core {

std::string Reading::Text() const {
    char text[32];
    switch (kind_) {
        case ValueKind::I32: std::snprintf(text, sizeof text, "%d", static_cast<int32_t>(AsSigned())); break;
        case ValueKind::I64: std::snprintf(text, sizeof text, "%" PRId64, AsSigned()); break;
        case ValueKind::U32: std::snprintf(text, sizeof text, "%u", static_cast<uint32_t>(bits_)); break;
        case ValueKind::U64: std::snprintf(text, sizeof text, "%" PRIu64, bits_); break;
        case ValueKind::None: return {};
    }
    return text;
}

// Named, not anonymous: the collector's own members hold these types.
namespace collector_detail {

constexpr uint32_t kNoTag = UINT32_MAX;

struct StoredSample {
    uint64_t time = 0;
    uint32_t tag = kNoTag;  // index into the vendor's tags
    Reading value;          // kind None: a gap
};

// Raises the lock user count for as long as the collector lock is held.
class CountedLock {
public:
    CountedLock(platform::CriticalSection& lock, platform::LockStats* stats) : lock_(lock), stats_(stats) {
        if (stats_) stats_->users.fetch_add(1, std::memory_order_relaxed);
        lock_.Enter();
    }
    ~CountedLock() {
        lock_.Leave();
        if (stats_) stats_->users.fetch_sub(1, std::memory_order_relaxed);
    }
    CountedLock(const CountedLock&) = delete;
    CountedLock& operator=(const CountedLock&) = delete;

private:
    platform::CriticalSection& lock_;
    platform::LockStats* stats_;
};

struct StringHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

}  // namespace collector_detail

using namespace collector_detail;

// Samples in a ring, oldest at `head`: dropping the oldest at the limit is
// one step, not a move of the whole array, and the order is the same.
struct ValueCollector::Vendor {
    std::string key;
    std::vector<std::shared_ptr<const std::string>> tags;
    std::unordered_map<std::string, uint32_t, StringHash, std::equal_to<>> tagIndex;
    std::vector<StoredSample> ring;
    size_t head = 0;
    size_t count = 0;

    const StoredSample& At(size_t i) const { return ring[(head + i) % ring.size()]; }

    uint32_t TagFor(const std::string& name) {
        if (auto found = tagIndex.find(name); found != tagIndex.end()) return found->second;
        const auto index = static_cast<uint32_t>(tags.size());
        tags.push_back(std::make_shared<const std::string>(name));
        tagIndex.emplace(name, index);
        return index;
    }

    void DropOldest() {
        ring[head] = StoredSample{};
        head = (head + 1) % ring.size();
        --count;
    }

    void Append(const StoredSample& sample) {
        if (count == ring.size()) {
            std::vector<StoredSample> grown;
            grown.reserve(ring.empty() ? 16 : ring.size() * 2);
            for (size_t i = 0; i < count; ++i) grown.push_back(At(i));
            grown.resize(grown.capacity());
            ring = std::move(grown);
            head = 0;
        }
        ring[(head + count) % ring.size()] = sample;
        ++count;
    }
};

ValueCollector::ValueCollector(LimitSource limit, platform::LockStats* stats, Clock clock)
    : limit_(std::move(limit)), stats_(stats), clock_(std::move(clock)) {
    if (!clock_) clock_ = [] { return platform::UnixSecondsNow(); };
}

ValueCollector::~ValueCollector() = default;

std::string ValueCollector::StoredTag(std::string_view tag, std::string_view module) {
    std::string stored;
    stored.reserve(tag.size() + module.size() + 3);
    stored.append(tag).append(" (").append(module).append(")");
    return stored;
}

bool ValueCollector::Push(std::string_view module, std::string_view vendor, std::optional<std::string_view> tag,
                          std::optional<Reading> value) {
    const uint32_t limit = limit_ ? limit_() : 0;
    if (limit == 0) return false;

    CountedLock hold(lock_, stats_);
    Vendor* record = nullptr;
    for (const auto& v : vendors_)
        if (v->key == vendor) {
            record = v.get();
            break;
        }
    if (record == nullptr) {
        vendors_.push_back(std::make_unique<Vendor>());
        record = vendors_.back().get();
        record->key = std::string(vendor);
    }

    StoredSample sample;
    if (tag) sample.tag = record->TagFor(module.empty() ? std::string(*tag) : StoredTag(*tag, module));
    // At the limit the oldest goes and the count stays; with L = 1 the one
    // place is reused rather than written before the array.
    if (record->count + 1 >= limit && record->count > 0) record->DropOldest();
    sample.time = clock_();
    if (value && value->Kind() != ValueKind::None && tag) sample.value = *value;
    record->Append(sample);
    return true;
}

ValueRead ValueCollector::Read(std::string_view vendor, std::string_view tag) const {
    ValueRead result;
    CountedLock hold(lock_, stats_);
    for (const auto& v : vendors_) {
        if (v->key != vendor) continue;
        result.vendorFound = true;
        result.vendorCount = static_cast<uint32_t>(v->count);
        uint32_t wanted = kNoTag;
        if (auto found = v->tagIndex.find(tag); found != v->tagIndex.end()) wanted = found->second;
        for (size_t i = 0; i < v->count; ++i) {
            const StoredSample& s = v->At(i);
            const bool gap = s.value.Kind() == ValueKind::None;
            if (!gap && s.tag != wanted) continue;
            ValueSample copy;
            copy.time = s.time;
            copy.gap = gap;
            if (s.tag != kNoTag) copy.tag = v->tags[s.tag];
            copy.value = s.value;
            result.samples.push_back(std::move(copy));
        }
        break;
    }
    return result;
}

std::vector<std::string> ValueCollector::Vendors() const {
    CountedLock hold(lock_, stats_);
    std::vector<std::string> names;
    for (const auto& v : vendors_) names.push_back(v->key);
    return names;
}

std::vector<std::string> ValueCollector::Tags(std::string_view vendor) const {
    CountedLock hold(lock_, stats_);
    std::vector<std::string> names;
    for (const auto& v : vendors_)
        if (v->key == vendor)
            for (const auto& t : v->tags) names.push_back(*t);
    return names;
}

void ValueCollector::Release() {
    CountedLock hold(lock_, stats_);
    vendors_.clear();
}

}  // namespace qm::core
