#pragma once
// The `log` resource: the program's operating counters, then the newest
// events of the processing queue as tab-separated text in UTF-8.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace qm::core {
struct CoreContext;
}
namespace qm::processing {
class DnsModule;
}

namespace qm::http {

// The event part of the last answer without names, for the next request for
// the same records: every open browser asks for the newest page every few
// seconds, and the queue only grows between drains, so between two moves of
// events into it every request gets the same lines. One per server item;
// its loops share it.
class LogLinesCache {
public:
    // What decides the lines: the queue's numbering (run and drain), the
    // records taken, and the filters.
    struct Key {
        uint64_t run = 0;
        uint32_t generation = 0;
        long long start = 0;
        size_t count = 0;
        long long typeFilter = 0;
        uint8_t eventParam = 0;
        bool operator==(const Key&) const = default;
    };
    // Appends the kept lines to `answer` when they are the key's.
    bool AppendTo(const Key& key, std::string& answer) const;
    void Keep(const Key& key, std::string_view lines);

private:
    mutable std::mutex mutex_;
    std::optional<Key> key_;
    std::string lines_;
};

struct LogExportOptions {
    uint8_t eventParam = 0x30;     // event types listed
    uint32_t msgBufferSize = 50;   // events at most
    processing::DnsModule* names = nullptr;  // names the senders when set
    LogLinesCache* cache = nullptr;          // may be null: every answer is made
};

// The statistics block, ending in three empty lines.
std::string LogStatistics(core::CoreContext& core);

// The whole answer for a query "type&start" (both optional).
std::string LogExport(core::CoreContext& core, std::string_view query, const LogExportOptions& options);

}  // namespace qm::http
