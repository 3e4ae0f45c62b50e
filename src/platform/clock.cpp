#include "platform/clock.h"

#include <ctime>

namespace qm::platform {

uint64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000000ull + uint64_t(ts.tv_nsec);
}

uint64_t MonotonicMs() { return MonotonicNs() / 1000000ull; }

SystemTime ToLocalTime(int64_t unixSeconds, uint16_t milliseconds) {
    time_t t = static_cast<time_t>(unixSeconds);
    tm local{};
    localtime_r(&t, &local);
    SystemTime st;
    st.year = static_cast<uint16_t>(local.tm_year + 1900);
    st.month = static_cast<uint16_t>(local.tm_mon + 1);
    st.dayOfWeek = static_cast<uint16_t>(local.tm_wday);
    st.day = static_cast<uint16_t>(local.tm_mday);
    st.hour = static_cast<uint16_t>(local.tm_hour);
    st.minute = static_cast<uint16_t>(local.tm_min);
    // A leap second shows as :59 rather than an impossible :60.
    st.second = static_cast<uint16_t>(local.tm_sec > 59 ? 59 : local.tm_sec);
    st.milliseconds = milliseconds;
    return st;
}

SystemTime LocalTimeNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return ToLocalTime(ts.tv_sec, static_cast<uint16_t>(ts.tv_nsec / 1000000));
}

int32_t UtcOffsetSeconds(const SystemTime& local) {
    tm t{};
    t.tm_year = local.year - 1900;
    t.tm_mon = local.month - 1;
    t.tm_mday = local.day;
    t.tm_hour = local.hour;
    t.tm_min = local.minute;
    t.tm_sec = local.second;
    t.tm_isdst = -1;  // the zone's rules say whether summer time applies
    if (mktime(&t) == static_cast<time_t>(-1)) return 0;
    return static_cast<int32_t>(t.tm_gmtoff);
}

uint64_t UnixSecondsNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec < 0 ? 0 : uint64_t(ts.tv_sec);
}

}  // namespace qm::platform
