#pragma once
// The value collector: the in-memory store of tagged, time-stamped readings
// that graph windows draw. Samples are kept per vendor (where a series comes
// from: a device address, or "127.0.0.1" for the program's own counters) and
// all tags of one vendor share its limit of L - 1 samples, L being read at
// every push. Nothing is written to disk.
//
// One lock guards the whole store; Push and Read hold it for their run and
// Read hands back copies that own everything they refer to, so a graph draws
// without the lock and nothing it holds can be freed under it.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/guarded_lock.h"
#include "platform/sync.h"

namespace qm::core {

enum class ValueKind : uint8_t { None = 0, I32 = 1, I64 = 2, U32 = 3, U64 = 4 };

// One reading of one of the four integer kinds.
class Reading {
public:
    Reading() = default;
    static Reading I32(int32_t v) { return Reading(ValueKind::I32, static_cast<uint64_t>(static_cast<int64_t>(v))); }
    static Reading I64(int64_t v) { return Reading(ValueKind::I64, static_cast<uint64_t>(v)); }
    static Reading U32(uint32_t v) { return Reading(ValueKind::U32, v); }
    static Reading U64(uint64_t v) { return Reading(ValueKind::U64, v); }

    ValueKind Kind() const { return kind_; }
    bool Signed() const { return kind_ == ValueKind::I32 || kind_ == ValueKind::I64; }
    // The value as its kind holds it; the other view is a plain cast.
    int64_t AsSigned() const { return static_cast<int64_t>(bits_); }
    uint64_t AsUnsigned() const { return bits_; }
    // "%d", "%I64d", "%u", "%I64u" by kind; empty for None.
    std::string Text() const;

    bool operator==(const Reading&) const = default;

private:
    Reading(ValueKind kind, uint64_t bits) : kind_(kind), bits_(bits) {}
    ValueKind kind_ = ValueKind::None;
    uint64_t bits_ = 0;  // signed kinds sign-extended
};

// A sample as Read hands it out.
struct ValueSample {
    uint64_t time = 0;  // UTC seconds since 1970, when it was stored
    bool gap = false;   // a failed reading: no value
    std::shared_ptr<const std::string> tag;  // null for a vendor-wide gap
    Reading value;      // kind None for a gap
};

struct ValueRead {
    std::vector<ValueSample> samples;  // oldest first
    uint32_t vendorCount = 0;          // every sample of the vendor, all tags
    bool vendorFound = false;
};

class ValueCollector {
public:
    using LimitSource = std::function<uint32_t()>;
    using Clock = std::function<uint64_t()>;

    // `limit` is L, asked at every push; `stats` (may be null) counts the
    // collector's lock users; `clock` stamps samples (UTC seconds by default).
    explicit ValueCollector(LimitSource limit, platform::LockStats* stats = nullptr, Clock clock = {});
    ~ValueCollector();
    ValueCollector(const ValueCollector&) = delete;
    ValueCollector& operator=(const ValueCollector&) = delete;

    // Stores one sample; without a tag or a value it is a gap. The stored tag
    // is "tag (module)" when a module is named. False when nothing was stored
    // (no vendor, or L = 0, which switches the collector off).
    //
    // L = 1 would leave no room under the L - 1 rule; it keeps one sample,
    // the newest, as L = 2 does.
    bool Push(std::string_view module, std::string_view vendor, std::optional<std::string_view> tag,
              std::optional<Reading> value);

    // Every sample of the vendor with exactly this tag, and every gap, oldest
    // first, with the vendor's total count. `vendorFound` false for an
    // unknown vendor; the samples empty when none matched.
    ValueRead Read(std::string_view vendor, std::string_view tag) const;

    // The names in order of first appearance.
    std::vector<std::string> Vendors() const;
    std::vector<std::string> Tags(std::string_view vendor) const;

    // Frees every vendor (shutdown).
    void Release();

    // "%s (%s)" of tag and module, the form a graph asks for.
    static std::string StoredTag(std::string_view tag, std::string_view module);

private:
    struct Vendor;

    LimitSource limit_;
    platform::LockStats* stats_;
    Clock clock_;
    mutable platform::CriticalSection lock_;
    std::vector<std::unique_ptr<Vendor>> vendors_;
};

}  // namespace qm::core
