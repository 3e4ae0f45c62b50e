#include "polling/snmp/snmp_poll.h"

#include <algorithm>

#include "polling/poll_output.h"
#include "script/expression_evaluator.h"

namespace qm::polling::snmp {

PollResult PollAgent(SnmpClient& client, const SnmpTarget& target, const std::vector<OidEntry>& entries,
                     std::string_view outFormat, std::string_view marker, const ValueSink& sink,
                     const std::function<bool()>& stopping) {
    if (entries.empty()) return {kPollWarning, {}};
    const auto gap = [&] {
        if (sink) sink(std::nullopt, std::nullopt);
    };

    std::vector<std::string> oids;
    oids.reserve(entries.size());
    for (const OidEntry& e : entries) oids.push_back(e.value);
    const std::optional<SnmpResponse> response = client.Get(target, oids, stopping);
    if (!response) {
        gap();
        return {kPollFailed, {}};
    }

    PollResult out{kPollNormal, std::string(outFormat)};
    const auto placeholder = [](const OidEntry& e) { return Placeholder(e.tag); };
    if (response->errorStatus != 0) {
        gap();
        for (const OidEntry& e : entries) ReplaceAll(out.text, placeholder(e), marker);
        out.code = kPollWarning;
    } else {
        // An agent may return fewer bindings than asked for (or more).
        const size_t n = std::min(entries.size(), response->values.size());
        for (size_t i = 0; i < n; ++i) {
            const OidEntry& e = entries[i];
            const ValueText v = MakeValueText(response->values[i], e, marker);
            if (v.breach) out.code = kPollWarning;
            if (v.reading && sink) sink(e.tag, v.reading);
            ReplaceAll(out.text, placeholder(e), v.text ? std::string_view(*v.text) : marker);
        }
    }
    out.text = script::Expand(out.text);
    return out;
}

}  // namespace qm::polling::snmp
