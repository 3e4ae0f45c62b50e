#pragma once
// One poll of one agent: a single GET for every OID of its list, each value
// turned into text and checked against its limits, the texts put into the
// list's output format and its brace expressions worked out.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "polling/snmp/snmp_client.h"
#include "polling/snmp/snmp_settings.h"
#include "core/value_collector.h"

namespace qm::polling::snmp {

// Presentation codes of an entry, tested in this order; the first set wins.
inline constexpr uint8_t kCorrectDiv10 = 64;
inline constexpr uint8_t kCorrectDiv100 = 32;
inline constexpr uint8_t kCorrectDiv1000 = 16;
inline constexpr uint8_t kCorrectHex = 8;
inline constexpr uint8_t kCorrectToInt = 4;

struct ValueText {
    std::optional<std::string> text;  // nothing: the placeholder gets the breach marker
    bool breach = false;              // the marker is already appended to `text`
    std::optional<core::Reading> reading;  // what the collector gets
};

// `marker` is the breach marker (" (!)") appended on a breach.
ValueText MakeValueText(const SnmpValue& value, const OidEntry& entry, std::string_view marker);

// Poll results.
inline constexpr int kPollNormal = 0;
inline constexpr int kPollFailed = 1;
inline constexpr int kPollWarning = 2;

struct PollResult {
    int code = kPollWarning;
    std::string text;
};

// Receives the agent's readings (a tag and a value) and gaps (neither).
using ValueSink = std::function<void(std::optional<std::string_view> tag, std::optional<core::Reading> value)>;

// `sink` may be empty: the agent does not hand its values on. `stopping`
// (when given) ends the wait for the agent early, as a failed request.
PollResult PollAgent(SnmpClient& client, const SnmpTarget& target, const std::vector<OidEntry>& entries,
                     std::string_view outFormat, std::string_view marker, const ValueSink& sink,
                     const std::function<bool()>& stopping = {});

}  // namespace qm::polling::snmp
