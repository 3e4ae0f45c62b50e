#pragma once
// Settings of the relay: a common block and one record per destination.
#include <cstdint>
#include <string>

#include "core/config.h"
#include "core/record_table.h"
#include "core/settings_fields.h"
#include "core/table_settings.h"

namespace qm::transport {

struct RelayCommon {
    bool enableService = false;
    uint32_t sendTimeout = 5000;     // ms
    uint32_t repeatTimeout = 10000;  // ms between forwarding rounds
    // What the disk backlog of each TCP or TLS destination may hold, in MiB.
    uint32_t backlogSize = 64;

    static const core::FieldTable<RelayCommon>& Fields();
};

// How a destination is reached: a datagram per line, or a stream of
// octet-counted frames (RFC 6587), in the clear or in TLS (RFC 5425).
enum RelayProtocol : uint8_t { kRelayUdp = 0, kRelayTcp = 1, kRelayTls = 2 };

struct RelayDestination {
    uint8_t enable = 1;
    std::string name;       // the receiver's IPv4 or IPv6 address
    uint8_t eventParam = 0x30;
    uint32_t port = 514;    // its low 16 bits are the port
    uint8_t proto = kRelayUdp;
    // TLS: the CA certificates that vouch for the receiver (PEM); a path
    // inside the home or an absolute one. Empty: the system's store.
    std::string caFile;

    uint16_t Port() const { return static_cast<uint16_t>(port); }
    static const core::FieldTable<RelayDestination>& Fields();
};

// The floor of the pause between rounds: 0 would make an idle relay spin.
constexpr uint32_t kMinRepeatTimeoutMs = 10;
constexpr size_t kRelayNameCapacity = 32;
constexpr size_t kRelayPathCapacity = 260;
constexpr uint32_t kMaxBacklogMiB = 4096;
constexpr size_t kLegacyRelayCommonSize = 12;
constexpr size_t kLegacyDestinationSize = 72;

// The common block is taken only when its EnableService reads.
inline const core::TableLayout kRelayLayout{kLegacyRelayCommonSize, kLegacyDestinationSize, "EnableService", nullptr};

}  // namespace qm::transport
