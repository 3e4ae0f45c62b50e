#pragma once
// The `log` resource: the program's operating counters, then the newest
// events of the processing queue as tab-separated text in UTF-8.
#include <cstdint>
#include <string>
#include <string_view>

namespace qm::core {
struct CoreContext;
}
namespace qm::processing {
class DnsModule;
}

namespace qm::http {

struct LogExportOptions {
    uint8_t eventParam = 0x30;     // event types listed
    uint32_t msgBufferSize = 50;   // events at most
    processing::DnsModule* names = nullptr;  // names the senders when set
};

// The statistics block, ending in three empty lines.
std::string LogStatistics(core::CoreContext& core);

// The whole answer for a query "type&start" (both optional).
std::string LogExport(core::CoreContext& core, std::string_view query, const LogExportOptions& options);

}  // namespace qm::http
