#pragma once
// The names found per sender address, for one resolver. Not locked itself:
// the module's lock guards it. The slow lookup happens between Begin and
// Finish, outside that lock, and the cache makes sure only one caller at a
// time looks an address up.
#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qm::processing {

enum class NameState : uint8_t {
    Unknown = 0,      // the first lookup of the address has not finished yet
    Resolved = 1,
    NotResolved = 2,
    Unavailable = 3,  // no module, no usable address or no resolver to ask
};

struct Resolution {
    NameState state = NameState::Unavailable;
    std::string name;  // set exactly when Resolved
};

// Senders can be forged at will, so the addresses kept are bounded; beyond
// this the one used least recently makes room.
constexpr size_t kMaxCacheEntries = 65536;
// Names an address had, newest last; older ones beyond this are forgotten.
constexpr size_t kMaxNamesPerEntry = 16;
// A lookup that failed for want of an answer (no server reachable) is
// repeated after this long; an answer that there is no name stands until a
// refresh.
constexpr uint64_t kTemporaryFailureRetryMs = 60000;
// A name is shown in at most this many UTF-16 units.
constexpr size_t kMaxNameUnits = 1023;

// A found name as it is kept: control characters become spaces, spaces at
// both ends go, and it is cut to kMaxNameUnits. Empty when nothing is left.
std::string CleanName(std::string_view raw);

class NameCache {
public:
    explicit NameCache(size_t capacity = kMaxCacheEntries) : capacity_(capacity ? capacity : 1) {}

    struct Claim {
        bool lookup = false;  // the caller looks the address up and then calls Finish
        uint64_t ticket = 0;
        Resolution current;   // what is known now (all a caller gets without a lookup)
    };
    // Finds or creates the entry. A lookup is claimed for a new entry, for an
    // entry due for refresh and for a temporary failure whose retry time has
    // come, never while another caller's lookup of it is running.
    Claim Begin(std::string_view address, uint64_t nowMs);

    struct Outcome {
        std::string name;        // cleaned; empty when no method found one
        bool temporary = false;  // some method failed for want of an answer
    };
    // Stores the outcome of the lookup claimed with `ticket` and says what to
    // show. An entry dropped meanwhile keeps nothing, but the answer still counts.
    Resolution Finish(std::string_view address, uint64_t ticket, const Outcome& outcome, uint64_t nowMs);

    void MarkAllForRefresh();
    void MarkUnresolvedForRefresh();

    // Every name found for the address, oldest first.
    std::vector<std::string> Names(std::string_view address) const;
    size_t size() const { return order_.size(); }

private:
    struct Entry {
        std::string address;
        NameState state = NameState::Unknown;
        bool refresh = false;
        bool inFlight = false;
        uint64_t ticket = 0;
        uint64_t retryAtMs = 0;  // 0: no retry of its own
        std::vector<std::string> names;
    };
    using Order = std::list<Entry>;

    static Resolution Current(const Entry& e);
    bool MakeRoom();

    size_t capacity_;
    uint64_t nextTicket_ = 1;
    Order order_;  // least recently used first
    std::unordered_map<std::string_view, Order::iterator> index_;  // keys view into the entries' addresses
};

}  // namespace qm::processing
