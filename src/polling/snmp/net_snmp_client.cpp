#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstdlib>
#include <mutex>

#include "polling/snmp/snmp_client.h"

namespace qm::polling::snmp {

namespace {

SnmpValue ValueOf(const netsnmp_variable_list& v) {
    SnmpValue out;
    out.type = v.type;
    switch (v.type) {
        case ASN_INTEGER:
            out.number = static_cast<uint64_t>(static_cast<int64_t>(*v.val.integer));
            break;
        case ASN_COUNTER:
        case ASN_GAUGE:
        case ASN_TIMETICKS:
        case ASN_UINTEGER:
            out.number = static_cast<uint32_t>(*v.val.integer);
            break;
        case ASN_COUNTER64:
            out.number = (static_cast<uint64_t>(v.val.counter64->high) << 32) | (v.val.counter64->low & 0xFFFFFFFFu);
            break;
        case ASN_OCTET_STR:
        case ASN_IPADDRESS:
        case ASN_OPAQUE:
            if (v.val.string && v.val_len) out.bytes.assign(reinterpret_cast<const char*>(v.val.string), v.val_len);
            break;
        default:
            break;
    }
    return out;
}

struct SessionCloser {
    void operator()(void* s) const { snmp_sess_close(s); }
};
struct PduFreer {
    void operator()(netsnmp_pdu* p) const { snmp_free_pdu(p); }
};

class NetSnmpClient : public SnmpClient {
public:
    std::optional<SnmpResponse> Get(const SnmpTarget& target, const std::vector<std::string>& oids) override {
        std::unique_ptr<netsnmp_pdu, PduFreer> pdu(snmp_pdu_create(SNMP_MSG_GET));
        if (!pdu) return std::nullopt;
        for (const std::string& text : oids) {
            const auto parsed = ParseOid(text);
            if (!parsed) return std::nullopt;
            oid name[MAX_OID_LEN];
            for (size_t i = 0; i < parsed->size(); ++i) name[i] = (*parsed)[i];
            if (!snmp_add_null_var(pdu.get(), name, parsed->size())) return std::nullopt;
        }

        netsnmp_session settings;
        snmp_sess_init(&settings);
        settings.version = SNMP_VERSION_2c;
        std::string peer = target.agent;
        std::string community = target.community;
        settings.peername = peer.data();
        settings.community = reinterpret_cast<u_char*>(community.data());
        settings.community_len = community.size();
        settings.timeout = static_cast<long>(target.timeoutMs < 0 ? 0 : target.timeoutMs) * 1000L;
        settings.retries = target.retries < 0 ? 0 : target.retries;
        std::unique_ptr<void, SessionCloser> session(snmp_sess_open(&settings));
        if (!session) return std::nullopt;

        netsnmp_pdu* raw = nullptr;
        // The request takes the PDU whatever the outcome.
        const int status = snmp_sess_synch_response(session.get(), pdu.release(), &raw);
        std::unique_ptr<netsnmp_pdu, PduFreer> response(raw);
        if (status != STAT_SUCCESS || !response) return std::nullopt;

        SnmpResponse out;
        out.errorStatus = response->errstat;
        out.errorIndex = response->errindex;
        for (netsnmp_variable_list* v = response->variables; v; v = v->next_variable) out.values.push_back(ValueOf(*v));
        return out;
    }
};

}  // namespace

void InitSnmpLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        // No init_snmp: OIDs are numbers and a session is plain v2c, so the
        // MIB tree, the transports' and security modules' start-up and the
        // configuration files are not needed. Leaving them out keeps about
        // 3 MB of tables out of every process, and nothing reads MIBS or
        // MIBDIRS from the environment behind other threads' backs.
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    });
}

std::unique_ptr<SnmpClient> MakeNetSnmpClient() {
    InitSnmpLibrary();
    return std::make_unique<NetSnmpClient>();
}

}  // namespace qm::polling::snmp
