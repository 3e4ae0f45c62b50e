#pragma once
// Time as the program uses it: a monotonic clock for elapsed times, the local
// calendar time with milliseconds for event stamps, and seconds since 1970 UTC
// for UIDs and epochs.
#include <cstdint>

namespace qm::platform {

// Calendar record; every field unsigned 16-bit like the stored form.
struct SystemTime {
    uint16_t year = 0;
    uint16_t month = 0;      // 1..12
    uint16_t dayOfWeek = 0;  // 0 = Sunday
    uint16_t day = 0;        // 1..31
    uint16_t hour = 0;
    uint16_t minute = 0;
    uint16_t second = 0;
    uint16_t milliseconds = 0;
    bool operator==(const SystemTime&) const = default;
};

uint64_t MonotonicMs();
uint64_t MonotonicNs();
SystemTime LocalTimeNow();
uint64_t UnixSecondsNow();
SystemTime ToLocalTime(int64_t unixSeconds, uint16_t milliseconds = 0);
// East of UTC, in seconds, of the local time zone at this local time (the
// dayOfWeek and milliseconds fields are not read); 0 when it is not a time
// the zone knows.
int32_t UtcOffsetSeconds(const SystemTime& local);

}  // namespace qm::platform
