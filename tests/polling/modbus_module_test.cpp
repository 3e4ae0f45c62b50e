// The ModbusTCP poller against real peers on loopback: pymodbus's server for
// the registers, coils and inputs of a device, and a scripted server for
// what pymodbus never sends. What the answers make of the output format and
// the collector, which answers fail a node, the connection's life, Stop,
// and the settings keys.
#include "polling/modbus/modbus_module.h"

#include <gtest/gtest.h>

#include <future>

#include "core/config.h"
#include "polling/laurent_board.h"
#include "polling/modbus/modbus_frame.h"
#include "polling/modbus_peer.h"
#include "support/temp_dir.h"
#include "transport/transport_test_support.h"

namespace qm::polling::modbus {
namespace {

using core::RecordCopy;
using core::RecordSet;
using qm::testing::EventLog;
using qm::testing::ModbusFrame;
using qm::testing::ModbusRequest;
using qm::testing::ScriptedAnswer;
using qm::testing::ScriptedModbusServer;

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

// The answer to a request for one register: `value`, with the request's
// transaction and unit.
ScriptedAnswer Register(const ModbusRequest& r, uint16_t value) {
    const std::string pdu{2, static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
    return {{ModbusFrame(r.Transaction(), r.bytes[6], r.bytes[7], pdu)}};
}

class ModbusModuleTest : public qm::testing::ModuleTest<ModbusModule> {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        core_.values = std::make_unique<ValueCollector>([] { return 1000u; });
    }
    void SetCommon(uint32_t timeout, uint32_t repeatTimeout) {
        ModbusCommon common;
        common.enableService = 1;
        common.timeout = timeout;
        common.repeatTimeout = repeatTimeout;
        ASSERT_TRUE(module_->Add({RecordSet::Common}, RecordCopy::Of(common)));
    }
    void AddList(uint64_t id, std::vector<RegisterEntry> entries, std::string format) {
        RegisterList list;
        list.id = id;
        list.outFormat = std::move(format);
        RecordCopy copy = RecordCopy::Of(list);
        for (const RegisterEntry& e : entries) copy.entries.push_back(RecordCopy::Of(e));
        ASSERT_TRUE(module_->Add({RecordSet::List}, copy));
    }
    void AddNode(uint16_t port, uint64_t listId, std::string name = "127.0.0.1") {
        ModbusNode node;
        node.name = std::move(name);
        node.port = port;
        node.regListId = listId;
        ASSERT_TRUE(module_->Add({RecordSet::Item}, RecordCopy::Of(node)));
    }
    std::vector<ValueSample> Samples(const std::string& vendor, const std::string& tag) {
        return core_.values->Read(vendor, tag + " (mod_modbus)").samples;
    }
    size_t Events(std::string_view text) { return log_->Matching(EventLog::Of(core::kEventInternal, text)).size(); }
};

TEST_F(ModbusModuleTest, PymodbusRegistersCoilsAndInputsFillTheFormatAndTheCollector) {
    if (!qm::testing::PyModbusServer::Installed()) GTEST_SKIP() << "python3-pymodbus is not installed";
    qm::testing::PyModbusServer server;
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
    ASSERT_TRUE(module_->Start(platform::Blocking::Yes));
    const auto info = log_->WaitFor(EventLog::Of(core::kEventInternal, "MODBUS: INFO"), std::chrono::seconds(60));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->Message(), "MODBUS: INFO s=-2 u=65534 f=-2.00 w=65538 c=123.4 i=300 on=1 off=0 di=1 -2");
    EXPECT_EQ(info->severity, 6u);
    EXPECT_EQ(info->sender, "127.0.0.1");
    const auto warning = log_->WaitFor(EventLog::Of(core::kEventInternal, "MODBUS: WARN"), std::chrono::seconds(60));
    ASSERT_TRUE(warning);
    EXPECT_EQ(warning->Message(), "MODBUS: WARN three= (!) s=-2");
    EXPECT_EQ(warning->severity, 4u);
    EXPECT_EQ(warning->sender, "127.0.0.1");
    ASSERT_TRUE(module_->Stop(platform::Blocking::Yes));
    EXPECT_EQ(Events("SESSION_ERROR"), 0u);

    // Signed readings go as kind 2, unsigned as kind 4, corrected ones whole.
    ASSERT_EQ(Samples("127.0.0.1", "s").size(), 1u);
    EXPECT_EQ(Samples("127.0.0.1", "s")[0].value, Reading::I64(-2));
    EXPECT_EQ(Samples("127.0.0.1", "u")[0].value, Reading::U64(65534));
    EXPECT_EQ(Samples("127.0.0.1", "w")[0].value, Reading::U64(65538));
    EXPECT_EQ(Samples("127.0.0.1", "c")[0].value, Reading::I64(123));
    EXPECT_EQ(Samples("127.0.0.1", "on")[0].value, Reading::I64(1));
    // The node named by its host name is its own vendor.
    EXPECT_EQ(Samples("localhost", "s").size(), 1u);
    EXPECT_TRUE(Samples("localhost", "three").empty());
}

// Transaction identifiers count the requests of one connection, from 1 on
// every connection; register 0 is sent as it is; each connection is ended
// by this side once everything is answered.
TEST_F(ModbusModuleTest, TransactionsRunPerConnectionAndRegisterZeroIsAsked) {
    ScriptedModbusServer server([](const ModbusRequest& r) { return Register(r, r.Register() + 100); });
    SetCommon(10000, 0);
    AddList(1, {Entry("a", kReadHoldingRegisters, 0), Entry("b", kReadHoldingRegisters, 5),
                Entry("c", kReadInputRegisters, 9)},
            "[a] [b] [c]");
    AddNode(server.Port(), 1);
    ASSERT_TRUE(module_->Start(platform::Blocking::Yes));
    ASSERT_TRUE(qm::testing::WaitUntil([&] { return server.Requests().size() >= 6; }));
    ASSERT_TRUE(module_->Stop(platform::Blocking::Yes));
    const std::vector<ModbusRequest> requests = server.Requests();
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(requests[i].connection, static_cast<int>(i / 3) + 1);
        EXPECT_EQ(requests[i].Transaction(), i % 3 + 1);
    }
    const std::array<uint8_t, 12> first{0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1};
    EXPECT_EQ(requests[0].bytes, first);
    EXPECT_EQ(requests[2].Register(), 9);
    const auto event = log_->WaitFor(EventLog::Of(core::kEventInternal, "MODBUS: "));
    ASSERT_TRUE(event);
    EXPECT_EQ(event->Message(), "MODBUS: 100 105 109");
    EXPECT_GE(server.ClientEnds(), 1);
    // Every request is counted in the program's network figures.
    EXPECT_TRUE(qm::testing::WaitUntil(
        [&] { return core_.counters.bytesSent.load() == 12 * server.Requests().size(); }));
    EXPECT_EQ(core_.counters.datagramsSent.load(), server.Requests().size());
    EXPECT_GT(core_.counters.bytesReceived.load(), 0u);
}

// What a server may send wrongly fails the node for the cycle, with the
// session error and a gap, and reads nothing outside the response.
TEST_F(ModbusModuleTest, ExceptionsAndShortByteCountsAreSessionErrors) {
    ScriptedModbusServer server([](const ModbusRequest& r) -> std::optional<ScriptedAnswer> {
        const uint8_t unit = r.bytes[6], function = r.bytes[7];
        switch (r.Register()) {
            case 10: return ScriptedAnswer{{ModbusFrame(r.Transaction(), unit, function | 0x80, {2})}};
            case 11: return ScriptedAnswer{{ModbusFrame(r.Transaction(), unit, function, {1, 0x12})}};
            case 12: return ScriptedAnswer{{ModbusFrame(r.Transaction(), unit, function, {4, 0x12, 0x34})}};
            case 13: return ScriptedAnswer{{ModbusFrame(r.Transaction(), unit, function, {2, 0x00, 0x2A}) + "junk"}};
            default: return Register(r, 1);
        }
    });
    SetCommon(10000, 60000);
    for (uint16_t reg = 10; reg <= 13; ++reg) {
        AddList(reg, {Entry("x", kReadHoldingRegisters, reg)}, "bad [x]");
        AddNode(server.Port(), reg);
    }
    AddList(99, {Entry("x", kReadHoldingRegisters, 1)}, "good [x]");
    AddNode(server.Port(), 99);
    ASSERT_TRUE(module_->Start(platform::Blocking::Yes));
    ASSERT_TRUE(log_->WaitFor(EventLog::Of(core::kEventInternal, "MODBUS: good")));
    ASSERT_TRUE(module_->Stop(platform::Blocking::Yes));
    const auto errors = log_->Matching(EventLog::Of(core::kEventInternal, "SESSION_ERROR"));
    ASSERT_EQ(errors.size(), 4u);
    EXPECT_EQ(errors[0].Message(), "MODBUS: SESSION_ERROR (!)");
    EXPECT_EQ(errors[0].severity, 3u);
    EXPECT_EQ(Events("MODBUS: bad"), 0u);
    EXPECT_EQ(module_->ErrorCount(), 4u);
    // Four gaps, then the good node's reading.
    const std::vector<ValueSample> samples = Samples("127.0.0.1", "x");
    ASSERT_EQ(samples.size(), 5u);
    for (size_t i = 0; i < 4; ++i) EXPECT_TRUE(samples[i].gap);
    EXPECT_EQ(samples[4].value, Reading::I64(1));
}

// A response that reaches us in pieces is read whole.
TEST_F(ModbusModuleTest, ASplitResponseIsGathered) {
    ScriptedModbusServer server([](const ModbusRequest& r) {
        ScriptedAnswer answer = Register(r, r.Register() == 1 ? 0xFFFE : 77);
        const std::string whole = answer.pieces[0];
        answer.pieces = r.Register() == 1 ? std::vector<std::string>{whole.substr(0, 3), whole.substr(3, 6), whole.substr(9)}
                                          : std::vector<std::string>{whole.substr(0, 9), whole.substr(9)};
        answer.pauseMs = 300;
        return answer;
    });
    SetCommon(10000, 60000);
    AddList(1, {Entry("a", kReadHoldingRegisters, 1), Entry("b", kReadHoldingRegisters, 2)}, "[a] [b]");
    AddNode(server.Port(), 1);
    ASSERT_TRUE(module_->Start(platform::Blocking::Yes));
    const auto event = log_->WaitFor(EventLog::Of(core::kEventInternal, "MODBUS: "));
    ASSERT_TRUE(event);
    EXPECT_EQ(event->Message(), "MODBUS: -2 77");
}

// A server that keeps the connection open after the last answer has done
// nothing wrong: the result is all there is, and the next node or cycle
// does not wait out the time-out for it.
TEST_F(ModbusModuleTest, AServerKeepingTheConnectionOpenGivesTheResultOnly) {
    ScriptedModbusServer server([](const ModbusRequest& r) { return Register(r, 5); }, /*keepOpen=*/true);
    SetCommon(60000, 0);
    AddList(1, {Entry("a", kReadHoldingRegisters, 1)}, "[a]");
    AddNode(server.Port(), 1);
    ASSERT_TRUE(module_->Start(platform::Blocking::Yes));
    ASSERT_TRUE(qm::testing::WaitUntil([&] { return server.Connections() >= 3; }));
    ASSERT_TRUE(module_->Stop(platform::Blocking::Yes));
    EXPECT_GE(Events("MODBUS: 5"), 2u);
    EXPECT_EQ(Events("SESSION_ERROR"), 0u);
}

// A refused connect is seen in the connect's own result, before anything is
// sent; the node gets its session error and gap, and the next is polled.
TEST_F(ModbusModuleTest, ARefusedNodeFailsAtTheConnectAndTheNextIsPolled) {
    qm::testing::RefusingPort refusing;
    ScriptedModbusServer working([](const ModbusRequest& r) { return Register(r, 9); });
    SetCommon(10000, 0);
    AddList(1, {Entry("a", kReadHoldingRegisters, 1)}, "[a]");
    AddNode(refusing.Port(), 1);
    AddNode(working.Port(), 1);
    ASSERT_TRUE(module_->Start(platform::Blocking::Yes));
    ASSERT_TRUE(qm::testing::WaitUntil([&] { return working.Connections() >= 2; }));
    ASSERT_TRUE(module_->Stop(platform::Blocking::Yes));
    const auto failed = log_->WaitFor(EventLog::Of(core::kEventInternal, "SESSION_ERROR"));
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->Message(), "MODBUS: SESSION_ERROR (!)");
    const SessionFailure last = module_->LastFailure();
    EXPECT_EQ(last.step, "connect");
    EXPECT_EQ(last.error, ECONNREFUSED);
    EXPECT_GE(Events("MODBUS: 9"), 1u);
    bool gap = false;
    for (const ValueSample& s : Samples("127.0.0.1", "a")) gap = gap || s.gap;
    EXPECT_TRUE(gap);
}

// Stop does not wait out a silent server: with a minute's time-out it ends
// the cycle long before, and leaves no session error behind.
TEST_F(ModbusModuleTest, StopEndsACycleWithinOneTimeout) {
    ScriptedModbusServer silent([](const ModbusRequest&) { return std::nullopt; });
    SetCommon(60000, 60000);
    AddList(1, {Entry("a", kReadHoldingRegisters, 1)}, "[a]");
    AddNode(silent.Port(), 1);
    ASSERT_TRUE(module_->Start(platform::Blocking::Yes));
    ASSERT_TRUE(qm::testing::WaitUntil([&] { return silent.Requests().size() >= 1; }));
    auto stopped = std::async(std::launch::async, [&] { return module_->Stop(platform::Blocking::Yes); });
    EXPECT_EQ(stopped.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_TRUE(stopped.get());
    EXPECT_EQ(Events("SESSION_ERROR"), 0u);
}

// A silent server fails the node after the time-out; a zero time-out is the
// default wait, in which a slow answer still counts.
TEST_F(ModbusModuleTest, TimeoutsEndSilenceAndZeroMeansTheDefault) {
    ScriptedModbusServer server([](const ModbusRequest& r) -> std::optional<ScriptedAnswer> {
        if (r.Register() == 1) return std::nullopt;
        ScriptedAnswer slow = Register(r, 12);
        // Sent in two pieces so the answer is late, not lost.
        const std::string whole = slow.pieces[0];
        slow.pieces = {std::string(), whole};
        slow.pauseMs = 700;
        return slow;
    });
    SetCommon(0, 60000);
    AddList(1, {Entry("a", kReadHoldingRegisters, 2)}, "slow [a]");
    AddList(2, {Entry("a", kReadHoldingRegisters, 1)}, "silent [a]");
    AddNode(server.Port(), 1);
    AddNode(server.Port(), 2);
    ASSERT_TRUE(module_->Start(platform::Blocking::Yes));
    ASSERT_TRUE(log_->WaitFor(EventLog::Of(core::kEventInternal, "MODBUS: slow 12")));
    ASSERT_TRUE(log_->WaitFor(EventLog::Of(core::kEventInternal, "SESSION_ERROR")));
    EXPECT_EQ(module_->LastFailure().step, "wait");
    EXPECT_EQ(UsableTimeoutMs(0), 5000u);
}

TEST_F(ModbusModuleTest, NodesAndRegisterListsKeepTheirKeys) {
    SetCommon(1500, 2000);
    RegisterEntry e = Entry("temp", kReadInputRegisters, 0x1234, 2, kTypeUnsigned, kCorrectHundredth);
    e.unit = 7;
    e.enableMax = 1;
    e.maxVal = -5;
    AddList(7, {e}, "Value =[temp]");
    RegisterList fresh;
    ASSERT_TRUE(module_->Add({RecordSet::List}, RecordCopy::Of(fresh)));
    AddNode(1502, 7);
    qm::testing::TempDir home("qm-modbusset");
    core::Config config(home.path());
    core::SettingsSection out = config.BeginSave("mod_modbus", "mod_modbus");
    module_->SaveTo(out);
    ASSERT_TRUE(out.Commit());
    const auto& file = out.File();
    for (const char* key : {"Common.EnableService", "Common.Timeout", "Common.RepeatTimeout", "Item.0-Enable",
                            "Item.0-StrName", "Item.0-Param", "Item.0-Port", "Item.0-RegListID", "Item.0-Retries",
                            "Item.0-Timeout", "List.0-ListSize", "List.0-Enable", "List.0-ID", "List.0-StrName",
                            "List.0-StrOutFmt", "List.0-item.0-StrTag", "List.0-item.0-Reg",
                            "List.0-item.0-RegCount", "List.0-item.0-Func", "List.0-item.0-Unit",
                            "List.0-item.0-Type", "List.0-item.0-Correct", "List.0-item.0-EnableMax",
                            "List.0-item.0-EnableMin", "List.0-item.0-MaxVal", "List.0-item.0-MinVal"})
        EXPECT_TRUE(file.Get("mod_modbus", key)) << key;
    EXPECT_EQ(file.Get("mod_modbus", "List.0-item.0-StrTag"), "temp");
    ModbusModule again(core_);
    again.Load(config.Open("mod_modbus", "mod_modbus"));
    const auto items = again.Copy({RecordSet::Item});
    ASSERT_TRUE(items && items->size() == 1);
    EXPECT_EQ((*items)[0].As<ModbusNode>().port, 1502u);
    EXPECT_EQ((*items)[0].As<ModbusNode>().regListId, 7u);
    const auto common = again.CopyCommon();
    ASSERT_TRUE(common);
    EXPECT_EQ(common->As<ModbusCommon>().timeout, 1500u);
    const auto lists = again.Copy({RecordSet::List});
    ASSERT_TRUE(lists && lists->size() == 2);
    ASSERT_EQ((*lists)[0].entries.size(), 1u);
    const RegisterEntry back = (*lists)[0].entries[0].As<RegisterEntry>();
    EXPECT_EQ(back.reg, 0x1234);
    EXPECT_EQ(back.regCount, 2);
    EXPECT_EQ(back.func, kReadInputRegisters);
    EXPECT_EQ(back.unit, 7);
    EXPECT_EQ(back.type, kTypeUnsigned);
    EXPECT_EQ(back.correct, kCorrectHundredth);
    EXPECT_EQ(back.maxVal, -5);
    EXPECT_NE((*lists)[1].As<RegisterList>().id, 0u);  // a list without identity got one
}

}  // namespace
}  // namespace qm::polling::modbus

namespace qm::polling::modbus {
namespace {

// The poller's sends go to servers that may be gone: a send on a connection
// that is already over fails with its error and never raises SIGPIPE, which
// would end the whole program.
TEST(ModbusConnection, ASendAfterARefusedConnectFailsWithoutASignal) {
    qm::testing::RefusingPort refusing;
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

}  // namespace
}  // namespace qm::polling::modbus
