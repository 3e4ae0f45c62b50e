// The mod_icmp script words on the module as the program's catalog loads it:
// printed names, ranges with their fallbacks, a new host and the resets.
#include <gtest/gtest.h>

#include "core/core_context.h"
#include "modules.h"
#include "script/module_nodes.h"
#include "script/script_interpreter.h"
#include "support/program_home.h"
#include "support/udp_peer.h"

namespace qm::script {
namespace {

class IcmpWordsTest : public ::testing::Test {
protected:
    void SetUp() override {
        home_.Listen(qm::testing::FreePort());
        for (const core::ModuleDescriptor& d : ProgramModules())
            if (d.id != core::kModuleWindow) catalog_.push_back(d);
        core_.paths = core::Paths::Build(home_.Home() / "quillmark", home_.Home());
        core_.catalog = catalog_;
        core::CoreStart(core_);
        nodes_ = std::make_unique<ModuleNodes>(*core_.registry);
        env_ = EnvironmentFor(core_, *nodes_);
    }
    void TearDown() override {
        nodes_.reset();
        core::CoreShutdown(core_);
    }
    std::string Run(std::string_view text) { return RunScript(text, env_).text; }

    qm::testing::ProgramHome home_;
    std::vector<core::ModuleDescriptor> catalog_;
    core::CoreContext core_;
    std::unique_ptr<ModuleNodes> nodes_;
    ScriptEnvironment env_;
};

TEST_F(IcmpWordsTest, CommonAndHostWordsKeepTheirRanges) {
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

}  // namespace
}  // namespace qm::script
