// The script words of mod_snmp on the module of a core started in a
// temporary home: a new agent from a set block, the fallbacks of its words,
// and what the echo prints.
#include <gtest/gtest.h>

#include "core/core_context.h"
#include "modules.h"
#include "script/module_nodes.h"
#include "script/script_interpreter.h"
#include "support/program_home.h"
#include "support/udp_peer.h"

namespace qm::script {
namespace {

TEST(SnmpWords, SetBlocksMakeAndChangeAgentsAndTheEchoPrintsThem) {
    qm::testing::ProgramHome home;
    home.Listen(qm::testing::FreePort());
    std::vector<core::ModuleDescriptor> catalog;
    for (const core::ModuleDescriptor& d : ProgramModules())
        if (d.id == core::kModuleSnmp) catalog.push_back(d);
    core::CoreContext core;
    core.paths = core::Paths::Build(home.Home() / "quillmark", home.Home());
    core.catalog = catalog;
    core::CoreStart(core);
    // Fresh list UIDs count seconds from BeginUTC, which a new home sets to now.
    core.settings.beginUtc -= 1000;
    {
        ModuleNodes nodes(*core.registry);
        ScriptEnvironment env = EnvironmentFor(core, nodes);
        const auto run = [&](std::string_view text) { return RunScript(text, env).text; };
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

        // An OID list made in one block: entries by push and by entry words
        // (taken by their tag, without regard to case, or appended), the
        // correction code from its number; an agent then names the list.
        const ScriptRun made = RunScript(
            "#set:mod_snmp.list=sys{#set:uid=42;#set:enable=1;#set:format=[desc] up [up];#set:push=desc;#set:push=DESC;"
            "#set:oid|Desc=.1.3.6.1.2.1.1.1.0;#set:oid|up=1.3.6.1.2.1.1.3.0;#set:correct|up=100;#set:max|up=1;"
            "#set:maxval|up=-5}#set:mod_snmp=10.0.0.5:1161{#set:oid=SYS}",
            env);
        EXPECT_EQ(made.failures, 0u) << made.text;
        EXPECT_EQ(run("#echo:mod_snmp.list"),
                  "0.Delete=0\r\n0.Enable=1\r\n0.CmdListID=2\r\n0.UID=42\r\n0.Name=sys\r\n0.StringFormat=[desc] up [up]\r\n"
                  "0.0\tEnableMax=0\r\n0.0\tEnableMin=0\r\n0.0\tMax=0\r\n0.0\tMin=0\r\n0.0\tCorrect=0\r\n"
                  "0.0\tTag=desc\r\n0.0\tValue=.1.3.6.1.2.1.1.1.0\r\n"
                  "0.1\tEnableMax=1\r\n0.1\tEnableMin=0\r\n0.1\tMax=-5\r\n0.1\tMin=0\r\n0.1\tCorrect=32\r\n"
                  "0.1\tTag=up\r\n0.1\tValue=1.3.6.1.2.1.1.3.0\r\nOK (mod_snmp): Complete");
        EXPECT_NE(run("#echo:mod_snmp.item.0").find("0.OIDListID=42\r\n"), std::string::npos);
        // The module holds the list with both entries, not only the copy the echo saw.
        auto* module = core.registry->Find(core::kModuleSnmp);
        const auto entries = module->Records()->Copy({core::RecordSet::Entry, 0});
        ASSERT_TRUE(entries && entries->size() == 2u);
        // Popping a tag takes its entry away; a list no one has is no reference.
        run("#set:mod_snmp.list=sys{#set:pop=DESC}#set:mod_snmp=10.0.0.5:1161{#set:list=nowhere}");
        EXPECT_EQ(module->Records()->Copy({core::RecordSet::Entry, 0})->size(), 1u);
        EXPECT_NE(run("#echo:mod_snmp.item.0").find("0.OIDListID=0\r\n"), std::string::npos);
        // The name word with a pipe text renames that entry's tag; the list's
        // reset empties it and keeps its identity; a list without one gets one.
        run("#set:mod_snmp.list=sys{#set:name|UP=uptime}");
        EXPECT_NE(run("#echo:mod_snmp.list").find("0.0\tTag=uptime\r\n"), std::string::npos);
        run("#set:mod_snmp.list=sys{#set:reset=1}#set:mod_snmp.list=other{#set:uid=-1;#set:push=x;#set:reset=1}");
        const std::string lists = run("#echo:mod_snmp.list");
        EXPECT_NE(lists.find("0.CmdListID=0\r\n0.UID=42\r\n"), std::string::npos) << lists;
        EXPECT_NE(lists.find("1.Enable=0\r\n1.CmdListID=0\r\n"), std::string::npos) << lists;
        EXPECT_EQ(lists.find("1.UID=0\r\n"), std::string::npos) << lists;
        EXPECT_EQ(lists.find("\tTag="), std::string::npos) << lists;
    }
    core::CoreShutdown(core);
}

}  // namespace
}  // namespace qm::script
