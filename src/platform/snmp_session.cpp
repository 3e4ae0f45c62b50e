#include "platform/snmp_session.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/library/large_fd_set.h>

#include <sys/time.h>

#include <cerrno>
#include <memory>
#include <mutex>

namespace qm::platform {

namespace {

// How long one wait lasts at most before the caller is asked again.
constexpr long kSliceUs = 100 * 1000;

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

// The one request of a session, as its callback leaves it. It must outlive
// the session: closing a session with the request still out calls the
// callback once more.
struct Exchange {
    bool done = false;
    bool answered = false;
    SnmpResponse response;
};

int OnAnswer(int operation, netsnmp_session*, int, netsnmp_pdu* pdu, void* magic) {
    Exchange& x = *static_cast<Exchange*>(magic);
    // A retry going out is news, not the end of the request.
    if (x.done || operation == NETSNMP_CALLBACK_OP_RESEND || operation == NETSNMP_CALLBACK_OP_CONNECT) return 1;
    x.done = true;
    if (operation != NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE || pdu == nullptr) return 1;
    x.answered = true;
    x.response.errorStatus = pdu->errstat;
    x.response.errorIndex = pdu->errindex;
    for (netsnmp_variable_list* v = pdu->variables; v; v = v->next_variable) x.response.values.push_back(ValueOf(*v));
    return 1;
}

// One wait of at most a slice for the session's socket, then whatever is
// due: the answer read, or a resend or the end of the request once its time
// has passed. False when the wait itself failed.
bool WaitOnce(void* session) {
    netsnmp_large_fd_set readers;
    netsnmp_large_fd_set_init(&readers, FD_SETSIZE);
    int fds = 0;
    int block = 1;
    timeval due{};
    snmp_sess_select_info2(session, &fds, &readers, &due, &block);
    timeval wait{0, kSliceUs};
    if (!block && timercmp(&due, &wait, <)) wait = due;
    const int ready = netsnmp_large_fd_set_select(fds, &readers, nullptr, nullptr, &wait);
    bool ok = true;
    if (ready > 0) {
        snmp_sess_read2(session, &readers);
    } else if (ready == 0) {
        // Only requests whose time has come are resent or ended.
        snmp_sess_timeout(session);
    } else {
        ok = errno == EINTR;
    }
    netsnmp_large_fd_set_cleanup(&readers);
    return ok;
}

}  // namespace

void InitSnmpLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        // No init_snmp: OIDs are numbers and a session is plain v2c, so the
        // MIB tree, the security modules and the configuration files are not
        // needed. Leaving them out keeps about 3 MB of tables out of every
        // process, and nothing reads MIBS or MIBDIRS from the environment
        // behind other threads' backs.
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
        // The library starts itself in its first snmp_sess_init, and marks
        // itself started before it has registered its transports: a second
        // thread coming in meanwhile goes on to open a session with no UDP
        // transport and fails. Here, under the once flag, nobody can.
        netsnmp_session warmUp;
        snmp_sess_init(&warmUp);
    });
}

SnmpResult SnmpGet(const SnmpTarget& target, const std::vector<std::vector<uint32_t>>& oids,
                   const std::function<bool()>& stopping) {
    InitSnmpLibrary();
    SnmpResult result;
    std::unique_ptr<netsnmp_pdu, PduFreer> pdu(snmp_pdu_create(SNMP_MSG_GET));
    if (!pdu) return result;
    for (const std::vector<uint32_t>& parts : oids) {
        if (parts.empty() || parts.size() > MAX_OID_LEN) return result;
        oid name[MAX_OID_LEN];
        for (size_t i = 0; i < parts.size(); ++i) name[i] = parts[i];
        if (!snmp_add_null_var(pdu.get(), name, parts.size())) return result;
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
    Exchange exchange;  // outlives the session (see Exchange)
    std::unique_ptr<void, SessionCloser> session(snmp_sess_open(&settings));
    if (!session) {
        result.outcome = SnmpOutcome::kNoSession;
        return result;
    }

    // The session takes the PDU once it is sent; a failed send leaves it ours.
    if (snmp_sess_async_send(session.get(), pdu.get(), OnAnswer, &exchange) == 0) return result;
    pdu.release();
    while (!exchange.done) {
        if (stopping && stopping()) {
            result.outcome = SnmpOutcome::kStopped;
            return result;
        }
        if (!WaitOnce(session.get())) return result;
    }
    if (!exchange.answered) {
        result.outcome = SnmpOutcome::kTimedOut;
        return result;
    }
    result.outcome = SnmpOutcome::kAnswered;
    result.response = std::move(exchange.response);
    return result;
}

}  // namespace qm::platform
