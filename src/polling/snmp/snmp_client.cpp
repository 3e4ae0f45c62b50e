#include "polling/snmp/snmp_client.h"

namespace qm::polling::snmp {

namespace {

class NetSnmpClient : public SnmpClient {
public:
    std::optional<SnmpResponse> Get(const SnmpTarget& target, const std::vector<std::string>& oids,
                                    const std::function<bool()>& stopping) override {
        std::vector<std::vector<uint32_t>> names;
        names.reserve(oids.size());
        for (const std::string& text : oids) {
            std::optional<std::vector<uint32_t>> parsed = ParseOid(text);
            if (!parsed) return std::nullopt;
            names.push_back(std::move(*parsed));
        }
        platform::SnmpResult result = platform::SnmpGet(target, names, stopping);
        if (result.outcome != platform::SnmpOutcome::kAnswered) return std::nullopt;
        return std::move(result.response);
    }
};

}  // namespace

int32_t UsableTimeoutMs(int32_t configured) { return configured > 0 ? configured : kDefaultTimeoutMs; }

std::unique_ptr<SnmpClient> MakeNetSnmpClient() { return std::make_unique<NetSnmpClient>(); }

}  // namespace qm::polling::snmp
