#pragma once
// The SNMP manager the poller and the name query talk to: one GET of a list
// of OIDs at one agent, the session opened and closed around it. Behind an
// interface so the poller can be driven without a network; the real one is
// MakeNetSnmpClient. Implementations are safe to call from several threads
// at once, each call with its own session.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// One returned value. `bytes` holds an OCTET STRING or IpAddress exactly as
// received (not NUL-terminated, may hold NULs); `number` every integer type,
// an INTEGER sign-extended.
struct SnmpValue {
    uint8_t type = kTypeNull;
    std::string bytes;
    uint64_t number = 0;
};

struct SnmpTarget {
    std::string agent;      // dotted IPv4 or host name, optionally ":port"
    std::string community;
    int32_t timeoutMs = 1000;
    int32_t retries = 2;
};

struct SnmpResponse {
    long errorStatus = 0;
    long errorIndex = 0;
    std::vector<SnmpValue> values;  // in request order, as many as the agent returned
};

class SnmpClient {
public:
    virtual ~SnmpClient() = default;
    // Nothing when the session cannot be opened, an OID does not convert,
    // or the request fails (time-out included).
    virtual std::optional<SnmpResponse> Get(const SnmpTarget& target, const std::vector<std::string>& oids) = 0;
};

// An OID in dotted text, the leading dot optional: at least two
// sub-identifiers, each below 2^32, at most 128 of them. Nothing otherwise.
std::optional<std::vector<uint32_t>> ParseOid(std::string_view text);

// The address part of "address[:port]".
std::string_view AgentAddress(std::string_view agent);

// Readies the library once for the whole process, without the user's or the
// system's net-snmp configuration, MIB files or persistent state; called at
// start-up, and again harmlessly by MakeNetSnmpClient.
void InitSnmpLibrary();

// SNMP v2c through net-snmp's single-session API.
std::unique_ptr<SnmpClient> MakeNetSnmpClient();

}  // namespace qm::polling::snmp
