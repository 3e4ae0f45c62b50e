// The program's one script host on the real modules of a core started in a
// temporary home: editor runs on the worker with their report shown after
// them, one script at a time, cancel, and a shutdown under a sleeping script.
#include "script/script_host.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "support/program_core.h"
#include "support/udp_peer.h"
#include "support/wait_until.h"

namespace qm::script {
namespace {

using qm::testing::WaitUntil;

class ScriptHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        host_ = std::make_unique<ScriptHost>(core_, [this](const ProtocolWindow& w) {
            const std::lock_guard lock(mutex_);
            shown_.push_back(w);
        });
    }
    // The host goes before the modules it works on.
    void TearDown() override { host_.reset(); }
    // Starts a script on the worker; its run once it has ended.
    ScriptHost::Started Start(const std::string& text) {
        return host_->Start(text, [this](const ScriptRun& run) {
            const std::lock_guard lock(mutex_);
            done_.push_back(run);
        });
    }
    size_t Done() {
        const std::lock_guard lock(mutex_);
        return done_.size();
    }

    qm::testing::ProgramCore program_{qm::testing::FreePort()};
    core::CoreContext& core_ = program_.core;
    std::unique_ptr<ScriptHost> host_;
    std::mutex mutex_;
    std::vector<ProtocolWindow> shown_;
    std::vector<ScriptRun> done_;
};

TEST_F(ScriptHostTest, AnEditorRunChangesAModuleAndItsReportIsShownAfterIt) {
    ASSERT_EQ(Start("#set:mod_relay=A{#set:port=1514}#call:system.window.show;#set:system.window.color=0;#echo=end"),
              ScriptHost::Started::Yes);
    ASSERT_TRUE(WaitUntil([&] { return Done() == 1; }));
    EXPECT_EQ(std::tie(done_[0].failures, done_[0].cancelled), std::tuple(0u, false)) << done_[0].text;
    // The script's own request, then the whole report once it has ended,
    // without highlighting as the script switched it off.
    ASSERT_EQ(shown_.size(), 2u);
    EXPECT_EQ(std::tie(shown_[0].title, shown_[0].text, shown_[0].highlight),
              std::tuple("Quillmark: Script protocol", " * SET node found: mod_relay", true));
    EXPECT_EQ(std::tie(shown_[1].text, shown_[1].icon, shown_[1].highlight),
              std::tuple(" * SET node found: mod_relay\r\nend", 11, false));

    // The edit stays with the module: the socket's path sees it, and its
    // report is not shown.
    const std::optional<ScriptRun> echo = host_->RunHere("#echo:mod_relay.item.0");
    ASSERT_TRUE(echo);
    EXPECT_NE(echo->text.find("0.Port=1514\r\n0.Name=A"), std::string::npos) << echo->text;
    EXPECT_EQ(shown_.size(), 2u);

    ASSERT_EQ(Start(""), ScriptHost::Started::Yes);
    ASSERT_TRUE(WaitUntil([&] { return Done() == 2; }));
    EXPECT_EQ(shown_.back().text, "WND: Empty buffer (no log data)");
}

TEST_F(ScriptHostTest, OneScriptAtATimeCancelEndsASleepAndShutdownEndsEveryScript) {
    ASSERT_EQ(Start("#call:system.sleep=60000;#echo=after"), ScriptHost::Started::Yes);
    EXPECT_EQ(Start("#echo=second"), ScriptHost::Started::Busy);
    EXPECT_FALSE(host_->RunHere("#echo=second"));
    host_->Cancel();
    ASSERT_TRUE(WaitUntil([&] { return Done() == 1; }));
    EXPECT_EQ(std::tie(done_[0].cancelled, done_[0].text), std::tuple(true, "")) << "the statement after the sleep ran";

    // Free again, and the last cancel does not end the next script; the
    // program's end cancels one on the worker and one from the socket.
    // The window request tells when the echo has run: Running() alone is
    // true before the first statement, and an early cancel would skip it.
    // The cancelled script's report is among the shown windows already.
    size_t shown = 0;
    {
        const std::lock_guard lock(mutex_);
        shown = shown_.size();
    }
    ASSERT_EQ(Start("#echo=again;#call:system.window.show;#call:system.sleep=60000"), ScriptHost::Started::Yes);
    ScriptHost other(core_, nullptr);
    std::optional<ScriptRun> socketRun;
    std::thread socket([&] { socketRun = other.RunHere("#call:system.sleep=60000"); });
    ASSERT_TRUE(WaitUntil([&] {
        const std::lock_guard lock(mutex_);
        return shown_.size() > shown && other.Running();
    }));
    host_->Shutdown();
    other.Shutdown();
    socket.join();
    ASSERT_EQ(Done(), 2u) << "shutdown returned before the worker had ended";
    EXPECT_EQ(std::tie(done_[1].text, done_[1].cancelled), std::tuple("again", true));
    EXPECT_TRUE(socketRun && socketRun->cancelled);
    EXPECT_EQ(Start("#echo=late"), ScriptHost::Started::Closed);
    EXPECT_FALSE(host_->RunHere("#echo=late"));
}

}  // namespace
}  // namespace qm::script
