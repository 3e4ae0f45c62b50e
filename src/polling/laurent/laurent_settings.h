#pragma once
// Records of the Laurent poller: the common block (time-outs of the board
// connections), the board items and the entries of the command lists, with
// their settings keys.
#include <cstdint>
#include <string>

#include "core/settings_fields.h"
#include "polling/poller_settings.h"

namespace qm::polling::laurent {

// Capacities in UTF-16 units, terminator included.
constexpr size_t kBoardNameCapacity = 32;
constexpr size_t kPasswordCapacity = 32;
constexpr size_t kCommandCapacity = 64;
constexpr size_t kTagCapacity = 16;

// The port the boards listen on unless set otherwise.
constexpr uint16_t kDefaultBoardPort = 2424;

struct LaurentCommon {
    uint8_t enableService = 0;
    uint32_t recvTimeout = 5000;     // ms, each reply
    uint32_t sendTimeout = 5000;     // ms, each line
    uint32_t connectTimeout = 5000;  // ms, each connection attempt
    uint32_t repeatTimeout = 10000;  // ms between cycles
    static const core::FieldTable<LaurentCommon>& Fields();
};

struct LaurentBoard {
    uint8_t enable = 1;
    std::string name;  // `StrName`: the board's dotted IPv4 address
    uint8_t param = kParamToCollector;
    uint64_t cmdListId = 0;
    uint32_t port = kDefaultBoardPort;  // the low 16 bits are the port
    // `StrPass`: the board's own password. New boards start without one:
    // whoever adds a board types the password that board was given.
    std::string password;
    static const core::FieldTable<LaurentBoard>& Fields();
};

struct LaurentCommand {
    std::string value = "$KE,TMP";  // `StrValue`: the command line sent
    std::string tag = "temp";       // `StrTag`
    uint8_t enableMin = 0;
    int32_t minVal = 0;
    uint8_t enableMax = 0;
    int32_t maxVal = 0;
    static const core::FieldTable<LaurentCommand>& Fields();
};

using CommandList = PollList<LaurentCommand>;

}  // namespace qm::polling::laurent
