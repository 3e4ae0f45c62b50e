// The SNMP poller as a module: its records, its saved settings and its
// service against a real snmpd, with events in the queue and readings in
// the value collector.
#include <gtest/gtest.h>

#include "core/config.h"
#include "polling/snmp/snmp_module.h"
#include "polling/snmp_agent.h"
#include "processing/dns/dns_settings.h"
#include "support/temp_dir.h"
#include "transport/transport_test_support.h"

namespace qm::polling::snmp {
namespace {

using core::RecordCopy;
using core::RecordSet;
using namespace std::chrono_literals;

class SnmpModuleTest : public testing::ModuleTest<SnmpModule> {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        core_.values = std::make_unique<ValueCollector>([] { return 1000u; });
    }
};

OidList TestList(uint64_t id) {
    OidList list;
    list.id = id;
    list.name = "test";
    list.outFormat = "Description: [desc] cnt=[cnt]";
    OidEntry desc;
    OidEntry cnt;
    cnt.value = std::string(testing::SnmpAgent::kPrivate) + "2.0";
    cnt.tag = "cnt";
    cnt.correct = kCorrectDiv10;
    list.entries = {desc, cnt};
    return list;
}

// A list as the record sets hand it: its entries beside it.
RecordCopy ListRecord(OidList list) {
    std::vector<OidEntry> entries = std::move(list.entries);
    list.entries.clear();
    RecordCopy copy = RecordCopy::Of(list);
    for (const OidEntry& e : entries) copy.entries.push_back(RecordCopy::Of(e));
    return copy;
}

TEST_F(SnmpModuleTest, ListsKeepTheirEntriesAndIdentityThroughEditsAndTheFile) {
    ASSERT_TRUE(module_->Add({RecordSet::List}, ListRecord(TestList(0))));
    auto lists = module_->Copy({RecordSet::List});
    ASSERT_TRUE(lists && lists->size() == 1);
    const OidList stored = (*lists)[0].As<OidList>();
    EXPECT_NE(stored.id, 0u);  // a list without identity gets one
    ASSERT_EQ((*lists)[0].entries.size(), 2u);

    OidList renumbered = stored;
    renumbered.id = 99;
    RecordCopy changed = RecordCopy::Of(renumbered);
    changed.entries = (*lists)[0].entries;
    changed.entries.pop_back();
    ASSERT_TRUE(module_->Replace({RecordSet::List}, 0, changed, (*lists)[0]));
    OidEntry extra;
    extra.tag = "a-tag-far-longer-than-sixteen";
    ASSERT_TRUE(module_->Add({RecordSet::Entry, 0}, RecordCopy::Of(extra)));
    auto entries = module_->Copy({RecordSet::Entry, 0});
    ASSERT_TRUE(entries && entries->size() == 2);
    EXPECT_EQ((*entries)[1].As<OidEntry>().tag, "a-tag-far-longe");  // cut to its field

    SnmpAgentItem item;
    item.name = "10.0.0.1:1161";
    item.oidId = stored.id;
    ASSERT_TRUE(module_->Add({RecordSet::Item}, RecordCopy::Of(item)));

    testing::TempDir home("qm-snmpset");
    core::Config config(home.path());
    core::SettingsSection out = config.BeginSave("mod_snmp", "mod_snmp");
    module_->SaveTo(out);
    ASSERT_TRUE(out.Commit());
    EXPECT_EQ(out.File().Get("mod_snmp", "List.0-item.1-StrTag"), "a-tag-far-longe");
    SnmpModule again(core_);
    again.Load(config.Open("mod_snmp", "mod_snmp"));
    lists = again.Copy({RecordSet::List});
    ASSERT_TRUE(lists && lists->size() == 1);
    const OidList reread = (*lists)[0].As<OidList>();
    EXPECT_EQ(reread.id, stored.id);  // the identity stayed through the edit
    ASSERT_EQ((*lists)[0].entries.size(), 2u);
    EXPECT_EQ((*lists)[0].entries[0].As<OidEntry>().value, ".1.3.6.1.2.1.1.1.0");
    auto items = again.Copy({RecordSet::Item});
    ASSERT_TRUE(items && items->size() == 1);
    EXPECT_EQ((*items)[0].As<SnmpAgentItem>().name, "10.0.0.1:1161");
    EXPECT_EQ(AgentSender("10.0.0.1:1161").sin_addr.s_addr, htonl(0x0A000001));
    EXPECT_EQ(AgentSender("localhost:1161").sin_addr.s_addr, INADDR_NONE);
}

// The old whole-record form is not decoded; saving must not turn the agents
// and lists it holds into an empty section, and a file without the section
// still gets the current form.
TEST_F(SnmpModuleTest, ASectionInTheOldFormSurvivesALoadAndASave) {
    testing::TempDir home("qm-snmplegacy");
    core::Config config(home.path());
    const std::string legacy = "[mod_snmp]\r\nVersion=1\r\nCommon=01102700000000007B\r\nCount=1\r\nItem.0=00AB\r\n";
    {
        std::FILE* f = std::fopen(config.FileFor("mod_snmp").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(legacy.data(), 1, legacy.size(), f);
        std::fclose(f);
    }
    module_->Load(config.Open("mod_snmp", "mod_snmp"));
    ASSERT_TRUE(module_->Add({RecordSet::Item}, RecordCopy::Of(SnmpAgentItem{})));
    core::SettingsSection out = config.BeginSave("mod_snmp", "mod_snmp");
    module_->SaveTo(out);
    ASSERT_TRUE(out.Commit());
    const core::SettingsSection reread = config.Open("mod_snmp", "mod_snmp");
    EXPECT_EQ(reread.File().Get("mod_snmp", "Version"), "1");
    EXPECT_EQ(reread.File().Get("mod_snmp", "Item.0"), "00AB");
    EXPECT_EQ(reread.File().Get("mod_snmp", "Count"), "1");
    EXPECT_EQ(reread.File().Get("mod_snmp", "Common"), "01102700000000007B");
    EXPECT_FALSE(reread.File().Get("mod_snmp", "ItemCount"));

    testing::TempDir fresh("qm-snmpfresh");
    core::Config none(fresh.path());
    SnmpModule blank(core_);
    blank.Load(none.Open("mod_snmp", "mod_snmp"));
    core::SettingsSection first = none.BeginSave("mod_snmp", "mod_snmp");
    blank.SaveTo(first);
    EXPECT_EQ(first.File().Get("mod_snmp", "Version"), "2");
    EXPECT_TRUE(first.File().Get("mod_snmp", "ListCount"));
}

TEST_F(SnmpModuleTest, EachAgentGivesOneEventPerCycleAndItsReadings) {
    if (!testing::SnmpAgent::Installed()) GTEST_SKIP() << "snmpd is not installed (Debian package snmpd)";
    testing::SnmpAgent agent;
    ASSERT_TRUE(agent.Ready());

    SnmpCommon common;
    common.enableService = 1;
    common.repeatTimeout = 300;
    ASSERT_TRUE(module_->Add({RecordSet::Common}, RecordCopy::Of(common)));
    ASSERT_TRUE(module_->Add({RecordSet::List}, ListRecord(TestList(7))));
    SnmpAgentItem good;
    good.name = agent.Agent();
    good.community = testing::SnmpAgent::kCommunity;
    good.param = kParamToCollector;
    good.oidId = 7;
    SnmpAgentItem wrong = good;
    wrong.name = "localhost:" + agent.Agent().substr(agent.Agent().find(':') + 1);
    wrong.community = "wrong";
    wrong.timeout = 200;
    wrong.retries = 1;
    SnmpAgentItem noList = good;
    noList.oidId = 8;
    for (const auto& item : {good, wrong, noList}) ASSERT_TRUE(module_->Add({RecordSet::Item}, RecordCopy::Of(item)));

    ASSERT_TRUE(module_->Start(platform::Blocking::Yes));
    ASSERT_TRUE(log_->WaitForSystem("Служба SNMP запущена"));
    const auto info = log_->WaitFor(testing::EventLog::Of(core::kEventInternal, "Description: Agent"));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->Message(), "SNMP: Description: Agent\xC2\xA6" "forged %n 2.00 cnt=123.4");
    EXPECT_EQ(info->sender, "127.0.0.1");
    EXPECT_EQ(info->severity, 6u);
    EXPECT_FALSE(info->relayed);
    const auto failed = log_->WaitFor(testing::EventLog::Of(core::kEventInternal, "REQUEST_ERROR"));
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->Message(), "SNMP: REQUEST_ERROR (!)");
    EXPECT_EQ(failed->sender, "255.255.255.255");
    EXPECT_EQ(failed->severity, 3u);
    ASSERT_TRUE(testing::WaitUntil([&] {
        return core_.values->Read(good.name, "cnt (mod_snmp)").samples.size() >= 2 &&
               !core_.values->Read(wrong.name, "cnt (mod_snmp)").samples.empty();
    }));
    EXPECT_EQ(core_.values->Read(good.name, "cnt (mod_snmp)").samples.front().value, Reading::U32(1234));
    EXPECT_TRUE(core_.values->Read(wrong.name, "cnt (mod_snmp)").samples.front().gap);

    EXPECT_TRUE(module_->Stop(platform::Blocking::Yes));
    EXPECT_TRUE(log_->WaitForSystem("Служба SNMP остановлена"));
    // An item whose list is missing never gives an event: every event came
    // from the two others, in step.
    const auto all = log_->Matching(testing::EventLog::Of(core::kEventInternal, "SNMP: "));
    const auto errors = log_->Matching(testing::EventLog::Of(core::kEventInternal, "REQUEST_ERROR"));
    EXPECT_LE(all.size() - errors.size(), errors.size() + 1);
    EXPECT_LE(errors.size(), all.size() - errors.size());
}

// Stop does not wait for the rest of a cycle of agents that do not answer:
// the agent being asked is the last.
TEST_F(SnmpModuleTest, StopEndsACycleAfterTheAgentBeingAsked) {
    SnmpCommon common;
    common.enableService = 1;
    common.repeatTimeout = 60000;
    ASSERT_TRUE(module_->Add({RecordSet::Common}, RecordCopy::Of(common)));
    ASSERT_TRUE(module_->Add({RecordSet::List}, ListRecord(TestList(7))));
    for (int i = 0; i < 3; ++i) {
        SnmpAgentItem dead;
        dead.name = "127.0.0.1:" + std::to_string(testing::FreePort());
        dead.timeout = 1500;
        dead.retries = 1;
        dead.oidId = 7;
        ASSERT_TRUE(module_->Add({RecordSet::Item}, RecordCopy::Of(dead)));
    }
    ASSERT_TRUE(module_->Start(platform::Blocking::Yes));
    ASSERT_TRUE(log_->WaitFor(testing::EventLog::Of(core::kEventInternal, "REQUEST_ERROR")));
    ASSERT_TRUE(module_->Stop(platform::Blocking::Yes));
    EXPECT_LE(log_->Matching(testing::EventLog::Of(core::kEventInternal, "REQUEST_ERROR")).size(), 2u);
}

// The name resolution asks the agent for its sysName with its own session,
// at port 161 as devices answer it; the module lock plays no part.
TEST_F(SnmpModuleTest, SystemNamesForTheNameResolution) {
    if (!testing::SnmpAgent::Installed()) GTEST_SKIP() << "snmpd is not installed (Debian package snmpd)";
    testing::SnmpAgent agent;
    ASSERT_TRUE(agent.Ready());
    EXPECT_EQ(module_->QuerySystemName(agent.Agent()), "quill-agent");
    {
        platform::GuardedLock held(module_->Lock(), core_.counters.locks, platform::Blocking::Yes);
        EXPECT_EQ(module_->QuerySystemName(agent.Agent()), "quill-agent");  // a cycle holds the lock
    }
    EXPECT_FALSE(module_->QuerySystemName("127.0.0.1:" + std::to_string(testing::FreePort())));

    if (!testing::UdpPeer("127.0.0.1", 161).Ok())
        GTEST_SKIP() << "port 161 of 127.0.0.1 is taken: the name resolution's step not checked";
    testing::SnmpAgent standard(161);
    ASSERT_TRUE(standard.Ready());
    testing::TempDir home("qm-snmpdns");
    core_.paths.resourceFolder = home.path();
    processing::DnsModule dns(core_, [](const platform::Ipv4Bytes&) { return platform::HostNameLookup{}; });
    dns.Load(core::SettingsSection({}, "mod_dns", {}));
    processing::DnsResolver r = processing::DefaultResolver();
    r.param = processing::kDnsSnmp;
    ASSERT_TRUE(dns.ReplaceRecord(0, r));
    module_->OfferSystemNamesTo(dns);
    EXPECT_TRUE(testing::WaitUntil([&] { return dns.NameFor("127.0.0.1") == "quill-agent"; }));
    module_.reset();  // takes its offer back before the name resolution goes
}

}  // namespace
}  // namespace qm::polling::snmp
