#include "polling/icmp/icmp_output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "polling/poll_output.h"

namespace qm::polling {

int32_t RoundedMsec(double msec) { return static_cast<int32_t>(std::min(msec + 0.5, 2147483647.0)); }

IcmpOutput FormatIcmpOutput(const IcmpHost& host, double msec, int ttl, std::string_view marker) {
    IcmpOutput out;
    const int64_t whole = static_cast<int64_t>(msec);
    const bool low = host.enableMin && whole <= host.minVal;
    const bool high = host.enableMax && whole >= host.maxVal;
    out.breach = low || high;
    char time[64];
    std::snprintf(time, sizeof time, "%.1f", msec);
    std::string timeText = time;
    if (out.breach) timeText += marker;
    out.text = host.outFormat;
    ReplaceAll(out.text, "[msec]", timeText);
    ReplaceAll(out.text, "[ttl]", std::to_string(ttl));
    return out;
}

}  // namespace qm::polling
