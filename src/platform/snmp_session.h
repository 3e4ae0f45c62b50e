#pragma once
// net-snmp's manager side, and the only place the program calls it: one GET
// (SNMP v2c) of a list of OIDs at one agent, in a session of its own opened
// and closed around it, so calls from several threads at once never share
// one. The wait for the answer is cut into short slices and ends as soon as
// the caller says it is stopping, whatever the time-out and retries: a Stop
// never waits out an agent that does not answer.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qm::platform {

// One returned value: `type` is the binding's type byte as SNMP encodes it
// (0x05 NULL until an answer fills it). `bytes` holds an OCTET STRING,
// IpAddress or Opaque exactly as received (not NUL-terminated, may hold
// NULs); `number` every integer type, an INTEGER sign-extended.
struct SnmpValue {
    uint8_t type = 0x05;
    std::string bytes;
    uint64_t number = 0;
};

struct SnmpTarget {
    std::string agent;  // dotted IPv4 or host name, optionally ":port"
    std::string community;
    int32_t timeoutMs = 1000;  // per attempt; below 0 counts as 0
    int32_t retries = 2;       // below 0 counts as 0
};

struct SnmpResponse {
    long errorStatus = 0;
    long errorIndex = 0;
    std::vector<SnmpValue> values;  // in request order, as many as the agent returned
};

enum class SnmpOutcome {
    kAnswered,
    kNoSession,  // the session could not be opened (an address that does not resolve, say)
    kNotSent,    // the request could not be built or sent
    kTimedOut,   // no answer within the time-out and its retries
    kStopped,    // the caller stopped before the answer came
};

struct SnmpResult {
    SnmpOutcome outcome = SnmpOutcome::kNotSent;
    SnmpResponse response;  // only with kAnswered
};

// Readies the library once for the whole process, before its first session,
// without the user's or the system's net-snmp configuration, MIB files or
// persistent state. SnmpGet calls it itself; calling it early is harmless.
void InitSnmpLibrary();

// Asks `stopping` (when given) between slices of at most 100 ms of the wait.
SnmpResult SnmpGet(const SnmpTarget& target, const std::vector<std::vector<uint32_t>>& oids,
                   const std::function<bool()>& stopping = {});

}  // namespace qm::platform
