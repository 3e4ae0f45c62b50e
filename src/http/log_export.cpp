#include "http/log_export.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "core/core_context.h"
#include "core/memory_accounting.h"
#include "http/http_request.h"
#include "platform/utf16.h"
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
    // Severities, days, years and counts of a page: small numbers, made
    // without to_chars.
    if (value >= 0 && value < 10000 && digits >= 1 && digits <= 4) {
        const int width = std::max<int>(digits, value >= 1000 ? 4 : value >= 100 ? 3 : value >= 10 ? 2 : 1);
        char text[4];
        for (int i = width - 1; i >= 0; --i, value /= 10) text[i] = static_cast<char>('0' + value % 10);
        out.append(text, static_cast<size_t>(width));
        return;
    }
    char buffer[48];
    char* at = buffer;
    if (value < 0) *at++ = '-';
    char digitsText[24];
    const auto [end, ec] = std::to_chars(digitsText, digitsText + sizeof digitsText, value < 0 ? -value : value);
    if (ec != std::errc()) return;
    for (int pad = std::min(digits, 20) - static_cast<int>(end - digitsText); pad > 0; --pad) *at++ = '0';
    for (const char* d = digitsText; d != end; ++d) *at++ = *d;
    out.append(buffer, at);
}

// "%d\t%s\t%s\t%.2d.%.2d.%.2d %.2d:%.2d:%.2d\t%s\t\n", put together directly:
// a page of them is asked for every few seconds by every open browser. The
// texts go out as the program holds them, in UTF-8: the locale the program
// happens to run under says nothing about what the browser reads.
void AppendEventLine(std::string& answer, uint32_t severity, std::string_view sender, std::string_view name,
                     const platform::SystemTime& t, std::string_view message) {
    AppendNumber(answer, static_cast<int32_t>(severity), 1);
    answer += '\t';
    answer += sender;
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
    answer += message;
    answer += "\t\n";
}

bool PassesTypeFilter(uint32_t type, long long filter) {
    if (filter < 0) return true;
    if (filter == 1) return type == core::kEventInternal;
    if (filter == 2) return type == core::kEventExternal;
    return false;
}

}  // namespace

bool LogLinesCache::AppendTo(const Key& key, std::string& answer) const {
    std::lock_guard lock(mutex_);
    if (key_ != key) return false;
    answer += lines_;
    return true;
}

void LogLinesCache::Keep(const Key& key, std::string_view lines) {
    std::lock_guard lock(mutex_);
    key_ = key;
    lines_.assign(lines);
}

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
    {
        core::QueueSlice slice;
        if (events->ReadSlice(static_cast<size_t>(start), platform::Blocking::Yes, slice) != core::kOk) return answer;
        const size_t n = std::min(slice.size(), limit);
        // Records in the queue never change, and a drain (the only way one
        // leaves it) raises the generation: the same key is the same lines.
        // Lines with names are made anew: a name may have come since.
        LogLinesCache* const cache = options.names ? nullptr : options.cache;
        const LogLinesCache::Key key{events->RunId(), events->Generation(), start, n, filter, options.eventParam};
        if (cache && cache->AppendTo(key, answer)) return answer;
        const size_t linesFrom = answer.size();
        answer += "BI\t";
        AppendNumber(answer, static_cast<uint32_t>(start + static_cast<long long>(n)), 1);
        answer += '\t';
        AppendNumber(answer, events->Generation(), 1);
        answer += '\t';
        AppendNumber(answer, static_cast<uint32_t>(n), 1);
        answer += "\t\r\n";
        if (options.names)
            copies.reserve(n);
        else
            answer.reserve(answer.size() + n * 160);
        for (size_t i = 0; i < n; ++i) {
            const core::EventRecord& e = slice[i];
            if (!(e.type & options.eventParam) || !PassesTypeFilter(e.type, filter)) continue;
            // Without names a line is made at once: it costs less than the
            // copy it would otherwise need.
            if (options.names)
                copies.push_back({e.severity, e.sender, e.time, std::string(e.Message())});
            else
                AppendEventLine(answer, e.severity, e.sender, {}, e.time, e.Message());
        }
        if (cache) cache->Keep(key, std::string_view(answer).substr(linesFrom));
    }
    if (!options.names) return answer;
    // Names are looked up only now: a lookup may wait on the network, and the
    // queue lock holds up the mover and the database meanwhile.
    answer.reserve(answer.size() + copies.size() * 160);
    for (const ExportedEvent& e : copies) {
        std::string name;
        processing::Resolution r = options.names->Resolve(e.sender);
        if (r.state == processing::NameState::Resolved) name = std::move(r.name);
        AppendEventLine(answer, e.severity, e.sender, name, e.time, e.message);
    }
    return answer;
}

}  // namespace qm::http
