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

    static const core::FieldTable<RelayCommon>& Fields();
};

struct RelayDestination {
    uint8_t enable = 1;
    std::string name;       // the receiver's dotted IPv4 address
    uint8_t eventParam = 0x30;
    uint32_t port = 514;    // its low 16 bits are the port

    uint16_t Port() const { return static_cast<uint16_t>(port); }
    static const core::FieldTable<RelayDestination>& Fields();
};

// The floor of the pause between rounds: 0 would make an idle relay spin.
constexpr uint32_t kMinRepeatTimeoutMs = 10;
constexpr size_t kRelayNameCapacity = 32;
constexpr size_t kLegacyRelayCommonSize = 12;
constexpr size_t kLegacyDestinationSize = 72;

// The common block is taken only when its EnableService reads.
inline const core::TableLayout kRelayLayout{kLegacyRelayCommonSize, kLegacyDestinationSize, "EnableService", nullptr};

}  // namespace qm::transport
