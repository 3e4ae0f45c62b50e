#pragma once
// What one host's poll says: the breach test on the round-trip time and the
// output text built from the host's format. Pure; the module emits it.
#include <cstdint>
#include <string>
#include <string_view>

#include "polling/icmp/icmp_settings.h"

namespace qm::polling {

struct IcmpOutput {
    bool breach = false;
    std::string text;  // the host's format with "[msec]" and then "[ttl]" filled in
};

// `marker` is appended to the time text on a breach.
IcmpOutput FormatIcmpOutput(const IcmpHost& host, double msec, int ttl, std::string_view marker);
// The value handed to the collector: the time rounded to whole ms.
int32_t RoundedMsec(double msec);

}  // namespace qm::polling
