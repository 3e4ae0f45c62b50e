#pragma once
// Settings of the HTTP server: a common block and one record per listening
// address.
#include <cstdint>
#include <string>

#include "core/record_table.h"
#include "core/settings_fields.h"
#include "core/table_settings.h"

namespace qm::http {

struct HttpCommon {
    bool enableService = false;
    uint8_t param = 0;            // stored and echoed only
    uint32_t chunkSize = 1024;    // bytes per receive call of every session
    uint32_t errorTimeout = 2000; // ms of pause after a failed accept
    uint32_t maxConn = 10;        // listen backlog, and connections served at once
    uint32_t timeout = 5000;      // ms a connection may stay silent

    static const core::FieldTable<HttpCommon>& Fields();
};

enum HttpItemParam : uint8_t {
    kResolveNames = 0x80,  // the `log` export names the senders
};

struct HttpServerItem {
    bool enable = false;
    std::string name;             // host name or dotted address to bind
    uint8_t param = kResolveNames;
    uint8_t eventParam = 0x30;    // event types the `log` export lists
    uint32_t port = 81;
    uint32_t msgBufferSize = 50;  // events per `log` answer

    uint16_t Port() const { return static_cast<uint16_t>(port); }
    static const core::FieldTable<HttpServerItem>& Fields();
};

constexpr size_t kHttpNameCapacity = 32;  // UTF-16 units with terminator
// The legacy records as they lay in memory, without the runtime pointer and
// the deletion mark: the common block's two flag bytes, two bytes of padding
// and four 32-bit values; an item's Enable, its 32-unit name, Param,
// EventParam and the two 32-bit values.
constexpr size_t kLegacyHttpCommonSize = 20;
constexpr size_t kLegacyHttpItemSize = 76;

inline const core::TableLayout kHttpLayout{kLegacyHttpCommonSize, kLegacyHttpItemSize, nullptr, nullptr};

}  // namespace qm::http
