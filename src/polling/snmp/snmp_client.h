#pragma once
// The SNMP manager the poller and the name query talk to: one GET of a list
// of OIDs at one agent, the session opened and closed around it. Behind an
// interface so the poller can be driven without a network; the real one is
// MakeNetSnmpClient. Implementations are safe to call from several threads
// at once, each call with its own session.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/snmp_session.h"

namespace qm::polling::snmp {

// Type bytes of a returned binding, as SNMP encodes them.
inline constexpr uint8_t kTypeInteger = 0x02;
inline constexpr uint8_t kTypeOctetString = 0x04;
inline constexpr uint8_t kTypeNull = 0x05;
inline constexpr uint8_t kTypeOid = 0x06;
inline constexpr uint8_t kTypeIpAddress = 0x40;
inline constexpr uint8_t kTypeCounter32 = 0x41;
inline constexpr uint8_t kTypeGauge32 = 0x42;
inline constexpr uint8_t kTypeTimeTicks = 0x43;
inline constexpr uint8_t kTypeCounter64 = 0x46;
inline constexpr uint8_t kTypeUInteger32 = 0x47;
inline constexpr uint8_t kTypeNoSuchObject = 0x80;

// The values, targets and answers of the platform's SNMP session.
using platform::SnmpResponse;
using platform::SnmpTarget;
using platform::SnmpValue;

// A time-out as used: 0 (an agent made by script, a missing key) would give
// every attempt no time at all; it means the dialog's proposal instead.
inline constexpr int32_t kDefaultTimeoutMs = 1000;
int32_t UsableTimeoutMs(int32_t configured);

class SnmpClient {
public:
    virtual ~SnmpClient() = default;
    // Nothing when the session cannot be opened, an OID does not convert,
    // the request fails (time-out included) or `stopping` said yes between
    // two slices of the wait.
    virtual std::optional<SnmpResponse> Get(const SnmpTarget& target, const std::vector<std::string>& oids,
                                            const std::function<bool()>& stopping = {}) = 0;
};

// An OID in dotted text, the leading dot optional: at least two
// sub-identifiers, each below 2^32, at most 128 of them. Nothing otherwise.
std::optional<std::vector<uint32_t>> ParseOid(std::string_view text);

// The address part of "address[:port]".
std::string_view AgentAddress(std::string_view agent);

// SNMP v2c through the platform's session (net-snmp).
std::unique_ptr<SnmpClient> MakeNetSnmpClient();

}  // namespace qm::polling::snmp
