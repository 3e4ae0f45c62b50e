// The SNMP poller: OIDs and value texts without a network; one poll against
// snmpsimd and a client that answers as told, for what snmpd cannot be made
// to send; the module's records, its saved settings, its service against a
// real snmpd and the system names it offers; and its script words on the
// program's core.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <future>
#include <thread>

#include "core/config.h"
#include "platform/clock.h"
#include "polling/poller_test.h"
#include "polling/snmp/snmp_client.h"
#include "polling/snmp/snmp_module.h"
#include "polling/snmp/snmp_poll.h"
#include "polling/snmp_agent.h"
#include "processing/dns/dns_settings.h"
#include "script/module_nodes.h"
#include "script/script_interpreter.h"
#include "support/program_core.h"
#include "support/temp_dir.h"
#include "support/udp_peer.h"

namespace qm::polling::snmp {
namespace {

using core::RecordCopy;
using core::RecordSet;
using namespace qm::testing;
using platform::Blocking;

constexpr const char* kMarker = " (!)";

OidEntry Entry(std::string tag, std::string oid = ".1.3.6.1.2.1.1.1.0", uint8_t correct = 0) {
    OidEntry e;
    e.value = std::move(oid);
    e.tag = std::move(tag);
    e.correct = correct;
    return e;
}

struct Pushed {
    std::vector<std::pair<std::string, core::Reading>> values;
    int gaps = 0;
    ValueSink Sink() {
        return [this](std::optional<std::string_view> tag, std::optional<core::Reading> v) {
            if (tag && v) {
                values.emplace_back(std::string(*tag), *v);
            } else {
                ++gaps;
            }
        };
    }
};

class FakeClient : public SnmpClient {
public:
    std::optional<SnmpResponse> answer;
    std::optional<SnmpResponse> Get(const SnmpTarget&, const std::vector<std::string>&,
                                    const std::function<bool()>&) override {
        return answer;
    }
};

TEST(SnmpOid, DottedTextWithOrWithoutLeadingDot) {
    EXPECT_EQ(ParseOid(".1.3.6.1"), (std::vector<uint32_t>{1, 3, 6, 1}));
    EXPECT_EQ(ParseOid("1.3.6.1"), (std::vector<uint32_t>{1, 3, 6, 1}));
    EXPECT_EQ(ParseOid("1.3.4294967295"), (std::vector<uint32_t>{1, 3, 4294967295u}));
    for (const char* bad : {"", ".", "1", "1..3", "1.3.", "1.3.4294967296", "1.3.x", "sysName.0", " 1.3"})
        EXPECT_FALSE(ParseOid(bad)) << bad;
    EXPECT_EQ(AgentAddress("10.0.0.1:1161"), "10.0.0.1");
    EXPECT_EQ(AgentAddress("10.0.0.1"), "10.0.0.1");
}

TEST(SnmpValueText, TypeTable) {
    const OidEntry plain = Entry("t");
    EXPECT_EQ(MakeValueText({kTypeTimeTicks, {}, 360000}, plain, kMarker).text, "01:00:00");
    EXPECT_EQ(MakeValueText({kTypeTimeTicks, {}, 8640000 * 3 + 6100}, plain, kMarker).text, "3 day 00:01:01");
    EXPECT_FALSE(MakeValueText({kTypeOctetString, {}, 0}, plain, kMarker).text);
    EXPECT_FALSE(MakeValueText({kTypeNull, {}, 0}, plain, kMarker).text);
    OidEntry limits = Entry("t", "", kCorrectDiv1000);
    limits.enableMin = true;
    limits.minVal = -5;
    const ValueText low = MakeValueText({kTypeInteger, {}, static_cast<uint64_t>(int64_t{-5})}, limits, kMarker);
    EXPECT_EQ(low.text, "-0.0 (!)");
    EXPECT_TRUE(low.breach);
    OidEntry high = Entry("t");
    high.enableMax = true;
    high.maxVal = 1234;  // inclusive
    EXPECT_EQ(MakeValueText({kTypeCounter32, {}, 1234}, high, kMarker).text, "1234 (!)");
    // A decimal read stops at the end of the bytes, not at a NUL.
    EXPECT_EQ(MakeValueText({kTypeOctetString, std::string("12", 2), 0}, Entry("t", "", kCorrectDiv100), kMarker).text,
              "0.1");
    EXPECT_EQ(MakeValueText({kTypeOctetString, "99999999999", 0}, Entry("t", "", kCorrectToInt), kMarker).text,
              "2147483647");
}

TEST(SnmpPoll, WhatTheAgentSendsIsReadWithinItsBounds) {
    FakeClient client;
    SnmpResponse answer;
    answer.values = {{kTypeCounter64, {}, 0x8000000000000001ull}, {kTypeOctetString, std::string("\x0A\0\x2C", 3), 0}};
    client.answer = answer;
    std::vector<OidEntry> entries = {Entry("big"), Entry("hex", "", kCorrectHex), Entry("more")};
    entries[0].enableMin = true;
    entries[0].minVal = -1;  // widened with its sign: every value is at most 2^64-1
    Pushed pushed;
    // Fewer bindings than entries: the missing one keeps its placeholder.
    PollResult r = PollAgent(client, {}, entries, "[big] [hex] [more]", kMarker, pushed.Sink());
    EXPECT_EQ(r.text, "9223372036854775809 (!) 0A-00-2C [more]");
    EXPECT_EQ(r.code, kPollWarning);
    EXPECT_EQ(pushed.values.at(0).second, core::Reading::U64(0x8000000000000001ull));

    // An error status: one gap and every placeholder marked.
    answer.errorStatus = 2;
    client.answer = answer;
    Pushed errored;
    r = PollAgent(client, {}, entries, "[big]/[hex]/[big]", kMarker, errored.Sink());
    EXPECT_EQ(r.text, " (!)/ (!)/ (!)");
    EXPECT_EQ(r.code, kPollWarning);
    EXPECT_EQ(errored.gaps, 1);
    EXPECT_TRUE(errored.values.empty());
}

// What snmpd cannot be made to send, over the wire from snmpsimd: the
// extremes of each number type, a binary string, a typed address and an
// exception in the middle of the answer.
TEST(SnmpSimulatedAgent, ExtremeAndBinaryValuesSurviveTheWire) {
    if (!SnmpSimulator::Installed()) GTEST_SKIP() << "snmpsimd is not installed (Debian package snmpsim)";
    const SnmpSimulator sim(
        "1.3.6.1.2.1.1.1.0|4|Sim agent|forged %n {2*3}\n"
        "1.3.6.1.2.1.1.5.0|4|simhost\n"
        "1.3.6.1.4.1.99.1.0|2|-2147483648\n"
        "1.3.6.1.4.1.99.2.0|70|18446744073709551615\n"
        "1.3.6.1.4.1.99.3.0|4x|0a002c\n"
        "1.3.6.1.4.1.99.4.0|64|192.0.2.7\n"
        "1.3.6.1.4.1.99.5.0|66|4294967295\n"
        "1.3.6.1.4.1.99.6.0|4| 2500 units\n");
    ASSERT_TRUE(sim.Ready()) << "snmpsimd did not answer on " << sim.Agent();
    std::vector<OidEntry> entries = {Entry("desc"), Entry("min"), Entry("big"), Entry("hex", "", kCorrectHex),
                                     Entry("ip"), Entry("gauge"), Entry("num", "", kCorrectDiv100), Entry("none")};
    for (int i = 1; i <= 7; ++i) entries[i].value = "1.3.6.1.4.1.99." + std::to_string(i == 7 ? 9 : i) + ".0";
    entries[2].enableMax = true;
    entries[2].maxVal = -1;  // widened with its sign: only 2^64-1 reaches it
    Pushed pushed;
    const PollResult r = PollAgent(*MakeNetSnmpClient(), sim.Target(), entries,
                                   "[desc]; [min] [big] [hex] [ip] [gauge] [num] [none]", kMarker, pushed.Sink());
    EXPECT_EQ(r.code, kPollWarning);
    EXPECT_EQ(r.text,
              "Sim agent\xC2\xA6" "forged %n 6.00; -2147483648 18446744073709551615 (!) 0A-00-2C 192.0.2.7 "
              "4294967295 25.0  (!)");
    const std::vector<std::pair<std::string, core::Reading>> expected = {
        {"min", core::Reading::I32(INT32_MIN)}, {"big", core::Reading::U64(UINT64_MAX)},
        {"gauge", core::Reading::U32(UINT32_MAX)}, {"num", core::Reading::I32(2500)}};
    EXPECT_EQ(pushed.values, expected);
    EXPECT_EQ(pushed.gaps, 0);
}

// Between a poller and an agent ("127.0.0.1:port"): every datagram, either
// way, 50 ms late.
class DelayingRelay {
public:
    explicit DelayingRelay(const std::string& agent)
        : agentPort_(static_cast<uint16_t>(std::stoi(agent.substr(agent.find(':') + 1)))), thread_([this] { Run(); }) {}
    ~DelayingRelay() {
        running_ = false;
        thread_.join();
    }
    uint16_t Port() const { return front_.Port(); }

private:
    void Run() {
        while (running_) {
            sockaddr_in poller{};
            const std::optional<std::string> request = front_.Receive(std::chrono::milliseconds(100), &poller);
            if (!request) continue;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            back_.SendTo(agentPort_, *request);
            if (const std::optional<std::string> answer = back_.Receive(std::chrono::seconds(5))) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                front_.SendTo(ntohs(poller.sin_port), *answer);
            }
        }
    }
    UdpPeer front_, back_;
    const uint16_t agentPort_;
    std::atomic<bool> running_{true};
    std::thread thread_;
};

class SnmpModuleTest : public PollerTest<SnmpModule> {
protected:
    void Start(uint32_t repeatTimeout, const std::vector<SnmpAgentItem>& agents) {
        SnmpCommon common;
        common.enableService = 1;
        common.repeatTimeout = repeatTimeout;
        Add(RecordSet::Common, common);
        const std::string p = SnmpAgent::kPrivate;
        // The private values of the agent: -42, a counter of 1234, a day in
        // ticks and " -17abc".
        AddList(7,
                {Entry("desc"), Entry("int", p + "1.0"), Entry("cnt", p + "2.0", kCorrectDiv10),
                 Entry("up", p + "3.0"), Entry("num", p + "4.0", kCorrectToInt),
                 Entry("hex", "1.3.6.1.2.1.1.5.0", kCorrectHex)},
                "[desc]; [int] [cnt] [up] [num] [hex] [int] [nope] {[int]*2}");
        for (const SnmpAgentItem& agent : agents) Add(RecordSet::Item, agent);
        ASSERT_TRUE(module_->Start(Blocking::Yes));
    }
};

// A list's identity is its own: a new list gets one no other list has, not
// even a marked one or one made in the same second, and never 0 (which items
// without a list name), even in the epoch's first second; an edit keeps it,
// or takes a new one that is free. A file with lists that share an identity,
// or have 0, is mended as it loads. Entries are cut to their fields.
TEST_F(SnmpModuleTest, ListIdentitiesAreOwnAndNeverZeroAndEntriesAreCutToTheirFields) {
    core_.settings.beginUtc = platform::UnixSecondsNow() + 1000;  // the clock's seconds stay at 0
    const auto ids = [&] {
        std::vector<uint64_t> out;
        const std::vector<RecordCopy> lists = module_->Copy({RecordSet::List}).value();
        for (const RecordCopy& list : lists) out.push_back(list.As<OidList>().id);
        return out;
    };
    ASSERT_TRUE(module_->Add({RecordSet::List}, ListRecord(0, {Entry("desc"), Entry("cnt")}, "")));
    ASSERT_TRUE(module_->Add({RecordSet::List}, ListRecord(0, {}, "")));
    EXPECT_EQ(ids(), (std::vector<uint64_t>{1, 2}));
    // The new list takes the marked one's slot, not its identity.
    RecordCopy second = module_->Copy({RecordSet::List}).value().at(1);
    RecordCopy marked = second;
    marked.deleted = true;
    ASSERT_TRUE(module_->Replace({RecordSet::List}, 1, marked, second));
    ASSERT_TRUE(module_->Add({RecordSet::List}, ListRecord(0, {}, "")));
    EXPECT_EQ(ids(), (std::vector<uint64_t>{1, 3}));
    EXPECT_FALSE(module_->Add({RecordSet::List}, ListRecord(3, {}, "")));

    const RecordCopy stored = module_->Copy({RecordSet::List}).value().at(0);
    OidList renumbered = stored.As<OidList>();
    renumbered.id = 3;
    RecordCopy changed = RecordCopy::Of(renumbered);
    changed.entries = {stored.entries.at(0)};
    EXPECT_FALSE(module_->Replace({RecordSet::List}, 0, changed, stored));
    renumbered.id = 99;
    RecordCopy free = RecordCopy::Of(renumbered);
    free.entries = changed.entries;
    ASSERT_TRUE(module_->Replace({RecordSet::List}, 0, free, stored));
    EXPECT_EQ(ids(), (std::vector<uint64_t>{99, 3}));
    OidEntry extra;
    extra.tag = "a-tag-far-longer-than-sixteen";
    ASSERT_TRUE(module_->Add({RecordSet::Entry, 0}, RecordCopy::Of(extra)));
    EXPECT_EQ(module_->Copy({RecordSet::Entry, 0}).value().at(1).As<OidEntry>().tag, "a-tag-far-longe");

    TempDir home("qm-snmpids");
    core::Config config(home.path());
    std::ofstream(config.FileFor("mod_snmp"), std::ios::binary)
        << "[mod_snmp]\r\nVersion=2\r\nListCount=0300000003\r\nList.0-ID=070000000000000007\r\n"
           "List.1-ID=070000000000000007\r\nList.2-ID=000000000000000000\r\n";
    module_->Load(config.Open("mod_snmp", "mod_snmp"));
    EXPECT_EQ(ids(), (std::vector<uint64_t>{7, 1, 2}));
}

// The old whole-record form is not decoded; saving must not turn the agents
// and lists it holds into an empty section. (A home without the file gets
// the current form: the words tests save from one.)
TEST_F(SnmpModuleTest, ASectionInTheOldFormSurvivesALoadAndASave) {
    TempDir home("qm-snmplegacy");
    core::Config config(home.path());
    std::ofstream(config.FileFor("mod_snmp"), std::ios::binary)
        << "[mod_snmp]\r\nVersion=1\r\nCommon=01102700000000007B\r\nCount=1\r\nItem.0=00AB\r\n";
    module_->Load(config.Open("mod_snmp", "mod_snmp"));
    Add(RecordSet::Item, SnmpAgentItem{});
    core::SettingsSection out = config.BeginSave("mod_snmp", "mod_snmp");
    module_->SaveTo(out);
    ASSERT_TRUE(out.Commit());
    const core::SettingsSection reread = config.Open("mod_snmp", "mod_snmp");
    const std::pair<const char*, const char*> kept[] = {
        {"Version", "1"}, {"Item.0", "00AB"}, {"Count", "1"}, {"Common", "01102700000000007B"}};
    for (const auto& [key, value] : kept) EXPECT_EQ(reread.File().Get("mod_snmp", key), value) << key;
    EXPECT_FALSE(reread.File().Get("mod_snmp", "ItemCount"));
}

// One event per agent and cycle, from the agent's address, with the values
// typed as snmpd sends them; one that fails gives the request error and a gap.
TEST_F(SnmpModuleTest, EachAgentGivesOneEventPerCycleAndItsReadings) {
    if (!SnmpAgent::Installed()) GTEST_SKIP() << "snmpd is not installed (Debian package snmpd)";
    SnmpAgent agent;
    ASSERT_TRUE(agent.Ready());
    SnmpAgentItem good;
    good.name = agent.Agent();
    good.community = SnmpAgent::kCommunity;
    good.param = kParamToCollector;
    good.oidId = 7;
    SnmpAgentItem wrong = good;
    wrong.name = "localhost:" + agent.Agent().substr(agent.Agent().find(':') + 1);
    wrong.community = "wrong";
    wrong.timeout = 200;
    wrong.retries = 1;
    SnmpAgentItem noList = good;
    noList.oidId = 8;
    Start(300, {good, wrong, noList});
    ASSERT_TRUE(log_->WaitForSystem("Служба SNMP запущена"));
    const auto info = WaitForEvent("SNMP: Agent");
    ASSERT_TRUE(info);
    // The device's '|' can no longer start a relay suffix; its braces are
    // worked out like the format's own.
    EXPECT_EQ(info->Message(), "SNMP: Agent\xC2\xA6" "forged %n 2.00; -42 123.4 1 day 00:00:00 -17 "
                               "71-75-69-6C-6C-2D-61-67-65-6E-74 -42 [nope] -84.00");
    EXPECT_EQ(info->sender, "127.0.0.1");
    EXPECT_EQ(info->severity, 6u);
    EXPECT_FALSE(info->relayed);
    const auto failed = WaitForEvent("REQUEST_ERROR");
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->Message(), "SNMP: REQUEST_ERROR (!)");
    EXPECT_EQ(failed->sender, "255.255.255.255");
    EXPECT_EQ(failed->severity, 3u);
    ASSERT_TRUE(WaitUntil([&] {
        return Samples(good.name, "cnt").size() >= 2 && !Samples(wrong.name, "cnt").empty();
    }));
    EXPECT_TRUE(Samples(wrong.name, "cnt").front().gap);
    EXPECT_TRUE(module_->Stop(Blocking::Yes));
    EXPECT_TRUE(log_->WaitForSystem("Служба SNMP остановлена"));
    // Numbers go to the collector as typed, texts do not.
    EXPECT_EQ(core_.values->Tags(good.name),
              (std::vector<std::string>{"int (mod_snmp)", "cnt (mod_snmp)", "up (mod_snmp)", "num (mod_snmp)"}));
    const std::pair<const char*, core::Reading> readings[] = {{"int", core::Reading::I32(-42)}, {"cnt", core::Reading::U32(1234)},
                                                        {"up", core::Reading::U32(8640000)}, {"num", core::Reading::I32(-17)}};
    for (const auto& [tag, reading] : readings) EXPECT_EQ(Samples(good.name, tag).front().value, reading) << tag;
    // An item whose list is missing never gives an event: every event came
    // from the two others, in step.
    const size_t all = Events("SNMP: "), errors = Events("REQUEST_ERROR");
    EXPECT_LE(all - errors, errors + 1);
    EXPECT_LE(errors, all - errors);

    // The client underneath: one typed value per OID in order; a failed OID
    // conversion and a wrong community are failed requests.
    const std::string p = SnmpAgent::kPrivate;
    const auto client = MakeNetSnmpClient();
    const auto r = client->Get(agent.Target(), {".1.3.6.1.2.1.31.1.1.1.6.1", ".1.3.6.1.2.1.4.20.1.1.127.0.0.1",
                                                p + "77.0", p + "3.0"});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->errorStatus, 0);
    ASSERT_EQ(r->values.size(), 4u);
    EXPECT_EQ(r->values[0].type, kTypeCounter64);
    EXPECT_EQ(r->values[1].type, kTypeIpAddress);
    EXPECT_EQ(r->values[1].bytes, std::string("\x7f\0\0\x01", 4));
    EXPECT_EQ(r->values[2].type, kTypeNoSuchObject);
    EXPECT_EQ(r->values[3].type, kTypeTimeTicks);
    EXPECT_FALSE(client->Get(agent.Target(), {"1.3.6.x"}));
    EXPECT_FALSE(client->Get(agent.Target("wrong", 200, 1), {"1.3.6.1.2.1.1.5.0"}));
}

// Stop does not wait for the rest of a cycle of agents that do not answer:
// the agent being asked is the last.
TEST_F(SnmpModuleTest, StopEndsACycleAfterTheAgentBeingAsked) {
    std::vector<SnmpAgentItem> dead(3);
    for (SnmpAgentItem& item : dead) {
        item.name = "127.0.0.1:" + std::to_string(FreePort());
        item.timeout = 1500;
        item.retries = 1;
        item.oidId = 7;
    }
    Start(60000, dead);
    ASSERT_TRUE(WaitForEvent("REQUEST_ERROR"));
    ASSERT_TRUE(module_->Stop(Blocking::Yes));
    EXPECT_LE(Events("REQUEST_ERROR"), 2u);
}

// Stop does not wait out the request in flight: an agent that reads and
// never answers, asked with a minute's time-out and five retries, holds a
// Stop for no more than a slice of the wait, and leaves no error behind.
TEST_F(SnmpModuleTest, StopDoesNotWaitForTheRequestInFlight) {
    UdpPeer silent;
    SnmpAgentItem item;
    item.name = "127.0.0.1:" + std::to_string(silent.Port());
    item.timeout = 60000;
    item.retries = 5;
    item.oidId = 7;
    Start(60000, {item});
    ASSERT_TRUE(silent.Receive(std::chrono::seconds(30)));
    auto stopped = std::async(std::launch::async, [&] { return module_->Stop(Blocking::Yes); });
    EXPECT_EQ(stopped.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(stopped.get());
    EXPECT_EQ(Events("REQUEST_ERROR"), 0u);
}

// A time-out of 0 (an agent made by script, a missing key) is a second, not
// no time at all: an agent whose answers take 50 ms on their way is read.
TEST_F(SnmpModuleTest, ATimeoutOfZeroWaitsForASlowAgent) {
    if (!SnmpAgent::Installed()) GTEST_SKIP() << "snmpd is not installed (Debian package snmpd)";
    SnmpAgent agent;
    ASSERT_TRUE(agent.Ready());
    const DelayingRelay relay(agent.Agent());
    SnmpAgentItem item;
    item.name = "127.0.0.1:" + std::to_string(relay.Port());
    item.community = SnmpAgent::kCommunity;
    item.timeout = 0;
    item.retries = 1;
    item.oidId = 7;
    Start(60000, {item});
    EXPECT_TRUE(WaitForEvent("SNMP: Agent", std::chrono::seconds(30)));
    EXPECT_EQ(Events("REQUEST_ERROR"), 0u);
    EXPECT_TRUE(module_->Stop(Blocking::Yes));
}

// The name resolution asks the agent for its sysName with its own session,
// at port 161 as devices answer it; the module lock plays no part.
TEST_F(SnmpModuleTest, SystemNamesForTheNameResolution) {
    if (!SnmpAgent::Installed()) GTEST_SKIP() << "snmpd is not installed (Debian package snmpd)";
    SnmpAgent agent;
    ASSERT_TRUE(agent.Ready());
    {
        platform::GuardedLock held(module_->Lock(), core_.counters.locks, Blocking::Yes);
        EXPECT_EQ(module_->QuerySystemName(agent.Agent()), "quill-agent");  // a cycle holds the lock
    }
    EXPECT_FALSE(module_->QuerySystemName("127.0.0.1:" + std::to_string(FreePort())));

    if (!UdpPeer("127.0.0.1", 161).Ok())
        GTEST_SKIP() << "port 161 of 127.0.0.1 is taken: the name resolution's step not checked";
    SnmpAgent standard(161);
    ASSERT_TRUE(standard.Ready());
    TempDir home("qm-snmpdns");
    core_.paths.resourceFolder = home.path();
    processing::DnsModule dns(core_, [](const platform::SocketAddress&) { return platform::HostNameLookup{}; });
    dns.Load(core::SettingsSection({}, "mod_dns", {}));
    processing::DnsResolver r = processing::DefaultResolver();
    r.param = processing::kDnsSnmp;
    ASSERT_TRUE(dns.ReplaceRecord(0, r));
    module_->OfferSystemNamesTo(dns);
    EXPECT_TRUE(WaitUntil([&] { return dns.NameFor("127.0.0.1") == "quill-agent"; }));
    module_.reset();  // takes its offer back before the name resolution goes
}

TEST(SnmpWords, SetBlocksMakeAndChangeAgentsAndListsAndTheEchoPrintsThem) {
    ProgramCore program(FreePort());
    // Fresh list UIDs count seconds from BeginUTC, which a new home sets to now.
    program.core.settings.beginUtc -= 1000;
    script::ModuleNodes nodes(*program.core.registry);
    script::ScriptEnvironment env = script::EnvironmentFor(program.core, nodes);
    const auto run = [&](std::string_view text) { return script::RunScript(text, env).text; };
    run("#set:mod_snmp=10.0.0.5:1161{#set:community=a-community-too-long;#set:tmo=100;#set:retries=5;"
        "#set:chart=1;#set:en=1}");
    EXPECT_EQ(run("#echo:mod_snmp.item=0"),
              "0.Delete=0\r\n0.Enable=1\r\n0.OIDListID=0\r\n0.Param=80\r\n0.Retries=5\r\n0.Timeout=5000\r\n"
              "0.Name=10.0.0.5:1161\r\n0.Community=a-community-too\r\nOK (mod_snmp): Complete");
    run("#set:mod_snmp=10.0.0.5:1161{#set:reset=1;#set:retries=99}#set:mod_snmp{#set:rpt=1000;#set:en=1}");
    EXPECT_EQ(run("#echo:mod_snmp.item.0"),
              "0.Delete=0\r\n0.Enable=0\r\n0.OIDListID=0\r\n0.Param=80\r\n0.Retries=1\r\n0.Timeout=5000\r\n"
              "0.Name=10.0.0.5:1161\r\n0.Community=public\r\nOK (mod_snmp): Complete");
    EXPECT_EQ(run("#echo:mod_snmp.common"), "EnableService=1\r\nRepeatTimeout=1000\r\nOK (mod_snmp): Complete");

    // An OID list made in one block, the correction code from its number;
    // an agent then names the list.
    const script::ScriptRun made = script::RunScript(
        "#set:mod_snmp.list=sys{#set:uid=42;#set:enable=1;#set:format=[desc] up [up];#set:push=desc;#set:push=DESC;"
        "#set:oid|Desc=.1.3.6.1.2.1.1.1.0;#set:oid|up=1.3.6.1.2.1.1.3.0;#set:correct|up=100;#set:max|up=1;"
        "#set:maxval|up=-5}#set:mod_snmp=10.0.0.5:1161{#set:oid=SYS}#call:mod_snmp.save",
        env);
    EXPECT_EQ(made.failures, 0u) << made.text;
    EXPECT_EQ(run("#echo:mod_snmp.list"),
              "0.Delete=0\r\n0.Enable=1\r\n0.CmdListID=2\r\n0.UID=42\r\n0.Name=sys\r\n0.StringFormat=[desc] up [up]\r\n"
              "0.0\tEnableMax=0\r\n0.0\tEnableMin=0\r\n0.0\tMax=0\r\n0.0\tMin=0\r\n0.0\tCorrect=0\r\n"
              "0.0\tTag=desc\r\n0.0\tValue=.1.3.6.1.2.1.1.1.0\r\n"
              "0.1\tEnableMax=1\r\n0.1\tEnableMin=0\r\n0.1\tMax=-5\r\n0.1\tMin=0\r\n0.1\tCorrect=32\r\n"
              "0.1\tTag=up\r\n0.1\tValue=1.3.6.1.2.1.1.3.0\r\nOK (mod_snmp): Complete");
    EXPECT_NE(run("#echo:mod_snmp.item.0").find("0.OIDListID=42\r\n"), std::string::npos);
    const platform::ProfileFile saved = platform::ProfileFile::Load(program.home.Settings("mod_snmp"));
    EXPECT_EQ(saved.Get("mod_snmp", "Item.0-StrName"), "10.0.0.5:1161");
    EXPECT_EQ(saved.Get("mod_snmp", "List.0-item.1-StrTag"), "up");
    EXPECT_EQ(saved.Get("mod_snmp", "List.0-item.1-StrValue"), "1.3.6.1.2.1.1.3.0");
    for (const char* key : {"Common.RepeatTimeout", "Item.0-StrCommunity", "Item.0-OIDID", "List.0-item.1-Correct"})
        EXPECT_TRUE(saved.Get("mod_snmp", key)) << key;
    // The module holds the list with both entries, not only the copy the echo saw.
    core::RecordSets& records = *program.core.registry->Find(core::kModuleSnmp)->Records();
    EXPECT_EQ(records.Copy({RecordSet::Entry, 0})->size(), 2u);
    // The name word with a pipe text renames that entry's tag; the list's
    // reset empties it and keeps its identity; a list without one gets one.
    run("#set:mod_snmp.list=sys{#set:name|UP=uptime}");
    EXPECT_NE(run("#echo:mod_snmp.list").find("0.1\tTag=uptime\r\n"), std::string::npos);
    run("#set:mod_snmp.list=sys{#set:reset=1}#set:mod_snmp.list=other{#set:uid=-1;#set:push=x;#set:reset=1}");
    const std::string lists = run("#echo:mod_snmp.list");
    EXPECT_NE(lists.find("0.CmdListID=0\r\n0.UID=42\r\n"), std::string::npos) << lists;
    EXPECT_NE(lists.find("1.Enable=0\r\n1.CmdListID=0\r\n"), std::string::npos) << lists;
    EXPECT_EQ(lists.find("1.UID=0\r\n"), std::string::npos) << lists;
    EXPECT_EQ(lists.find("\tTag="), std::string::npos) << lists;
}

// Lists made by script in one second, the epoch's first, each get their
// own identity, and never 0; "uid" on a list that exists takes a free one
// and is refused (reply 1) for one another list has.
TEST(SnmpWords, ListIdentitiesFromScriptsAreOwnAndATakenOneIsRefused) {
    ProgramCore program(FreePort());
    program.core.settings.beginUtc = platform::UnixSecondsNow() + 1000;  // the clock's seconds stay at 0
    script::ModuleNodes nodes(*program.core.registry);
    script::ScriptEnvironment env = script::EnvironmentFor(program.core, nodes);
    const auto uids = [&] {
        std::string out;
        const std::string echo = script::RunScript("#echo:mod_snmp.list", env).text;
        for (size_t at = echo.find(".UID="); at != std::string::npos; at = echo.find(".UID=", at + 1))
            out += echo.substr(at + 5, echo.find('\r', at) - at - 5) + " ";
        return out;
    };
    const script::ScriptRun made = script::RunScript(
        "#set:mod_snmp.list=a{#set:uid=0}#set:mod_snmp.list=b{#set:reset=1}#set:mod_snmp.list=c{#set:uid=5}", env);
    EXPECT_EQ(made.failures, 0u) << made.text;
    EXPECT_EQ(uids(), "1 2 5 ");
    const script::ScriptRun taken = script::RunScript("#set:mod_snmp.list=a{#set:uid=2}", env);
    EXPECT_EQ(taken.failures, 1u);
    EXPECT_NE(taken.text.find("FAIL (_SET_) -> \"uid\": Unknown request"), std::string::npos) << taken.text;
    EXPECT_EQ(script::RunScript("#set:mod_snmp.list=a{#set:uid=40}#set:mod_snmp.list=c{#set:uid=5}", env).failures, 0u);
    EXPECT_EQ(uids(), "40 2 5 ");
}

}  // namespace
}  // namespace qm::polling::snmp
