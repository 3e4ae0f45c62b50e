#include "http/log_export.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "core/core_context.h"
#include "core/memory_accounting.h"
#include "http/http_request.h"
#include "platform/codepage.h"
#include "processing/dns/dns_module.h"

namespace qm::http {

namespace {

// What the export needs of one record, copied while the queue lock is held.
struct ExportedEvent {
    uint32_t severity;
    std::string sender;
    platform::SystemTime time;
    std::string message;
};

// printf's "%.Nd": at least `digits` digits, zero-padded, after the sign.
void AppendNumber(std::string& out, int64_t value, int digits) {
    char buffer[24];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value < 0 ? -value : value);
    if (ec != std::errc()) return;
    if (value < 0) out += '-';
    for (int pad = digits - static_cast<int>(end - buffer); pad > 0; --pad) out += '0';
    out.append(buffer, end);
}

bool PassesTypeFilter(uint32_t type, long long filter) {
    if (filter < 0) return true;
    if (filter == 1) return type == core::kEventInternal;
    if (filter == 2) return type == core::kEventExternal;
    return false;
}

}  // namespace

std::string LogStatistics(core::CoreContext& core) {
    const core::CoreCounters& c = core.counters;
    core::EventCore* events = core.events.get();
    const uint64_t inUse = core::TakeMemorySnapshot().InUse();
    const uint32_t errors = static_cast<uint32_t>(c.errors.load());
    const auto text = core::Format(
        "%I64d\t%u\t%u\t%u\t%u\t\r\n%I64d\t%I64d\t%I64d\t%I64d\t\r\n%I64d\t\r\n%u\t%I64d\t%u\t\r\n%d\t%d\t%d\t\r\n\r\n\r\n",
        int64_t(c.locks.users.load()), c.locks.collisions.load(), errors, c.threads.load(), c.windows.load(),
        int64_t(c.datagramsReceived.load()), int64_t(c.bytesReceived.load()), int64_t(c.datagramsSent.load()),
        int64_t(c.bytesSent.load()), int64_t(inUse), uint32_t(events ? events->QueueCount() : 0),
        int64_t(events ? events->MessageCounter() : 0), events ? events->ActiveIntake() : 0u, 3, 2, 0);
    return text.value_or(std::string());
}

std::string LogExport(core::CoreContext& core, std::string_view query, const LogExportOptions& options) {
    std::string answer = LogStatistics(core);
    core::EventCore* events = core.events.get();
    if (!events) return answer;
    const long long filter = QueryNumber(query, 0);
    long long start = QueryNumber(query, 1);
    const size_t limit = std::clamp<uint32_t>(options.msgBufferSize, 1, core::EventCore::kSliceMax);
    const size_t count = events->QueueCount();
    if (start < 0 || static_cast<unsigned long long>(start) > count)
        start = static_cast<long long>(count > limit ? count - limit : 0);

    std::vector<ExportedEvent> copies;
    size_t n = 0;
    uint32_t generation = 0;
    {
        core::QueueSlice slice;
        if (events->ReadSlice(static_cast<size_t>(start), platform::Blocking::Yes, slice) != core::kOk) return answer;
        n = std::min(slice.size(), limit);
        generation = events->Generation();
        copies.reserve(n);
        for (size_t i = 0; i < n; ++i) {
            const core::EventRecord& e = slice[i];
            if (!(e.type & options.eventParam) || !PassesTypeFilter(e.type, filter)) continue;
            copies.push_back({e.severity, e.sender, e.time, std::string(e.Message())});
        }
    }
    // Names are looked up only now: a lookup may wait on the network, and the
    // queue lock holds up the mover and the database meanwhile.
    answer += core::Format("BI\t%u\t%u\t%u\t\r\n", uint32_t(start + n), generation, uint32_t(n)).value_or("");
    // One line per event as "%d\t%s\t%s\t%.2d.%.2d.%.2d %.2d:%.2d:%.2d\t%s\t\n",
    // put together directly: a page of them is asked for every few seconds
    // by every open browser.
    answer.reserve(answer.size() + copies.size() * 160);
    for (const ExportedEvent& e : copies) {
        std::string name;
        if (options.names) {
            processing::Resolution r = options.names->Resolve(e.sender);
            if (r.state == processing::NameState::Resolved) name = platform::Utf8ToAnsi(r.name);
        }
        const platform::SystemTime& t = e.time;
        AppendNumber(answer, static_cast<int32_t>(e.severity), 1);
        answer += '\t';
        answer += platform::Utf8ToAnsi(e.sender);
        answer += '\t';
        answer += name;
        answer += '\t';
        AppendNumber(answer, t.day, 2);
        answer += '.';
        AppendNumber(answer, t.month, 2);
        answer += '.';
        AppendNumber(answer, t.year, 2);
        answer += ' ';
        AppendNumber(answer, t.hour, 2);
        answer += ':';
        AppendNumber(answer, t.minute, 2);
        answer += ':';
        AppendNumber(answer, t.second, 2);
        answer += '\t';
        answer += platform::Utf8ToAnsi(e.message);
        answer += "\t\n";
    }
    return answer;
}

}  // namespace qm::http
