// The command handlers on the real modules of a core started in a
// temporary home: what the echo prints, what a set block changes, the
// fallbacks of the word rules, and a busy module.
#include "script/module_commands.h"

#include <gtest/gtest.h>

#include <thread>

#include "core/core_context.h"
#include "platform/profile_file.h"
#include "platform/sync.h"
#include "script/module_nodes.h"
#include "script/script_interpreter.h"
#include "support/program_core.h"
#include "support/udp_peer.h"
#include "transport/collector/collector_module.h"
#include "transport/relay/relay_module.h"

namespace qm::script {
namespace {

using qm::testing::ProgramHome;

class ModuleCommandsTest : public ::testing::Test {
protected:
    std::string Run(std::string_view text) { return RunScript(text, env_).text; }

    uint16_t port_ = qm::testing::FreePort();
    qm::testing::ProgramCore program_{port_};
    ProgramHome& home_ = program_.home;
    core::CoreContext& core_ = program_.core;
    // Made after the modules have loaded, gone before they unload.
    ModuleNodes nodes_{*core_.registry};
    ScriptEnvironment env_ = EnvironmentFor(core_, nodes_);
};

TEST_F(ModuleCommandsTest, EchoPrintsTheTablesFormsAndFiltersItems) {
    EXPECT_EQ(Run("#echo:mod_collector"), "OK (mod_collector): Complete");
    EXPECT_EQ(Run("#echo:mod_dbase.common"),
              "EventParam=38\r\nMsgLimit=8000\r\nTimeout=10000\r\nLastLogFile=log_last.log\r\n"
              "LogFormat=%s|a2;%s;%u %u %u %u %u %u %u;\r\nOK (mod_dbase): Complete");
    EXPECT_EQ(Run("#echo:mod_collector.item"),
              "0.Delete=0\r\n0.Enable=1\r\n0.RecvTimeout=1000\r\n0.SendTimeout=1000\r\n0.Param=0\r\n0.Port=" +
                  std::to_string(port_) +
                  "\r\n0.Name=127.0.0.1\r\n0.Server=\r\n0.Proto=0\r\n0.CertFile=\r\n0.KeyFile=\r\n0.CAFile=\r\n0.IdleTimeout=600000\r\n"
                  "OK (mod_collector): Complete");
    // Two new relay targets, then one of them alone, by value and by path.
    EXPECT_EQ(Run("#set:mod_relay=A{#set:port=1514;#set:ext=1}#set:mod_relay=B{#set:port=70000}"),
              " * SET node found: mod_relay\r\n * SET node found: mod_relay\r\n * SET node found: mod_relay");
    const std::string second =
        "1.Delete=0\r\n1.Enable=0\r\n1.EventParam=0\r\n1.Port=514\r\n1.Name=B\r\n1.Proto=0\r\n1.CAFile=\r\nOK (mod_relay): Complete";
    EXPECT_EQ(Run("#echo:mod_relay.item=1"), second);
    EXPECT_EQ(Run("#echo:mod_relay.item.1"), second);
    EXPECT_NE(Run("#echo:mod_relay.item").find("0.Port=1514\r\n0.Name=A\r\n0.Proto=0\r\n0.CAFile=\r\n1.Delete=0"), std::string::npos);
    EXPECT_EQ(Run("#echo:mod_relay.item.0").substr(0, 41), "0.Delete=0\r\n0.Enable=0\r\n0.EventParam=20\r\n");

    // A stream destination by its protocol's name or number, with its CA
    // file; a name the word does not know changes nothing.
    Run("#set:mod_relay=B{#set:proto=TLS;#set:ca=pki/central-ca.pem}");
    EXPECT_NE(Run("#echo:mod_relay.item.1").find("1.Name=B\r\n1.Proto=2\r\n1.CAFile=pki/central-ca.pem\r\n"), std::string::npos);
    EXPECT_EQ(Run("#set:mod_relay=B{#set:proto=tpc}"),
              " * SET node found: mod_relay\r\nFAIL (_SET_) -> \"proto\": Syntax error");
    Run("#set:mod_relay=B{#set:proto=1}");
    EXPECT_NE(Run("#echo:mod_relay.item.1").find("1.Proto=1\r\n"), std::string::npos);
    Run("#set:mod_relay=B{#set:reset=1}");
    EXPECT_NE(Run("#echo:mod_relay.item.1").find("1.Proto=0\r\n1.CAFile=\r\n"), std::string::npos);
    // The same address over TCP is a destination of its own, named by its protocol.
    Run("#set:mod_relay.tcp=B{#set:port=6514}#set:mod_relay.tcp=B{#set:en=1}#set:mod_relay.udp=B{#set:port=1514}");
    EXPECT_NE(Run("#echo:mod_relay.item.1").find("1.Port=1514\r\n1.Name=B\r\n1.Proto=0\r\n"), std::string::npos);
    EXPECT_EQ(Run("#echo:mod_relay.item.2"),
              "2.Delete=0\r\n2.Enable=1\r\n2.EventParam=0\r\n2.Port=6514\r\n2.Name=B\r\n2.Proto=1\r\n2.CAFile=\r\nOK (mod_relay): Complete");
    EXPECT_NE(Run("#echo:mod_relay.common").find("RepeatTimeout=10000\r\nBacklogSize=64\r\n"), std::string::npos);
    Run("#set:mod_relay{#set:backlog=5000}#set:mod_relay{#set:backlog_size=256}");
    EXPECT_NE(Run("#echo:mod_relay.common").find("BacklogSize=256\r\n"), std::string::npos);
}

TEST_F(ModuleCommandsTest, SetBlocksApplyTheWordRulesAndReplyAsDesigned) {
    auto* dbase = core_.registry->Find(core::kModuleDbase)->Records();
    const auto timeout = [&] { return core::FieldNumber(*dbase->CopyCommon()->Find("Timeout"), dbase->CopyCommon()->Data()); };
    // Out of range takes the row's fallback; in range is kept.
    EXPECT_EQ(Run("#set:mod_dbase{#set:timeout=50;}"), " * SET node found: mod_dbase");
    EXPECT_EQ(timeout(), 10000);
    Run("#set:mod_dbase{#set:timeout=900;#set:ext=0}");
    EXPECT_EQ(timeout(), 900);
    EXPECT_EQ(Run("#echo:mod_dbase.common").substr(0, 14), "EventParam=18\r");
    // A target the database does not have; a top-level change; a reset
    // without a value; the refused words of a DNS resolver.
    EXPECT_EQ(Run("#set:mod_dbase=NoSuchTarget{#set:enable=0}"), "FAIL (_SET_) -> \"mod_dbase\": Deprecated method");
    EXPECT_EQ(Run("#set:mod_dbase.timeout=5000"), "FAIL (_SET_) -> \"mod_dbase\": Deprecated method");
    EXPECT_EQ(Run("#set:mod_dbase{#set:reset}"),
              " * SET node found: mod_dbase\r\nFAIL (_SET_) -> \"reset\": Syntax error");
    Run("#set:mod_dbase{#set:reset=1}");
    EXPECT_EQ(timeout(), 10000);
    EXPECT_EQ(Run("#set:mod_dbase{#set:nosuchword=1}"),
              " * SET node found: mod_dbase\r\nFAIL (_SET_) -> \"nosuchword\": Unknown request");
    EXPECT_EQ(Run("#set:mod_dbase{#set:_APPLY_=1}"),
              " * SET node found: mod_dbase\r\nFAIL (_SET_) -> \"_APPLY_\": Unknown request");
    // A log target's rotation and retention, by either spelling; out of range is off.
    const auto target = [&] { return Run("#echo:mod_dbase.item.0"); };
    EXPECT_NE(target().find("0.RotateSize=0\r\n0.RotateMidnight=0\r\n0.KeepFiles=0\r\n0.KeepDays=0\r\nOK"), std::string::npos);
    Run("#set:mod_dbase=Default{#set:rotatesize=100;#set:rotate_midnight=1;#set:keep_files=5;#set:keepdays=30}");
    EXPECT_NE(target().find("0.RotateSize=100\r\n0.RotateMidnight=1\r\n0.KeepFiles=5\r\n0.KeepDays=30\r\n"), std::string::npos)
        << target();
    Run("#set:mod_dbase=Default{#set:rotate_size=2000000;#set:keepdays=36501}");
    EXPECT_NE(target().find("0.RotateSize=0\r\n0.RotateMidnight=1\r\n0.KeepFiles=5\r\n0.KeepDays=0\r\n"), std::string::npos);
    Run("#set:mod_dbase=Default{#set:reset=1}");
    EXPECT_NE(target().find("0.RotateSize=0\r\n0.RotateMidnight=0\r\n0.KeepFiles=0\r\n0.KeepDays=0\r\n"), std::string::npos);
    Run("#set:mod_dns{#set:reset=1}");  // a resolver the default home has not: no edit is open
    EXPECT_NE(Run("#set:mod_dns{#set:enable=1}").find("Deprecated method"), std::string::npos);

    // A new listener with the collector's own defaults; a cut name; text
    // cut to its length; deleted by word and kept as a marked slot.
    const std::string name(40, 'n');
    Run("#set:mod_collector=" + name + "{#set:server=" + std::string(50, 's') + ";#set:srvcheck=1;#set:enable=0}");
    const std::string items = Run("#echo:mod_collector.item.1");
    EXPECT_NE(items.find("1.RecvTimeout=60000\r\n1.SendTimeout=5000\r\n1.Param=C0\r\n1.Port=514\r\n1.Name=" +
                         std::string(31, 'n') + "\r\n1.Server=" + std::string(31, 's') + "\r\n"),
              std::string::npos)
        << items;
    EXPECT_NE(items.find("1.IdleTimeout=600000\r\n"), std::string::npos) << items;
    Run("#set:mod_collector=" + std::string(31, 'N') + "{#set:delete=1}");
    EXPECT_EQ(Run("#echo:mod_collector.item.1").substr(0, 12), "1.Delete=1\r\n");
}

// A TCP or TLS listener beside the UDP one on the same address: the
// protocol after the module's name tells them apart, and names the
// protocol of a listener it adds.
TEST_F(ModuleCommandsTest, CollectorItemsOfOneAddressAreToldApartByTheirProtocol) {
    const auto item = [&](int i, const std::string& line) {
        return Run("#echo:mod_collector.item." + std::to_string(i)).find(std::to_string(i) + "." + line + "\r\n") !=
               std::string::npos;
    };
    EXPECT_EQ(Run("#set:mod_collector.tcp=127.0.0.1{#set:port=1514}"), " * SET node found: mod_collector");
    EXPECT_TRUE(item(1, "Proto=1") && item(1, "Port=1514") && item(1, "Name=127.0.0.1"));
    EXPECT_TRUE(item(0, "Proto=0") && item(0, "Port=" + std::to_string(port_)));
    Run("#set:mod_collector.TLS=127.0.0.1{#set:port=6514;#set:cert=tls/cert.pem;#set:key=/etc/qm/key.pem;#set:ca=tls/ca.pem}");
    EXPECT_TRUE(item(2, "Proto=2") && item(2, "CertFile=tls/cert.pem") && item(2, "KeyFile=/etc/qm/key.pem") &&
                item(2, "CAFile=tls/ca.pem"));
    // Each edits its own; without a protocol the first of the name answers.
    Run("#set:mod_collector.tcp=127.0.0.1{#set:port=2514}#set:mod_collector.udp=127.0.0.1{#set:send=7000}");
    Run("#set:mod_collector=127.0.0.1{#set:recv=8000}");
    EXPECT_TRUE(item(1, "Port=2514") && item(2, "Port=6514") && item(0, "SendTimeout=7000") && item(0, "RecvTimeout=8000"));
    // The word takes a name or its number; anything else changes nothing.
    EXPECT_EQ(Run("#set:mod_collector.tcp=127.0.0.1{#set:proto=sctp;#set:proto=3}"),
              " * SET node found: mod_collector\r\nFAIL (_SET_) -> \"proto\": Syntax error\r\n"
              " * SET node found: mod_collector\r\nFAIL (_SET_) -> \"proto\": Syntax error");
    EXPECT_EQ(Run("#set:mod_collector.sctp=127.0.0.1{#set:port=1}"), "FAIL (_SET_) -> \"mod_collector\": Syntax error");
    Run("#set:mod_collector.tcp=127.0.0.1{#set:proto=2}");
    EXPECT_TRUE(item(1, "Proto=2"));
    EXPECT_EQ(Run("#echo:mod_collector.item").find("3.Delete"), std::string::npos) << "no listener was added";
}

TEST_F(ModuleCommandsTest, CallsActOnTheModuleAndABusyModuleIsACollision) {
    auto* collector = core_.registry->FindAs<transport::CollectorModule>(core::kModuleCollector);
    ASSERT_EQ(collector->BoundPort(0), port_);
    Run("#call:mod_collector.stop");
    EXPECT_EQ(collector->BoundPort(0), 0);
    Run("#call:mod_collector.start");
    EXPECT_EQ(collector->BoundPort(0), port_);
    EXPECT_EQ(Run("#call:mod_collector.nosuchword"), "");
    EXPECT_EQ(Run("#call:mod_dbase.nosuchword"), "FAIL (mod_dbase): Unknown request");

    // A port changed and saved by script is in the file.
    Run("#set:mod_relay=Saved{#set:port=1999}#call:mod_relay.save");
    const platform::ProfileFile saved = platform::ProfileFile::Load(home_.Settings("mod_relay"));
    EXPECT_EQ(saved.Get("mod_relay", "Item.0-StrName"), "Saved");

    // While another thread holds the relay's lock: the echo, an edit and a
    // save fail at once with a collision each, and nothing is written.
    const uint32_t collisions = core_.counters.locks.collisions.load();
    platform::CriticalSection& lock = core_.registry->Find(core::kModuleRelay)->Lock();
    platform::ManualResetEvent held, release;
    std::thread holder([&] {
        lock.Enter();
        held.Set();
        release.Wait();
        lock.Leave();
    });
    ASSERT_TRUE(held.Wait(std::chrono::seconds(30)));
    EXPECT_EQ(Run("#echo:mod_relay.common;#set:mod_relay{#set:enable=1}#call:mod_relay.save"),
              "FAIL (mod_relay): Collision\r\nFAIL (_SET_) -> \"mod_relay\": System error");
    release.Set();
    holder.join();
    EXPECT_GE(core_.counters.locks.collisions.load(), collisions + 3);
}

TEST_F(ModuleCommandsTest, AnEditBelongsToTheThreadThatOpenedIt) {
    ScriptNode* relay = nodes_.Find("MOD_RELAY");
    ASSERT_NE(relay, nullptr);
    const auto set = [&](std::string_view word, std::optional<std::string> value) {
        ScriptOutput out;
        return relay->Set(out, word, {}, std::nullopt, value);
    };
    ASSERT_EQ(set("_MODIFY_", "T"), kReplyOk);
    std::thread other([&] {
        EXPECT_EQ(set("_MODIFY_", std::nullopt), kReplySyntaxError);
        EXPECT_EQ(set("port", "1"), kReplySyntaxError);
        EXPECT_EQ(set("_APPLY_", std::nullopt), kReplySyntaxError);
    });
    other.join();
    EXPECT_EQ(set("port", "777"), kReplyOk);
    EXPECT_EQ(set("_APPLY_", std::nullopt), kReplyOk);
    auto* module = core_.registry->FindAs<transport::RelayModule>(core::kModuleRelay);
    EXPECT_EQ(module->Record(0)->port, 777);
    // A record changed by someone else between copy and apply is not
    // overwritten with the stale copy.
    ASSERT_EQ(set("_MODIFY_", "t"), kReplyOk);
    ASSERT_EQ(set("port", "888"), kReplyOk);
    transport::RelayDestination changed = *module->Record(0);
    changed.eventParam = 0x10;
    ASSERT_TRUE(module->ReplaceRecord(0, changed));
    EXPECT_EQ(set("_APPLY_", std::nullopt), kReplySystemError);
    EXPECT_EQ(module->Record(0)->port, 777);
}

// The mod_icmp words on the module as the program's catalog loads it:
// printed names, ranges with their fallbacks, a new host and the resets.
TEST_F(ModuleCommandsTest, IcmpCommonAndHostWordsKeepTheirRanges) {
    ASSERT_NE(core_.registry->Find(core::kModuleIcmp), nullptr) << "the catalog loads mod_icmp";
    Run("#set:mod_icmp{#set:pkt=5000;#set:rcv=0;#set:snd=2000;#set:rpt=900;#set:ip=1}");
    EXPECT_EQ(Run("#echo:mod_icmp.common"),
              "EnableService=0\r\nRealIP=1\r\nRecvTimeout=5000\r\nSendTimeout=2000\r\nPacketSize=32\r\n"
              "RepeatTimeout=900\r\nOK (mod_icmp): Complete");

    Run("#set:mod_icmp=127.0.0.1{#set:fmt=up [msec] ms;#set:maxval=-5;#set:max=1;#set:chart=1;#set:en=1}");
    EXPECT_EQ(Run("#echo:mod_icmp.item.0"),
              "0.Delete=0\r\n0.Enable=1\r\n0.EnableMax=1\r\n0.EnableMin=0\r\n0.MaxVal=-5\r\n0.MinVal=0\r\n"
              "0.Param=80\r\n0.Format=up [msec] ms\r\n0.Name=127.0.0.1\r\nOK (mod_icmp): Complete");
    Run("#set:mod_icmp=127.0.0.1{#set:reset=1}#set:mod_icmp{#set:reset=1}");
    EXPECT_EQ(Run("#echo:mod_icmp.item.0"),
              "0.Delete=0\r\n0.Enable=0\r\n0.EnableMax=0\r\n0.EnableMin=0\r\n0.MaxVal=0\r\n0.MinVal=0\r\n"
              "0.Param=80\r\n0.Format=[msec]\r\n0.Name=127.0.0.1\r\nOK (mod_icmp): Complete");
    EXPECT_EQ(Run("#echo:mod_icmp.common"),
              "EnableService=0\r\nRealIP=0\r\nRecvTimeout=5000\r\nSendTimeout=5000\r\nPacketSize=32\r\n"
              "RepeatTimeout=10000\r\nOK (mod_icmp): Complete");
    EXPECT_EQ(Run("#call:mod_icmp.nosuchword"), "FAIL (mod_icmp): Unknown request");
}

// A host renamed to another host's address is refused, and the failure
// line says why; the host keeps its own address.
TEST_F(ModuleCommandsTest, IcmpRefusesASecondHostWithOneAddressSayingWhy) {
    const std::string made = Run("#set:mod_icmp=192.0.2.1{#set:en=1}#set:mod_icmp=192.0.2.2{#set:en=1}");
    EXPECT_EQ(made.find("FAIL"), std::string::npos) << made;
    const std::string refused = Run("#set:mod_icmp=192.0.2.2{#set:name=192.0.2.1}");
    EXPECT_NE(refused.find("FAIL (_SET_) -> \"mod_icmp\": System error: Узел 192.0.2.1 уже есть в списке ICMP"),
              std::string::npos)
        << refused;
    const std::string hosts = Run("#echo:mod_icmp.item");
    EXPECT_NE(hosts.find("0.Name=192.0.2.1\r\n"), std::string::npos) << hosts;
    EXPECT_NE(hosts.find("1.Name=192.0.2.2\r\n"), std::string::npos) << hosts;
}

// List mode, on the one module with lists of entries that exists today (the
// rules' match lists, whose entries are tagged by their value), through a
// word table of the test's own.
TEST_F(ModuleCommandsTest, ListModeEditsAListAndItsEntriesAsOneChange) {
    ModuleWords words;
    words.module = "mod_lists";
    words.item = {{{"list"}, ListRef("InListID1")}};
    words.list = {{{"enable"}, Flag("Enable")}, {{"uid"}, ListUid("UID")}, {{"push"}, Push()},
                  {{"pop"}, Pop()},         {{"value"}, Entry(Text("StrValue", 127))}};
    words.printedItem = {{"Name", "StrName", PrintForm::Text}, {"List", "InListID1", PrintForm::Signed64}};
    words.printedList = {{"Name", "StrName", PrintForm::Text}, {"UID", "UID", PrintForm::Signed64}};
    words.printedEntry = {{"Value", "StrValue", PrintForm::Text}};
    words.entryTagKey = "StrValue";
    core::Module& rules = *core_.registry->Find(core::kModuleRules);
    ModuleCommands node(rules, *rules.Records(), words);
    env_.findNode = [&](std::string_view name) -> ScriptNode* { return SameWord(name, "mod_lists") ? &node : nullptr; };

    // Push adds a tag once (tags compare without case); an entry word takes
    // the entry its pipe text names or appends one; nothing shows before the apply.
    const ScriptRun made = RunScript(
        "#set:mod_lists.list=hosts{#set:uid=77;#set:enable=1;#set:push=alpha;#set:push=beta;#set:push=ALPHA;"
        "#set:value|gamma=gamma;#echo:mod_lists.list}",
        env_);
    EXPECT_EQ(made.failures, 0u) << made.text;
    EXPECT_NE(made.text.find("OK (mod_lists): Complete"), std::string::npos);
    EXPECT_EQ(made.text.find("0.Name=hosts"), std::string::npos);
    const std::string hosts = "0.Name=hosts\r\n0.UID=77\r\n0.0\tValue=alpha\r\n0.1\tValue=beta\r\n0.2\tValue=gamma\r\n";
    EXPECT_EQ(Run("#echo:mod_lists.list"), hosts + "OK (mod_lists): Complete");

    // Pop removes the tag wherever it is; an entry word without a tag is a
    // syntax error, and the block's other changes are applied all the same.
    EXPECT_EQ(RunScript("#set:mod_lists.list=HOSTS{#set:pop=Alpha;#set:value=x}", env_).failures, 1u);
    EXPECT_EQ(Run("#echo:mod_lists.list.0"),
              "0.Name=hosts\r\n0.UID=77\r\n0.0\tValue=beta\r\n0.1\tValue=gamma\r\nOK (mod_lists): Complete");

    // An item refers to a list by its name, or to none.
    Run("#set:mod_lists=r1{#set:list=Hosts}#set:mod_lists=r2{#set:list=nowhere}");
    EXPECT_EQ(Run("#echo:mod_lists.item"), "0.Name=r1\r\n0.List=77\r\n1.Name=r2\r\n1.List=0\r\nOK (mod_lists): Complete");
}

}  // namespace
}  // namespace qm::script
