// The script words of mod_laurent on the module of a core started in a
// temporary home: a board and a command list made in set blocks, and what
// the echo prints of them.
#include <gtest/gtest.h>

#include "core/core_context.h"
#include "modules.h"
#include "script/module_nodes.h"
#include "script/script_interpreter.h"
#include "support/program_home.h"
#include "support/udp_peer.h"

namespace qm::script {
namespace {

TEST(LaurentWords, SetBlocksMakeABoardAndACommandListAndTheEchoPrintsThem) {
    qm::testing::ProgramHome home;
    home.Listen(qm::testing::FreePort());
    std::vector<core::ModuleDescriptor> catalog;
    for (const core::ModuleDescriptor& d : ProgramModules())
        if (d.id == core::kModuleLaurent) catalog.push_back(d);
    core::CoreContext core;
    core.paths = core::Paths::Build(home.Home() / "quillmark", home.Home());
    core.catalog = catalog;
    core::CoreStart(core);
    {
        ModuleNodes nodes(*core.registry);
        ScriptEnvironment env = EnvironmentFor(core, nodes);
        const auto run = [&](std::string_view text) { return RunScript(text, env).text; };
        const ScriptRun made = RunScript(
            "#set:mod_laurent.list=climate{#set:uid=42;#set:enable=1;#set:format=Temperature: [temp] *C;"
            "#set:push=temp;#set:cmd|TEMP=$KE,TMP;#set:min|temp=1;#set:minval|temp=-5;#set:command|rel=$KE,REL}"
            "#set:mod_laurent=10.0.0.7{#set:reset=1;#set:en=1;#set:pwd=board-own;#set:port=0;#set:cmd=CLIMATE}"
            "#set:mod_laurent{#set:conn=100;#set:rcv=2000;#set:en=1}",
            env);
        EXPECT_EQ(made.failures, 0u) << made.text;
        EXPECT_EQ(run("#echo:mod_laurent.item=0"),
                  "0.Delete=0\r\n0.Enable=1\r\n0.CmdListID=42\r\n0.Param=80\r\n0.Port=2424\r\n0.Name=10.0.0.7\r\n"
                  "0.Password=board-own\r\nOK (mod_laurent): Complete");
        EXPECT_EQ(run("#echo:mod_laurent.common"),
                  "EnableService=1\r\nConnectTimeout=5000\r\nRecvTimeout=2000\r\nSendTimeout=0\r\nRepeatTimeout=0\r\n"
                  "OK (mod_laurent): Complete");
        EXPECT_EQ(run("#echo:mod_laurent.list"),
                  "0.Delete=0\r\n0.Enable=1\r\n0.CmdListID=2\r\n0.UID=42\r\n0.Name=climate\r\n"
                  "0.StringFormat=Temperature: [temp] *C\r\n"
                  "0.0\tEnableMax=0\r\n0.0\tEnableMin=1\r\n0.0\tMax=0\r\n0.0\tMin=-5\r\n0.0\tTag=temp\r\n"
                  "0.0\tValue=$KE,TMP\r\n"
                  "0.1\tEnableMax=0\r\n0.1\tEnableMin=0\r\n0.1\tMax=0\r\n0.1\tMin=0\r\n0.1\tTag=rel\r\n"
                  "0.1\tValue=$KE,REL\r\nOK (mod_laurent): Complete");
    }
    core::CoreShutdown(core);
}

}  // namespace
}  // namespace qm::script
