#pragma once
// The `log.json` resource: events of the processing queue as one JSON
// object, for scripts and dashboards that follow new events by number.
//
// Records join the queue in the order of their sequence numbers, so "every
// event numbered above `since`" is a sound cursor: what a follower has not
// been given yet is either still in the queue or was drained by the event
// database, and the answer says up to which number that happened
// (`drained`). Numbers start again at 1 with each run, which `run` tells
// apart. The format is described in README.md ("JSON feed").
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm::core {
struct CoreContext;
}

namespace qm::http {

constexpr size_t kFeedDefaultLimit = 100;
constexpr size_t kFeedMaxLimit = 1000;

struct LogFeedQuery {
    std::optional<uint64_t> since;  // events numbered above it; none: the newest `limit`
    size_t limit = kFeedDefaultLimit;
};

// "since=ID&limit=N", in any order, both optional. A value that is not a
// number is ignored; the limit is kept within 1 to kFeedMaxLimit.
LogFeedQuery ParseLogFeedQuery(std::string_view query);

// The whole answer; `eventParam` is the item's mask of event types, as for `log`.
std::string LogFeed(core::CoreContext& core, std::string_view query, uint8_t eventParam);

}  // namespace qm::http
