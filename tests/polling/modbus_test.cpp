// The ModbusTCP poller: its frames and readings without a network, for what
// no peer sends; the module against pymodbus's server as a device and a
// scripted server for what pymodbus never sends; and the program loading a
// node from its settings file, polling it and writing the file back.
#include "polling/modbus/modbus_module.h"

#include <gtest/gtest.h>

#include <future>

#include "modules.h"
#include "polling/modbus/modbus_frame.h"
#include "polling/modbus/modbus_value.h"
#include "polling/modbus_peer.h"
#include "polling/poller_test.h"
#include "polling/scripted_peer.h"
#include "support/program_home.h"
#include "support/udp_peer.h"

namespace qm::polling::modbus {
namespace {

using core::RecordSet;
using namespace qm::testing;
using platform::Blocking;

RegisterEntry Entry(std::string tag, uint8_t func, uint16_t reg, uint16_t count = 1, uint8_t type = kTypeSigned,
                    uint8_t correct = kCorrectNone) {
    RegisterEntry e;
    e.tag = std::move(tag);
    e.func = func;
    e.reg = reg;
    e.regCount = count;
    e.type = type;
    e.correct = correct;
    return e;
}

// A request's fields: the transaction at 0, the unit at 6, the function at
// 7 and the register at 8.
uint16_t RegisterOf(const PeerRequest& r) { return r.Word(8); }
// The response to `r` with `pdu`, from the function with `flags` added.
std::string Reply(const PeerRequest& r, const std::string& pdu, uint8_t flags = 0) {
    return ModbusFrame(r.Word(0), r.At(6), r.At(7) | flags, pdu);
}
// The answer to a request for one register: `value`.
PeerAnswer Register(const PeerRequest& r, uint16_t value) {
    return {{Reply(r, {2, static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)})}};
}
ScriptedPeer ModbusPeer(ScriptedPeer::Script script, bool keepOpen = false) {
    return ScriptedPeer(ScriptedPeer::ModbusRequests, std::move(script), keepOpen);
}

TEST(ModbusFrame, OddResponsesAreRefusedAndBitRepliesReadOnlyTheStatesAskedFor) {
    const RegisterEntry one = Entry("", kReadHoldingRegisters, 0);
    std::string wrongLength = ModbusFrame(1, 1, 3, {2, 0, 1});
    wrongLength[5] = 9;
    for (const std::string& odd : {wrongLength, ModbusFrame(1, 1, 5, {2, 0, 1}), ModbusFrame(1, 1, 3, {}),
                                   ModbusFrame(1, 1, 3, {0})})
        EXPECT_FALSE(ReadResponse(odd, one).accepted);
    // Three registers give no value, but the response itself is good.
    const Response three = ReadResponse(ModbusFrame(1, 1, 3, {6, 0, 1, 0, 2, 0, 3}), Entry("", 3, 0, 3));
    EXPECT_TRUE(three.accepted && !three.value);
    // The padding bits of the byte are not states; a short reply means off.
    Response r = ReadResponse(ModbusFrame(1, 1, 2, {1, static_cast<char>(0xFE)}), Entry("", kReadDiscreteInputs, 0, 2));
    ASSERT_TRUE(r.accepted && r.value);
    EXPECT_EQ(r.value->bits, 2u);
    r = ReadResponse(ModbusFrame(1, 1, 1, {0}), Entry("", kReadCoils, 0, 2));
    ASSERT_TRUE(r.accepted && r.value);
    EXPECT_EQ(r.value->bits, 0u);
}

TEST(ModbusValue, CorrectionsLimitsAndTypesWithoutAValue) {
    const auto convert = [](uint8_t type, uint8_t correct, uint32_t bits, uint8_t width = 16) {
        return ConvertValue(Entry("", 3, 0, width / 16, type, correct), RawValue{bits, width}, " (!)");
    };
    EXPECT_EQ(convert(kTypeSigned, kCorrectNone, 0xFFFFFFFF, 32).text, "-1");
    EXPECT_EQ(convert(kTypeSigned, kCorrectHundredth, 1234).text, "12.34");
    EXPECT_EQ(convert(kTypeUnsigned, kCorrectThousandth, 1234).text, "1.234");
    EXPECT_EQ(convert(kTypeFloat, kCorrectTenth, 0xFFF3).text, "-1.3");
    // Truncated toward zero for the limits and the collector.
    EXPECT_EQ(convert(kTypeSigned, kCorrectTenth, 0xFFF3).reading, core::Reading::I64(-1));

    RegisterEntry tenth = Entry("", 3, 0, 1, kTypeSigned, kCorrectTenth);
    tenth.enableMax = 1;
    tenth.maxVal = 123;  // the limit meets the whole part, inclusive
    const EntryValue breach = ConvertValue(tenth, RawValue{1234, 16}, " (!)");
    EXPECT_EQ(breach.text, "123.4 (!)");
    EXPECT_TRUE(breach.warning);
    tenth.maxVal = 124;
    EXPECT_EQ(ConvertValue(tenth, RawValue{1234, 16}, " (!)").text, "123.4");
    // An unsigned reading meets the signed limits as a signed number.
    RegisterEntry low = Entry("", 3, 0, 2, kTypeUnsigned);
    low.enableMin = 1;
    EXPECT_EQ(ConvertValue(low, RawValue{0xFFFFFFFF, 32}, " (!)").text, "4294967295 (!)");
    EXPECT_EQ(ConvertValue(low, RawValue{5, 32}, " (!)").text, "5");

    const EntryValue text = convert(kTypeString, kCorrectNone, 0x4142);
    EXPECT_TRUE(!text.text && text.warning && !text.reading);
}

class ModbusModuleTest : public PollerTest<ModbusModule> {
protected:
    void SetCommon(uint32_t timeout, uint32_t repeatTimeout) {
        ModbusCommon common;
        common.enableService = 1;
        common.timeout = timeout;
        common.repeatTimeout = repeatTimeout;
        Add(RecordSet::Common, common);
    }
    void AddNode(uint16_t port, uint64_t listId, std::string name = "127.0.0.1") {
        ModbusNode node;
        node.name = std::move(name);
        node.port = port;
        node.regListId = listId;
        Add(RecordSet::Item, node);
    }
};

TEST_F(ModbusModuleTest, PymodbusRegistersCoilsAndInputsFillTheFormatAndTheCollector) {
    if (!PyModbusServer::Installed()) GTEST_SKIP() << "python3-pymodbus is not installed";
    PyModbusServer server;
    ASSERT_NE(server.Port(), 0) << server.Output();
    SetCommon(10000, 60000);
    AddList(1,
            {Entry("s", kReadHoldingRegisters, 0), Entry("u", kReadHoldingRegisters, 0, 1, kTypeUnsigned),
             Entry("f", kReadHoldingRegisters, 0, 1, kTypeFloat),
             Entry("w", kReadHoldingRegisters, 1, 2, kTypeUnsigned),
             Entry("c", kReadHoldingRegisters, 3, 1, kTypeSigned, kCorrectTenth),
             Entry("i", kReadInputRegisters, 1), Entry("on", kReadCoils, 0), Entry("off", kReadCoils, 1),
             Entry("di", kReadDiscreteInputs, 1)},
            "INFO s=[s] u=[u] f=[f] w=[w] c=[c] i=[i] on=[on] off=[off] di=[di] [s]");
    AddList(2, {Entry("three", kReadHoldingRegisters, 0, 3), Entry("s", kReadHoldingRegisters, 0)},
            "WARN three=[three] s=[s]");
    AddNode(server.Port(), 1);
    // By name: the events give the address it was reached at.
    AddNode(server.Port(), 2, "localhost");
    ASSERT_TRUE(module_->Start(Blocking::Yes));
    const auto info = WaitForEvent("MODBUS: INFO", std::chrono::seconds(60));
    const auto warning = WaitForEvent("MODBUS: WARN", std::chrono::seconds(60));
    ASSERT_TRUE(info && warning);
    EXPECT_EQ(info->Message(), "MODBUS: INFO s=-2 u=65534 f=-2.00 w=65538 c=123.4 i=300 on=1 off=0 di=1 -2");
    EXPECT_EQ(info->severity, 6u);
    EXPECT_EQ(warning->Message(), "MODBUS: WARN three= (!) s=-2");
    EXPECT_EQ(warning->severity, 4u);
    for (const auto& e : {info, warning}) EXPECT_EQ(e->sender, "127.0.0.1");
    ASSERT_TRUE(module_->Stop(Blocking::Yes));
    EXPECT_EQ(Events("SESSION_ERROR"), 0u);

    // Signed readings go as kind 2, unsigned as kind 4, corrected ones whole.
    ASSERT_EQ(Samples("127.0.0.1", "s").size(), 1u);
    const std::pair<const char*, core::Reading> readings[] = {{"s", core::Reading::I64(-2)}, {"u", core::Reading::U64(65534)},
                                                        {"w", core::Reading::U64(65538)}, {"c", core::Reading::I64(123)},
                                                        {"on", core::Reading::I64(1)}};
    for (const auto& [tag, reading] : readings) EXPECT_EQ(Samples("127.0.0.1", tag).at(0).value, reading) << tag;
    // The node named by its host name is its own vendor.
    EXPECT_EQ(Samples("localhost", "s").size(), 1u);
    EXPECT_TRUE(Samples("localhost", "three").empty());
}

// Transaction identifiers count the requests of one connection, from 1 on
// every connection; register 0 is sent as it is; this side ends each
// connection once everything is answered, so a server keeping it open costs
// no time-out. A refused connect fails at the connect, before anything is
// sent, and the next node is polled.
TEST_F(ModbusModuleTest, TransactionsPerConnectionAndARefusedNodeBeforeTheNext) {
    RefusingPort refusing;
    ScriptedPeer server = ModbusPeer([](const PeerRequest& r) { return Register(r, RegisterOf(r) + 100); },
                                     /*keepOpen=*/true);
    SetCommon(60000, 0);
    AddList(1, {Entry("a", kReadHoldingRegisters, 0), Entry("b", kReadHoldingRegisters, 5),
                Entry("c", kReadInputRegisters, 9)},
            "[a] [b] [c]");
    AddNode(refusing.Port(), 1);
    AddNode(server.Port(), 1);
    ASSERT_TRUE(module_->Start(Blocking::Yes));
    ASSERT_TRUE(WaitUntil([&] { return server.Requests().size() >= 9; }));
    ASSERT_TRUE(module_->Stop(Blocking::Yes));
    const std::vector<PeerRequest> requests = server.Requests();
    for (size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(requests[i].connection, static_cast<int>(i / 3) + 1);
        EXPECT_EQ(requests[i].Word(0), i % 3 + 1);
    }
    EXPECT_EQ(requests[0].bytes, std::string({0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1}));
    EXPECT_EQ(RegisterOf(requests[2]), 9);
    EXPECT_GE(server.ClientEnds(), 2);
    const size_t results = Events("MODBUS: 100 105 109");
    EXPECT_GE(results, 2u);
    // One session error a cycle, all of them the refused node's.
    const auto failed = WaitForEvent("SESSION_ERROR");
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->Message(), "MODBUS: SESSION_ERROR (!)");
    EXPECT_LE(Events("SESSION_ERROR"), results + 1);
    EXPECT_EQ(module_->LastFailure().step, "connect");
    EXPECT_EQ(module_->LastFailure().error, ECONNREFUSED);
    EXPECT_TRUE(HasGap("127.0.0.1", "a"));
    // Every request is counted in the program's network figures.
    EXPECT_TRUE(WaitUntil([&] { return core_.counters.bytesSent.load() == 12 * server.Requests().size(); }));
    EXPECT_EQ(core_.counters.datagramsSent.load(), server.Requests().size());
    EXPECT_GT(core_.counters.bytesReceived.load(), 0u);
}

// What a server may send wrongly fails the node for the cycle, with the
// session error and a gap, and reads nothing outside the response; answers
// that come late or in pieces are read whole; silence fails the node after
// the time-out, where zero is the default wait.
TEST_F(ModbusModuleTest, BadSplitSlowAndSilentAnswers) {
    ScriptedPeer server = ModbusPeer([](const PeerRequest& r) -> std::optional<PeerAnswer> {
        switch (RegisterOf(r)) {
            case 10: return PeerAnswer{{Reply(r, {2}, 0x80)}};
            case 11: return PeerAnswer{{Reply(r, {1, 0x12})}};
            case 12: return PeerAnswer{{Reply(r, {4, 0x12, 0x34})}};
            case 13: return PeerAnswer{{Reply(r, {2, 0x00, 0x2A}) + "junk"}};
            case 30: return std::nullopt;
        }
        PeerAnswer answer = Register(r, RegisterOf(r) == 1 ? 0xFFFE : RegisterOf(r) == 2 ? 77 : 12);
        const std::string w = answer.pieces[0];
        if (RegisterOf(r) == 1) answer.pieces = {w.substr(0, 3), w.substr(3, 6), w.substr(9)};
        if (RegisterOf(r) == 2) answer.pieces = {w.substr(0, 9), w.substr(9)};
        answer.pauseMs = RegisterOf(r) == 20 ? 700 : 300;
        return answer;
    });
    SetCommon(0, 60000);
    for (uint16_t reg = 10; reg <= 13; ++reg) {
        AddList(reg, {Entry("x", kReadHoldingRegisters, reg)}, "bad [x]");
        AddNode(server.Port(), reg);
    }
    AddList(1, {Entry("a", kReadHoldingRegisters, 1), Entry("b", kReadHoldingRegisters, 2)}, "split [a] [b]");
    AddList(20, {Entry("x", kReadHoldingRegisters, 20)}, "slow [x]");
    AddList(30, {Entry("x", kReadHoldingRegisters, 30)}, "silent [x]");
    for (uint64_t list : {1, 20, 30}) AddNode(server.Port(), list);
    ASSERT_TRUE(module_->Start(Blocking::Yes));
    ASSERT_TRUE(WaitUntil([&] { return Events("SESSION_ERROR") >= 5; }, std::chrono::seconds(60)));
    ASSERT_TRUE(module_->Stop(Blocking::Yes));
    const auto errors = log_->Matching(EventLog::Of(core::kEventInternal, "SESSION_ERROR"));
    ASSERT_EQ(errors.size(), 5u);
    EXPECT_EQ(errors[0].Message(), "MODBUS: SESSION_ERROR (!)");
    EXPECT_EQ(errors[0].severity, 3u);
    EXPECT_EQ(module_->ErrorCount(), 5u);
    EXPECT_EQ(module_->LastFailure().step, "wait");
    EXPECT_EQ(Events("MODBUS: bad"), 0u);
    EXPECT_EQ(Events("MODBUS: split -2 77"), 1u);
    EXPECT_EQ(Events("MODBUS: slow 12"), 1u);
    // Four gaps, the slow node's reading, the silent node's gap.
    const std::vector<core::ValueSample> samples = Samples("127.0.0.1", "x");
    ASSERT_EQ(samples.size(), 6u);
    for (size_t i : {0u, 1u, 2u, 3u, 5u}) EXPECT_TRUE(samples[i].gap) << i;
    EXPECT_EQ(samples[4].value, core::Reading::I64(12));
}

// Only reads are ever sent: a list with a function that writes, or any other
// code but 1 to 4, sends nothing to its node and gives a session error that
// names the node and the code, and says so on stderr; reads still poll.
TEST_F(ModbusModuleTest, OnlyReadFunctionsAreEverSent) {
    ScriptedPeer server = ModbusPeer([](const PeerRequest& r) { return Register(r, 1); });
    SetCommon(10000, 60000);
    const std::vector<uint8_t> others = {5, 6, 15, 16, 0, 7};
    for (uint8_t func : others) {
        // A read first: none of the list goes out, not even what comes before.
        AddList(func + 100, {Entry("r", kReadHoldingRegisters, 1), Entry("w", func, 2)}, "wrote [w]");
        AddNode(server.Port(), func + 100, func == 16 ? "localhost" : "127.0.0.1");
    }
    AddList(1, {Entry("a", kReadCoils, 1), Entry("b", kReadDiscreteInputs, 1), Entry("c", kReadHoldingRegisters, 1),
                Entry("d", kReadInputRegisters, 1)},
            "reads");
    AddNode(server.Port(), 1);
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(module_->Start(Blocking::Yes));
    const auto read = WaitForEvent("MODBUS: reads", std::chrono::seconds(60));
    ASSERT_TRUE(module_->Stop(Blocking::Yes));
    const std::string said = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(read);
    std::vector<int> sent;
    for (const PeerRequest& r : server.Requests()) sent.push_back(r.At(7));
    EXPECT_EQ(sent, (std::vector<int>{1, 2, 3, 4}));
    const auto errors = log_->Matching(EventLog::Of(core::kEventInternal, "SESSION_ERROR"));
    ASSERT_EQ(errors.size(), others.size());
    for (size_t i = 0; i < others.size(); ++i) {
        const std::string node = others[i] == 16 ? "localhost" : "127.0.0.1";
        EXPECT_EQ(errors[i].Message(), "MODBUS: SESSION_ERROR (!) " + node + ": функция " + std::to_string(others[i]) +
                                           " не отправлена, читаются только 1-4");
        EXPECT_EQ(errors[i].severity, 3u);
        EXPECT_NE(said.find("node " + node + ": a register list entry has function " + std::to_string(others[i]) + ","),
                  std::string::npos)
            << said;
    }
}

// Stop does not wait out a silent server: with a minute's time-out it ends
// the cycle long before, and leaves no session error behind.
TEST_F(ModbusModuleTest, StopEndsACycleWithinOneTimeout) {
    ScriptedPeer silent = ModbusPeer([](const PeerRequest&) { return std::nullopt; });
    SetCommon(60000, 60000);
    AddList(1, {Entry("a", kReadHoldingRegisters, 1)}, "[a]");
    AddNode(silent.Port(), 1);
    ASSERT_TRUE(module_->Start(Blocking::Yes));
    ASSERT_TRUE(WaitUntil([&] { return silent.Requests().size() >= 1; }));
    auto stopped = std::async(std::launch::async, [&] { return module_->Stop(Blocking::Yes); });
    EXPECT_EQ(stopped.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_TRUE(stopped.get());
    EXPECT_EQ(Events("SESSION_ERROR"), 0u);
}

// The poller's sends go to servers that may be gone: a send on a connection
// that is already over fails with its error and never raises SIGPIPE, which
// would end the whole program.
TEST(ModbusConnection, ASendAfterARefusedConnectFailsWithoutASignal) {
    RefusingPort refusing;
    transport::TcpSession session(1024, 10000, 0);
    int error = 0;
    ASSERT_EQ(session.StartConnect("127.0.0.1", refusing.Port(), error), transport::TcpSession::kOk);
    transport::TcpEvents events;
    ASSERT_EQ(session.WaitEvents(events, error), transport::TcpSession::kOk);
    ASSERT_TRUE(events.connect);
    EXPECT_EQ(events.connectError, ECONNREFUSED);
    const std::array<uint8_t, kRequestSize> request = ReadRequest(1, RegisterEntry{});
    uint32_t sent = 0;
    EXPECT_EQ(session.Write(std::string_view(reinterpret_cast<const char*>(request.data()), request.size()), sent, error),
              transport::TcpSession::kSocketError);
    EXPECT_EQ(error, EPIPE);
    EXPECT_EQ(sent, 0u);
}

// A number in `n` little-endian bytes, as the settings keys store it.
std::vector<uint8_t> Bytes(int64_t v, size_t n) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
    return out;
}

// Every key of a node and its list is read at start (each value differs from
// what a missing key reads as) and written back at shutdown as it was.
TEST(ModbusProgram, ANodeFromTheSettingsFileIsPolledAtStartAndItsKeysWrittenBack) {
    ScriptedPeer server = ModbusPeer([](const PeerRequest& r) { return PeerAnswer{{Reply(r, {2, 0, 42})}}; });
    const std::pair<const char*, std::vector<uint8_t>> numbers[] = {
        {"Common.EnableService", Bytes(1, 1)}, {"Common.Timeout", Bytes(3000, 4)},
        {"Common.RepeatTimeout", Bytes(60000, 4)}, {"ItemCount", Bytes(1, 4)}, {"Item.0-Enable", Bytes(1, 1)},
        {"Item.0-Param", Bytes(0x80, 1)}, {"Item.0-Port", Bytes(server.Port(), 4)},
        {"Item.0-RegListID", Bytes(77, 8)}, {"Item.0-Timeout", Bytes(2500, 4)}, {"Item.0-Retries", Bytes(3, 4)},
        {"ListCount", Bytes(1, 4)}, {"List.0-ListSize", Bytes(1, 4)}, {"List.0-Enable", Bytes(1, 1)},
        {"List.0-ID", Bytes(77, 8)}, {"List.0-item.0-Reg", Bytes(7, 2)}, {"List.0-item.0-RegCount", Bytes(1, 2)},
        {"List.0-item.0-Func", Bytes(4, 1)}, {"List.0-item.0-Unit", Bytes(5, 1)},
        {"List.0-item.0-Type", Bytes(kTypeSigned, 1)}, {"List.0-item.0-Correct", Bytes(kCorrectNone, 1)},
        {"List.0-item.0-EnableMax", Bytes(1, 1)}, {"List.0-item.0-MaxVal", Bytes(42, 4)},
        {"List.0-item.0-EnableMin", Bytes(1, 1)}, {"List.0-item.0-MinVal", Bytes(-5, 4)}};
    const std::pair<const char*, const char*> texts[] = {{"Version", "2"},
                                                         {"Item.0-StrName", "127.0.0.1"},
                                                         {"List.0-StrName", "plant"},
                                                         {"List.0-StrOutFmt", "Value =[reg]"},
                                                         {"List.0-item.0-StrTag", "reg"}};
    ProgramHome home;
    home.Listen(FreePort());
    home.Edit("mod_modbus", [&](platform::ProfileFile& ini, const char* s) {
        for (const auto& [key, bytes] : numbers) ini.WriteStruct(s, key, bytes);
        for (const auto& [key, text] : texts) ini.WriteString(s, key, text);
    });
    const platform::ProfileFile written = platform::ProfileFile::Load(home.Settings("mod_modbus"));
    std::vector<core::ModuleDescriptor> catalog;
    for (const core::ModuleDescriptor& d : ProgramModules())
        if (d.id == core::kModuleModbus) catalog.push_back(d);
    ASSERT_EQ(catalog.size(), 1u);
    core::CoreContext core;
    core.paths = core::Paths::Build(home.Home() / "quillmark", home.Home());
    core.catalog = catalog;
    core::CoreStart(core);
    {
        EventLog log(*core.events);
        EXPECT_TRUE(log.WaitForSystem("Служба ModBusTCP запущена"));
        const auto event = log.WaitFor(EventLog::Of(core::kEventInternal, "MODBUS: "));
        ASSERT_TRUE(event);
        EXPECT_EQ(event->Message(), "MODBUS: Value =42 (!)");
        EXPECT_EQ(event->facility, 5u);
        const std::vector<PeerRequest> requests = server.Requests();
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(requests[0].At(6), 5);  // the unit,
        EXPECT_EQ(requests[0].At(7), 4);  // the function
        EXPECT_EQ(RegisterOf(requests[0]), 7);
    }
    core::CoreShutdown(core);
    const platform::ProfileFile saved = platform::ProfileFile::Load(home.Settings("mod_modbus"));
    for (const auto& [key, bytes] : numbers) EXPECT_EQ(saved.Get("mod_modbus", key), written.Get("mod_modbus", key)) << key;
    for (const auto& [key, text] : texts) EXPECT_EQ(saved.Get("mod_modbus", key), text) << key;
}

}  // namespace
}  // namespace qm::polling::modbus
