// The ModbusTCP poller's frames and readings without a network: the request
// bytes, which responses are taken, and what a reading shows.
#include <gtest/gtest.h>

#include "polling/modbus/modbus_frame.h"
#include "polling/modbus/modbus_value.h"
#include "polling/modbus_peer.h"

namespace qm::polling::modbus {
namespace {

using qm::testing::ModbusFrame;

RegisterEntry Entry(uint8_t func, uint16_t reg, uint16_t count, uint8_t type = kTypeSigned,
                    uint8_t correct = kCorrectNone) {
    RegisterEntry e;
    e.func = func;
    e.reg = reg;
    e.regCount = count;
    e.type = type;
    e.correct = correct;
    e.unit = 17;
    return e;
}

std::string Bytes(std::initializer_list<int> b) {
    std::string s;
    for (int v : b) s += static_cast<char>(v);
    return s;
}

TEST(ModbusFrame, RequestCarriesTransactionUnitFunctionRegisterAndCount) {
    const auto request = ReadRequest(0x0102, Entry(kReadInputRegisters, 0, 2));
    const std::array<uint8_t, 12> expected{0x01, 0x02, 0, 0, 0, 6, 17, 4, 0, 0, 0, 2};
    EXPECT_EQ(request, expected);  // register 0 is a register like any other
    EXPECT_EQ(ReadRequest(7, Entry(kReadCoils, 0xABCD, 1))[8], 0xAB);
    EXPECT_EQ(ReadRequest(7, Entry(kReadCoils, 0xABCD, 1))[9], 0xCD);
}

TEST(ModbusFrame, AWholeResponseIsWhatItsLengthFieldSays) {
    const std::string whole = ModbusFrame(1, 17, 3, Bytes({2, 0x12, 0x34}));
    EXPECT_EQ(ResponseFrame(whole), FrameState::kWhole);
    EXPECT_EQ(ResponseFrame(whole.substr(0, 5)), FrameState::kIncomplete);
    EXPECT_EQ(ResponseFrame(whole.substr(0, whole.size() - 1)), FrameState::kIncomplete);
    EXPECT_EQ(ResponseFrame(whole + "x"), FrameState::kOverlong);
}

TEST(ModbusFrame, ResponsesAreCheckedWithinTheirBytes) {
    const RegisterEntry one = Entry(kReadHoldingRegisters, 0, 1);
    const RegisterEntry two = Entry(kReadHoldingRegisters, 0, 2);
    // Taken: the first register, and two registers as one 32-bit value.
    Response r = ReadResponse(ModbusFrame(1, 17, 3, Bytes({2, 0xFF, 0xFE})), one);
    ASSERT_TRUE(r.accepted && r.value);
    EXPECT_EQ(r.value->bits, 0xFFFEu);
    EXPECT_EQ(r.value->width, 16);
    r = ReadResponse(ModbusFrame(1, 17, 4, Bytes({4, 0, 1, 0, 2})), two);
    ASSERT_TRUE(r.accepted && r.value);
    EXPECT_EQ(r.value->bits, 0x00010002u);

    // A byte count short of the registers asked for reads nothing beyond the
    // response: it is refused, whatever bytes follow in memory.
    EXPECT_FALSE(ReadResponse(ModbusFrame(1, 17, 3, Bytes({1, 0x12})), one).accepted);
    EXPECT_FALSE(ReadResponse(ModbusFrame(1, 17, 3, Bytes({2, 0, 1})), two).accepted);
    EXPECT_FALSE(ReadResponse(ModbusFrame(1, 17, 3, Bytes({0})), one).accepted);
    // A byte count that promises more than came.
    EXPECT_FALSE(ReadResponse(ModbusFrame(1, 17, 3, Bytes({4, 0x12, 0x34})), one).accepted);
    // Exceptions, unknown functions, a wrong length field, a header alone.
    EXPECT_FALSE(ReadResponse(ModbusFrame(1, 17, 0x83, Bytes({2})), one).accepted);
    EXPECT_FALSE(ReadResponse(ModbusFrame(1, 17, 5, Bytes({2, 0, 1})), one).accepted);
    std::string wrongLength = ModbusFrame(1, 17, 3, Bytes({2, 0, 1}));
    wrongLength[5] = 9;
    EXPECT_FALSE(ReadResponse(wrongLength, one).accepted);
    EXPECT_FALSE(ReadResponse(Bytes({0, 1, 0, 0, 0, 2, 17, 3}), one).accepted);
    // Three registers give no value, but the response is good.
    r = ReadResponse(ModbusFrame(1, 17, 3, Bytes({6, 0, 1, 0, 2, 0, 3})), Entry(kReadHoldingRegisters, 0, 3));
    EXPECT_TRUE(r.accepted);
    EXPECT_FALSE(r.value);
}

TEST(ModbusFrame, CoilsReadFromTheirFirstBitAndAShortReplyMeansOff) {
    Response r = ReadResponse(ModbusFrame(1, 17, 1, Bytes({1, 0x01})), Entry(kReadCoils, 0, 1));
    ASSERT_TRUE(r.accepted && r.value);
    EXPECT_EQ(r.value->bits, 1u);
    // Two inputs: the second at bit 1; the padding bits of the byte are not states.
    r = ReadResponse(ModbusFrame(1, 17, 2, Bytes({1, 0xFE})), Entry(kReadDiscreteInputs, 0, 2));
    ASSERT_TRUE(r.accepted && r.value);
    EXPECT_EQ(r.value->bits, 2u);
    r = ReadResponse(ModbusFrame(1, 17, 1, Bytes({0})), Entry(kReadCoils, 0, 2));
    ASSERT_TRUE(r.accepted && r.value);
    EXPECT_EQ(r.value->bits, 0u);
}

TEST(ModbusValue, RepresentationsCorrectionsAndLimits) {
    const auto convert = [](const RegisterEntry& e, uint32_t bits, uint8_t width) {
        return ConvertValue(e, RawValue{bits, width}, " (!)");
    };
    EntryValue v = convert(Entry(3, 0, 1, kTypeSigned), 0xFFFE, 16);
    EXPECT_EQ(v.text, "-2");
    EXPECT_EQ(v.reading, Reading::I64(-2));
    EXPECT_FALSE(v.warning);
    v = convert(Entry(3, 0, 1, kTypeUnsigned), 0xFFFE, 16);
    EXPECT_EQ(v.text, "65534");
    EXPECT_EQ(v.reading, Reading::U64(65534));
    v = convert(Entry(3, 0, 1, kTypeFloat), 0xFFFE, 16);
    EXPECT_EQ(v.text, "-2.00");
    EXPECT_EQ(v.reading, Reading::I64(-2));
    v = convert(Entry(3, 0, 2, kTypeUnsigned), 0x00010002, 32);
    EXPECT_EQ(v.text, "65538");
    v = convert(Entry(3, 0, 2, kTypeSigned), 0xFFFFFFFF, 32);
    EXPECT_EQ(v.text, "-1");

    // Corrections show the division, the limits and the collector get the
    // whole part.
    RegisterEntry tenth = Entry(3, 0, 1, kTypeSigned, kCorrectTenth);
    tenth.enableMax = 1;
    tenth.maxVal = 123;
    v = convert(tenth, 1234, 16);
    EXPECT_EQ(v.text, "123.4 (!)");
    EXPECT_TRUE(v.warning);
    EXPECT_EQ(v.reading, Reading::I64(123));
    tenth.maxVal = 124;
    EXPECT_EQ(convert(tenth, 1234, 16).text, "123.4");
    EXPECT_EQ(convert(Entry(3, 0, 1, kTypeSigned, kCorrectHundredth), 1234, 16).text, "12.34");
    EXPECT_EQ(convert(Entry(3, 0, 1, kTypeUnsigned, kCorrectThousandth), 1234, 16).text, "1.234");
    EXPECT_EQ(convert(Entry(3, 0, 1, kTypeFloat, kCorrectTenth), 0xFFF3, 16).text, "-1.3");
    EXPECT_EQ(convert(Entry(3, 0, 1, kTypeSigned, kCorrectTenth), 0xFFF3, 16).reading, Reading::I64(-1));

    // The minimum is inclusive; an unsigned reading meets signed limits as one.
    RegisterEntry low = Entry(3, 0, 2, kTypeUnsigned);
    low.enableMin = 1;
    low.minVal = 0;
    EXPECT_EQ(convert(low, 0, 32).text, "0 (!)");
    EXPECT_EQ(convert(low, 0xFFFFFFFF, 32).text, "4294967295 (!)");
    EXPECT_EQ(convert(low, 5, 32).text, "5");

    // No value: the string type, and counts without a reading.
    v = convert(Entry(3, 0, 1, kTypeString), 0x4142, 16);
    EXPECT_FALSE(v.text);
    EXPECT_TRUE(v.warning);
    EXPECT_FALSE(v.reading);
    v = ConvertValue(Entry(3, 0, 3), std::nullopt, " (!)");
    EXPECT_FALSE(v.text);
    EXPECT_TRUE(v.warning);
}

}  // namespace
}  // namespace qm::polling::modbus
