#include "polling/modbus/modbus_frame.h"

namespace qm::polling::modbus {

namespace {
constexpr size_t kFunctionOffset = 7;
constexpr size_t kByteCountOffset = 8;
constexpr size_t kDataOffset = 9;
constexpr uint8_t kExceptionBit = 0x80;

uint8_t Byte(std::string_view bytes, size_t at) { return static_cast<uint8_t>(bytes[at]); }
uint16_t Word(std::string_view bytes, size_t at) {
    return static_cast<uint16_t>((Byte(bytes, at) << 8) | Byte(bytes, at + 1));
}
bool IsBitFunction(uint8_t function) { return function == kReadCoils || function == kReadDiscreteInputs; }
}  // namespace

std::array<uint8_t, kRequestSize> ReadRequest(uint16_t transaction, const RegisterEntry& entry) {
    const auto hi = [](uint16_t v) { return static_cast<uint8_t>(v >> 8); };
    const auto lo = [](uint16_t v) { return static_cast<uint8_t>(v & 0xFF); };
    return {hi(transaction), lo(transaction), 0, 0, 0, 6, entry.unit, entry.func,
            hi(entry.reg),   lo(entry.reg),   hi(entry.regCount), lo(entry.regCount)};
}

FrameState ResponseFrame(std::string_view bytes) {
    if (bytes.size() < kFrameHeaderSize) return FrameState::kIncomplete;
    const size_t whole = kFrameHeaderSize + Word(bytes, 4);
    if (bytes.size() < whole) return FrameState::kIncomplete;
    return bytes.size() == whole ? FrameState::kWhole : FrameState::kOverlong;
}

Response ReadResponse(std::string_view bytes, const RegisterEntry& entry) {
    Response out;
    // An exception response, the shortest there is, has its code where a
    // byte count would be: anything shorter cannot be read.
    if (bytes.size() <= kByteCountOffset) {
        out.rejected = "short response";
        return out;
    }
    if (Word(bytes, 4) != bytes.size() - kFrameHeaderSize) {
        out.rejected = "length field does not match";
        return out;
    }
    const uint8_t function = Byte(bytes, kFunctionOffset);
    if (function & kExceptionBit) {
        out.rejected = "exception response";
        return out;
    }
    if (function < kReadCoils || function > kReadInputRegisters) {
        out.rejected = "unknown function";
        return out;
    }
    const size_t count = Byte(bytes, kByteCountOffset);
    if (kDataOffset + count > bytes.size()) {
        out.rejected = "byte count beyond the response";
        return out;
    }
    const std::string_view data = bytes.substr(kDataOffset, count);
    if (entry.regCount == 1 || entry.regCount == 2) {
        const uint8_t width = entry.regCount == 1 ? 16 : 32;
        if (IsBitFunction(function)) {
            // One bit a state, packed from bit 0 of the first byte; a reply
            // for few states is shorter than the bytes looked at, and what it
            // leaves out is off.
            uint32_t bits = 0;
            for (size_t i = 0; i < data.size() && i < 4; ++i) bits |= uint32_t{Byte(data, i)} << (8 * i);
            out.value = RawValue{bits & ((1u << entry.regCount) - 1), width};
        } else {
            if (data.size() < size_t{2} * entry.regCount) {
                out.rejected = "byte count short of the registers asked for";
                return out;
            }
            const uint32_t bits = entry.regCount == 1 ? Word(data, 0) : (uint32_t{Word(data, 0)} << 16) | Word(data, 2);
            out.value = RawValue{bits, width};
        }
    }
    out.accepted = true;
    return out;
}

}  // namespace qm::polling::modbus
