#pragma once
// Settings of the ICMP poller: a common block and one record per host.
#include <cstdint>
#include <string>

#include "core/settings_fields.h"
#include "core/table_settings.h"

namespace qm::polling {

struct IcmpCommon {
    bool enableService = false;
    uint32_t recvTimeout = 5000;     // ms: the longest wait for a matching reply
    uint32_t sendTimeout = 5000;     // ms
    uint32_t repeatTimeout = 10000;  // ms between polling cycles
    uint32_t packetSize = 32;        // filler bytes behind the echo header
    bool realIp = false;             // the sender is the address the reply came from

    static const core::FieldTable<IcmpCommon>& Fields();
};

struct IcmpHost {
    uint8_t enable = 1;
    std::string name;  // dotted IPv4; also the vendor in the value collector
    uint8_t param = 0x80;
    std::string outFormat = "[msec]";  // with "[msec]" and "[ttl]"
    uint8_t enableMin = 0;
    int32_t minVal = 0;  // ms
    uint8_t enableMax = 0;
    int32_t maxVal = 0;  // ms

    static const core::FieldTable<IcmpHost>& Fields();
};

constexpr uint8_t kIcmpToCollector = 0x80;  // Param: values and gaps to the value collector
constexpr size_t kIcmpNameCapacity = 32;
constexpr size_t kIcmpFormatCapacity = 64;
// The most filler a request carries: with its 20-byte header it fills the
// cycle's 3072-byte packet buffer. A larger size is brought down to this.
constexpr uint32_t kMaxPacketSize = 3052;
constexpr size_t kLegacyIcmpCommonSize = 24;
constexpr size_t kLegacyIcmpHostSize = 212;

inline const core::TableLayout kIcmpLayout{kLegacyIcmpCommonSize, kLegacyIcmpHostSize, "EnableService", nullptr};

}  // namespace qm::polling
