#pragma once
// Records of the ModbusTCP poller: the common block (the network time-out and
// the pause between cycles), the node items and the entries of the register
// lists, with their settings keys.
#include <cstdint>
#include <string>

#include "core/settings_fields.h"
#include "polling/poller_settings.h"

namespace qm::polling::modbus {

// Capacities in UTF-16 units, terminator included.
constexpr size_t kNodeNameCapacity = 32;
constexpr size_t kTagCapacity = 16;

// The port Modbus TCP servers listen on unless set otherwise.
constexpr uint16_t kDefaultModbusPort = 502;

// `Correct`: the divisor a reading is shown with; any other value, none.
enum ModbusCorrect : uint8_t {
    kCorrectTenth = 64,        // "0.0 /10"
    kCorrectHundredth = 32,    // "0.0 /100"
    kCorrectThousandth = 16,   // "0.0 /1000"
    kCorrectNone = 128,        // what the dialog stores for none
};

// `Type`: how the raw register value is read.
enum ModbusType : uint8_t {
    kTypeSigned = 128,
    kTypeUnsigned = 64,
    kTypeFloat = 32,
    kTypeString = 16,  // no value
};

// `Func`: the read functions a request may carry.
enum ModbusFunction : uint8_t {
    kReadCoils = 1,             // "DO (0x01)"
    kReadDiscreteInputs = 2,    // "DI (0x02)"
    kReadHoldingRegisters = 3,  // "AI (0x03)"
    kReadInputRegisters = 4,    // "AO (0x04)"
};

// Only these are ever sent: the other codes (5, 6, 15, 16 among them) write
// to the device.
constexpr bool IsReadFunction(uint8_t func) { return func >= kReadCoils && func <= kReadInputRegisters; }

struct ModbusCommon {
    uint8_t enableService = 0;
    uint32_t timeout = 5000;         // ms: the longest wait for a connection's next network event; 0 means 5000
    uint32_t repeatTimeout = 10000;  // ms between cycles
    static const core::FieldTable<ModbusCommon>& Fields();
};

struct ModbusNode {
    uint8_t enable = 1;
    std::string name;  // `StrName`: dotted IPv4 or host name; also the collector's vendor
    uint8_t param = kParamToCollector;
    int32_t timeout = 1000;  // kept for the settings; polling uses the common time-out
    int32_t retries = 0;     // kept for the settings; polling makes no retries
    uint64_t regListId = 0;  // `RegListID`
    uint32_t port = kDefaultModbusPort;  // the low 16 bits are the port
    static const core::FieldTable<ModbusNode>& Fields();
};

struct RegisterEntry {
    std::string tag = "reg";  // `StrTag`
    uint8_t enableMin = 0;
    int32_t minVal = 0;
    uint8_t enableMax = 0;
    int32_t maxVal = 0;
    uint8_t correct = kCorrectNone;
    uint8_t type = kTypeSigned;
    uint8_t unit = 1;
    uint8_t func = kReadHoldingRegisters;
    uint16_t reg = 0;       // starting address as sent
    uint16_t regCount = 1;  // registers (or coils) asked for
    static const core::FieldTable<RegisterEntry>& Fields();
};

using RegisterList = PollList<RegisterEntry>;
using ModbusSettings = PollerSettings<ModbusCommon, ModbusNode, RegisterEntry>;

}  // namespace qm::polling::modbus
