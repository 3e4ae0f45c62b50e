#pragma once
// The Modbus TCP frames of a read: the 12-byte request, whether the bytes
// gathered so far hold one whole response, and what an accepted response
// says. Pure; every byte is read within the bytes given.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "polling/modbus/modbus_settings.h"

namespace qm::polling::modbus {

constexpr size_t kRequestSize = 12;
// Transaction, protocol and length: what every frame starts with.
constexpr size_t kFrameHeaderSize = 6;

// Transaction `transaction`, protocol 0, length 6, then the entry's unit,
// function, register and count, big-endian.
std::array<uint8_t, kRequestSize> ReadRequest(uint16_t transaction, const RegisterEntry& entry);

enum class FrameState {
    kIncomplete,  // fewer bytes than the header or its length announce: more are on the way
    kWhole,       // exactly one response
    kOverlong,    // more than the response announces
};
FrameState ResponseFrame(std::string_view bytes);

// The raw reading of an accepted response: the first register (16 bits) or
// the two first registers (32 bits, the first the high half), or for coils
// and discrete inputs the states with the first at bit 0. Nothing for a
// count that gives no value.
struct RawValue {
    uint32_t bits = 0;
    uint8_t width = 16;  // 16 or 32: where a signed reading takes its sign
};

struct Response {
    bool accepted = false;
    const char* rejected = "";  // why not, for the log
    std::optional<RawValue> value;
};

// Checks one whole response to the request for `entry`: its length field,
// an exception, the function, and a byte count that holds the data the
// reading needs and lies within the bytes received.
Response ReadResponse(std::string_view bytes, const RegisterEntry& entry);

}  // namespace qm::polling::modbus
