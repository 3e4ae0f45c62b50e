// The ModbusTCP poller's responses and readings without a network, for what
// the peers of the module tests do not send: odd frames, bit replies with
// padding, the other corrections and the limits' edges.
#include <gtest/gtest.h>

#include "polling/modbus/modbus_frame.h"
#include "polling/modbus/modbus_value.h"
#include "polling/modbus_peer.h"

namespace qm::polling::modbus {
namespace {

using qm::testing::ModbusFrame;

RegisterEntry Entry(uint8_t func, uint16_t count, uint8_t type = kTypeSigned, uint8_t correct = kCorrectNone) {
    RegisterEntry e;
    e.func = func;
    e.regCount = count;
    e.type = type;
    e.correct = correct;
    return e;
}

TEST(ModbusFrame, OddResponsesAreRefusedWithinTheirBytes) {
    const RegisterEntry one = Entry(kReadHoldingRegisters, 1);
    std::string wrongLength = ModbusFrame(1, 1, 3, {2, 0, 1});
    wrongLength[5] = 9;
    EXPECT_FALSE(ReadResponse(wrongLength, one).accepted);
    EXPECT_FALSE(ReadResponse(ModbusFrame(1, 1, 5, {2, 0, 1}), one).accepted);
    EXPECT_FALSE(ReadResponse(ModbusFrame(1, 1, 3, {}), one).accepted);
    EXPECT_FALSE(ReadResponse(ModbusFrame(1, 1, 3, {0}), one).accepted);
    // Three registers give no value, but the response itself is good.
    const Response three = ReadResponse(ModbusFrame(1, 1, 3, {6, 0, 1, 0, 2, 0, 3}), Entry(3, 3));
    EXPECT_TRUE(three.accepted);
    EXPECT_FALSE(three.value);
}

TEST(ModbusFrame, BitRepliesReadTheStatesAskedForAndAShortReplyMeansOff) {
    // The padding bits of the byte are not states.
    Response r = ReadResponse(ModbusFrame(1, 1, 2, {1, static_cast<char>(0xFE)}), Entry(kReadDiscreteInputs, 2));
    ASSERT_TRUE(r.accepted && r.value);
    EXPECT_EQ(r.value->bits, 2u);
    r = ReadResponse(ModbusFrame(1, 1, 1, {0}), Entry(kReadCoils, 2));
    ASSERT_TRUE(r.accepted && r.value);
    EXPECT_EQ(r.value->bits, 0u);
}

TEST(ModbusValue, CorrectionsLimitsAndTypesWithoutAValue) {
    const auto convert = [](const RegisterEntry& e, uint32_t bits, uint8_t width) {
        return ConvertValue(e, RawValue{bits, width}, " (!)");
    };
    EXPECT_EQ(convert(Entry(3, 2, kTypeSigned), 0xFFFFFFFF, 32).text, "-1");
    EXPECT_EQ(convert(Entry(3, 1, kTypeSigned, kCorrectHundredth), 1234, 16).text, "12.34");
    EXPECT_EQ(convert(Entry(3, 1, kTypeUnsigned, kCorrectThousandth), 1234, 16).text, "1.234");
    EXPECT_EQ(convert(Entry(3, 1, kTypeFloat, kCorrectTenth), 0xFFF3, 16).text, "-1.3");
    // Truncated toward zero for the limits and the collector.
    EXPECT_EQ(convert(Entry(3, 1, kTypeSigned, kCorrectTenth), 0xFFF3, 16).reading, Reading::I64(-1));

    RegisterEntry tenth = Entry(3, 1, kTypeSigned, kCorrectTenth);
    tenth.enableMax = 1;
    tenth.maxVal = 123;  // the limit meets the whole part, inclusive
    const EntryValue breach = convert(tenth, 1234, 16);
    EXPECT_EQ(breach.text, "123.4 (!)");
    EXPECT_TRUE(breach.warning);
    tenth.maxVal = 124;
    EXPECT_EQ(convert(tenth, 1234, 16).text, "123.4");
    // An unsigned reading meets the signed limits as a signed number.
    RegisterEntry low = Entry(3, 2, kTypeUnsigned);
    low.enableMin = 1;
    EXPECT_EQ(convert(low, 0xFFFFFFFF, 32).text, "4294967295 (!)");
    EXPECT_EQ(convert(low, 5, 32).text, "5");

    const EntryValue text = convert(Entry(3, 1, kTypeString), 0x4142, 16);
    EXPECT_FALSE(text.text);
    EXPECT_TRUE(text.warning);
    EXPECT_FALSE(text.reading);
}

}  // namespace
}  // namespace qm::polling::modbus
