#include "processing/dns/name_cache.h"

#include <algorithm>

#include "platform/utf16.h"

namespace qm::processing {

std::string CleanName(std::string_view raw) {
    std::string name(raw);
    // A name goes into list rows, web pages and log lines: a line break or a
    // tab inside it would forge a row or a column there.
    for (char& c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) c = ' ';
    }
    const size_t first = name.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    name = name.substr(first, name.find_last_not_of(' ') - first + 1);
    if (platform::Utf16Length(name) > kMaxNameUnits) {
        name = platform::TruncateUtf16(name, kMaxNameUnits);
        name.erase(name.find_last_not_of(' ') + 1);
    }
    return name;
}

Resolution NameCache::Current(const Entry& e) {
    if (e.state == NameState::Resolved && !e.names.empty()) return {NameState::Resolved, e.names.back()};
    if (e.state == NameState::NotResolved) return {NameState::NotResolved, {}};
    return {NameState::Unknown, {}};
}

bool NameCache::MakeRoom() {
    // An entry whose lookup is running stays: its caller comes back to it.
    for (auto it = order_.begin(); it != order_.end(); ++it) {
        if (it->inFlight) continue;
        index_.erase(std::string_view(it->address));
        order_.erase(it);
        return true;
    }
    return false;
}

NameCache::Claim NameCache::Begin(std::string_view address, uint64_t nowMs) {
    Claim claim;
    auto found = index_.find(address);
    if (found == index_.end()) {
        if (order_.size() >= capacity_ && !MakeRoom()) {
            claim.current.state = NameState::Unknown;
            return claim;
        }
        order_.emplace_back();
        order_.back().address = std::string(address);
        auto it = std::prev(order_.end());
        index_.emplace(std::string_view(it->address), it);
        found = index_.find(address);
    } else {
        order_.splice(order_.end(), order_, found->second);
    }

    Entry& e = *found->second;
    claim.current = Current(e);
    if (e.inFlight) return claim;
    const bool retryDue = e.state == NameState::NotResolved && e.retryAtMs != 0 && nowMs >= e.retryAtMs;
    if (e.state == NameState::Unknown || e.refresh || retryDue) {
        e.refresh = false;
        e.inFlight = true;
        e.ticket = nextTicket_++;
        claim.lookup = true;
        claim.ticket = e.ticket;
    }
    return claim;
}

Resolution NameCache::Finish(std::string_view address, uint64_t ticket, const Outcome& outcome, uint64_t nowMs) {
    Resolution answer;
    if (outcome.name.empty()) {
        answer.state = NameState::NotResolved;
    } else {
        answer.state = NameState::Resolved;
        answer.name = outcome.name;
    }

    auto found = index_.find(address);
    if (found == index_.end() || !found->second->inFlight || found->second->ticket != ticket) return answer;
    Entry& e = *found->second;
    e.inFlight = false;
    e.state = answer.state;
    if (answer.state == NameState::NotResolved) {
        e.retryAtMs = outcome.temporary ? std::max<uint64_t>(nowMs + kTemporaryFailureRetryMs, 1) : 0;
        return answer;
    }
    e.retryAtMs = 0;
    // The name found now is the one shown from now on, also when it was
    // known before: it moves to the end rather than being added twice.
    auto same = std::find(e.names.begin(), e.names.end(), answer.name);
    if (same != e.names.end()) e.names.erase(same);
    e.names.push_back(answer.name);
    if (e.names.size() > kMaxNamesPerEntry) e.names.erase(e.names.begin());
    return answer;
}

void NameCache::MarkAllForRefresh() {
    for (Entry& e : order_) e.refresh = true;
}

void NameCache::MarkUnresolvedForRefresh() {
    for (Entry& e : order_) {
        if (e.state != NameState::Resolved) e.refresh = true;
    }
}

std::vector<std::string> NameCache::Names(std::string_view address) const {
    auto found = index_.find(address);
    return found == index_.end() ? std::vector<std::string>{} : found->second->names;
}

}  // namespace qm::processing
