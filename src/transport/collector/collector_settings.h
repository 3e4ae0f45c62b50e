#pragma once
// Settings of the syslog collector: a common block and one record per listener.
#include <cstdint>
#include <string>

#include "core/config.h"
#include "core/record_table.h"
#include "core/settings_fields.h"
#include "core/table_module.h"

namespace qm::transport {

struct CollectorCommon {
    bool enableService = true;
    uint8_t param = 0;            // stored and echoed only
    uint32_t bufferSize = 1024;   // bytes per datagram
    uint32_t errorTimeout = 10000;  // ms of pause after a receive error

    static const core::FieldTable<CollectorCommon>& Fields();
};

// How a listener receives: datagrams, or streams of frames (RFC 6587)
// over TCP, plain or inside TLS (RFC 5425).
enum ListenerProto : uint8_t { kProtoUdp = 0, kProtoTcp = 1, kProtoTls = 2 };

enum ListenerParam : uint8_t {
    kPacketFilter = 0x80,  // only datagrams that begin with '<'
    kServerCheck = 0x40,   // probe a peer server with "$$$HI"
};

struct ListenerRecord {
    bool enable = false;
    std::string name;     // local IPv4 address to bind
    uint8_t param = 0;
    uint32_t port = 0;    // a 16-bit port, kept in four bytes as stored
    uint32_t sendTimeout = 0;
    uint32_t recvTimeout = 0;
    std::string server;   // peer for the server check
    uint8_t proto = kProtoUdp;
    // TLS: PEM files, absolute or inside the home. With a CA file, clients
    // must show a certificate it signed.
    std::string certFile{};
    std::string keyFile{};
    std::string caFile{};
    // TCP and TLS: a connection silent this long (ms) is closed, so dead
    // peers do not hold connection slots; 0 keeps it open.
    uint32_t idleTimeout = 600000;

    uint16_t Port() const { return static_cast<uint16_t>(port); }
    static const core::FieldTable<ListenerRecord>& Fields();
};

constexpr size_t kNameCapacity = 32;  // UTF-16 units with terminator
constexpr size_t kFileCapacity = 260;
// No UDP datagram over IPv4 is longer; a larger receive buffer would only
// hold memory (a few GiB at the top of the field's range).
constexpr uint32_t kMaxDatagramBytes = 65535;
// The longest frame a TCP or TLS listener always takes, whatever BufferSize
// says: RFC 5425 asks receivers for 8192 octets, and stream senders such as
// rsyslog send lines of that length.
constexpr uint32_t kMinStreamFrameBytes = 8192;
constexpr size_t kLegacyCommonSize = 12;
constexpr size_t kLegacyListenerSize = 144;

using CollectorSettings = core::TableSettings<CollectorCommon, ListenerRecord>;
// The common block is taken only when its EnableService reads; a listener
// record only when its Enable reads.
inline const core::TableLayout kCollectorLayout{kLegacyCommonSize, kLegacyListenerSize, "EnableService", "Enable"};

void LoadCollectorSettings(const core::SettingsSection& section, CollectorSettings& out);

}  // namespace qm::transport
