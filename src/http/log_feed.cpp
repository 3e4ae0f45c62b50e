#include "http/log_feed.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>

#include "core/core_context.h"
#include "http/json_text.h"
#include "platform/codepage.h"

namespace qm::http {

namespace {

// Names as syslog tools write them (logger -p, rsyslog's filters), so a
// script can match what it configured elsewhere.
constexpr std::array<std::string_view, 8> kSeverityKeywords{
    "emerg", "alert", "crit", "err", "warning", "notice", "info", "debug"};
constexpr std::array<std::string_view, 24> kFacilityKeywords{
    "kern", "user", "mail", "daemon", "auth", "syslog", "lpr", "news",
    "uucp", "cron", "authpriv", "ftp", "ntp", "audit", "alert", "clock",
    "local0", "local1", "local2", "local3", "local4", "local5", "local6", "local7"};

std::string_view TypeKeyword(uint32_t type) {
    switch (type) {
        case core::kEventSystem: return "system";
        case core::kEventExternal: return "external";
        case core::kEventInternal: return "internal";
        case core::kEventArchive: return "archive";
        default: return {};
    }
}

std::optional<uint64_t> ParseNumber(std::string_view text) {
    uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// Event times are local calendar times; the zone's offset for each is looked
// up once per hour of them, not once per event.
class OffsetCache {
public:
    int32_t For(const platform::SystemTime& t) {
        const uint64_t hour = ((uint64_t{t.year} * 13 + t.month) * 32 + t.day) * 24 + t.hour;
        if (hour != hour_) {
            hour_ = hour;
            offset_ = platform::UtcOffsetSeconds(t);
        }
        return offset_;
    }

private:
    uint64_t hour_ = UINT64_MAX;
    int32_t offset_ = 0;
};

// ISO 8601 with milliseconds and the zone's offset: 2024-05-01T10:00:01.234+02:00.
void AppendIsoTime(std::string& out, const platform::SystemTime& t, int32_t offset) {
    const char sign = offset < 0 ? '-' : '+';
    const int32_t minutes = (offset < 0 ? -offset : offset) / 60;
    char text[48];
    const int n = std::snprintf(text, sizeof text, "\"%04u-%02u-%02uT%02u:%02u:%02u.%03u%c%02d:%02d\"", unsigned{t.year},
                                unsigned{t.month}, unsigned{t.day}, unsigned{t.hour}, unsigned{t.minute},
                                unsigned{t.second}, unsigned{t.milliseconds}, sign, minutes / 60, minutes % 60);
    out.append(text, static_cast<size_t>(std::clamp(n, 0, int(sizeof text) - 1)));
}

void AppendKey(std::string& out, std::string_view key) {
    out += ",\"";
    out += key;
    out += "\":";
}

void AppendEvent(std::string& out, const core::EventRecord& e, OffsetCache& offsets) {
    out += "{\"id\":";
    out += std::to_string(e.sequence);
    AppendKey(out, "time");
    AppendIsoTime(out, e.time, offsets.For(e.time));
    AppendKey(out, "type");
    AppendJsonStringOrNull(out, TypeKeyword(e.type));
    AppendKey(out, "sender");
    AppendJsonString(out, e.sender);
    AppendKey(out, "relayed");
    out += e.relayed ? "true" : "false";
    AppendKey(out, "severity");
    out += std::to_string(e.severity);
    AppendKey(out, "severityName");
    AppendJsonStringOrNull(out, e.severity < kSeverityKeywords.size() ? kSeverityKeywords[e.severity] : "");
    AppendKey(out, "facility");
    out += std::to_string(e.facility);
    AppendKey(out, "facilityName");
    AppendJsonStringOrNull(out, e.facility < kFacilityKeywords.size() ? kFacilityKeywords[e.facility] : "");
    AppendKey(out, "charset");
    AppendJsonString(out, platform::CharsetName(e.charset));
    AppendKey(out, "senderTime");
    AppendJsonStringOrNull(out, e.SenderTime());
    AppendKey(out, "host");
    AppendJsonStringOrNull(out, e.Host());
    AppendKey(out, "app");
    AppendJsonStringOrNull(out, e.App());
    AppendKey(out, "procid");
    AppendJsonStringOrNull(out, e.ProcId());
    AppendKey(out, "msgid");
    AppendJsonStringOrNull(out, e.MsgId());
    AppendKey(out, "structuredData");
    AppendJsonStringOrNull(out, e.StructuredData());
    AppendKey(out, "message");
    AppendJsonString(out, e.Message());
    AppendKey(out, "body");
    AppendJsonString(out, e.Body());
    out += '}';
}

// One pass over the queue for an answer. The queue can be drained at any
// moment between two lock holds; a pass that notices it gives up (false)
// and is made again on the new queue.
class FeedPass {
public:
    FeedPass(core::EventCore& events, const LogFeedQuery& query, uint8_t eventParam)
        : events_(events), query_(query), eventParam_(eventParam) {}

    bool Run() {
        const size_t count = events_.QueueCount();
        size_t position = 0;
        if (query_.since) {
            if (!FindFirstAbove(*query_.since, count, position)) return false;
        } else {
            position = count > query_.limit ? count - query_.limit : 0;
        }
        lastSeen_ = query_.since.value_or(0);
        return Collect(position) && ReadNewest();
    }

    // The object around the events collected.
    std::string Answer(const core::CoreContext& core) const {
        const uint64_t drained = events_.DrainedThrough();
        const uint64_t next = query_.since ? lastSeen_ : std::max(lastSeen_, drained);
        std::string out;
        out.reserve(eventsText_.size() + 256);
        char run[17];
        std::snprintf(run, sizeof run, "%016llx", static_cast<unsigned long long>(events_.RunId()));
        out += "{\"run\":\"";
        out += run;
        out += '"';
        AppendKey(out, "started");
        if (core.startUtc != 0)
            AppendIsoTime(out, core.startTime, platform::UtcOffsetSeconds(core.startTime));
        else
            out += "null";
        AppendKey(out, "drained");
        out += std::to_string(drained);
        AppendKey(out, "newest");
        out += std::to_string(std::max(newestInQueue_, drained));
        AppendKey(out, "next");
        out += std::to_string(next);
        AppendKey(out, "more");
        out += newestInQueue_ > next ? "true" : "false";
        AppendKey(out, "events");
        out += '[';
        out += eventsText_;
        out += "]}\n";
        return out;
    }

private:
    // Reads the slice at `position`; false when the queue is no longer the
    // one this pass began on (or cannot be read).
    bool Read(size_t position, core::QueueSlice& slice, bool& end) {
        end = false;
        const int rc = events_.ReadSlice(position, platform::Blocking::Yes, slice);
        if (rc == core::kNothingToRead) {
            end = true;
            return Same(events_.Generation());
        }
        return rc == core::kOk && Same(events_.Generation());
    }
    bool Same(uint32_t generation) {
        if (!generation_) generation_ = generation;
        return *generation_ == generation;
    }

    // The position of the first record numbered above `since`, found by
    // halving: the numbers rise along the queue.
    bool FindFirstAbove(uint64_t since, size_t count, size_t& found) {
        size_t low = 0, high = count;
        while (low < high) {
            const size_t middle = low + (high - low) / 2;
            core::QueueSlice slice;
            bool end = false;
            if (!Read(middle, slice, end)) return false;
            if (end || slice[0].sequence > since) {
                high = middle;
            } else if (slice[slice.size() - 1].sequence <= since) {
                low = middle + slice.size();
            } else {
                const auto records = slice.Records();
                const auto above = std::partition_point(records.begin(), records.end(),
                                                        [since](const core::EventPtr& e) { return e->sequence <= since; });
                found = middle + static_cast<size_t>(above - records.begin());
                return true;
            }
        }
        found = low;
        return true;
    }

    bool Collect(size_t position) {
        OffsetCache offsets;
        size_t given = 0;
        while (given < query_.limit) {
            core::QueueSlice slice;
            bool end = false;
            if (!Read(position, slice, end)) return false;
            if (end) return true;
            for (size_t i = 0; i < slice.size() && given < query_.limit; ++i) {
                const core::EventRecord& e = slice[i];
                lastSeen_ = e.sequence;
                if (!(e.type & eventParam_)) continue;
                if (given++ > 0) eventsText_ += ',';
                eventsText_ += '\n';
                AppendEvent(eventsText_, e, offsets);
            }
            position += slice.size();
        }
        return true;
    }

    bool ReadNewest() {
        const size_t count = events_.QueueCount();
        if (count == 0) return Same(events_.Generation());
        core::QueueSlice slice;
        bool end = false;
        if (!Read(count - 1, slice, end)) return false;
        if (!end) newestInQueue_ = slice[slice.size() - 1].sequence;
        return true;
    }

    core::EventCore& events_;
    const LogFeedQuery& query_;
    const uint8_t eventParam_;
    std::optional<uint32_t> generation_;
    uint64_t lastSeen_ = 0;       // number of the last record looked at, of any type
    uint64_t newestInQueue_ = 0;  // 0: the queue was empty
    std::string eventsText_;
};

}  // namespace

LogFeedQuery ParseLogFeedQuery(std::string_view query) {
    LogFeedQuery q;
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view part = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        const size_t eq = part.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view key = part.substr(0, eq);
        const std::optional<uint64_t> value = ParseNumber(part.substr(eq + 1));
        if (!value) continue;
        if (key == "since") q.since = *value;
        if (key == "limit") q.limit = static_cast<size_t>(std::clamp<uint64_t>(*value, 1, kFeedMaxLimit));
    }
    return q;
}

std::string LogFeed(core::CoreContext& core, std::string_view query, uint8_t eventParam) {
    if (!core.events) return {};
    const LogFeedQuery q = ParseLogFeedQuery(query);
    // A drain comes every so often, not in a tight loop: a few tries suffice.
    for (int attempt = 0;; ++attempt) {
        FeedPass pass(*core.events, q, eventParam);
        if (pass.Run() || attempt == 4) return pass.Answer(core);
    }
}

}  // namespace qm::http
