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
    }
    core::CoreShutdown(core);
}

}  // namespace
}  // namespace qm::script
