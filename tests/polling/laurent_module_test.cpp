// The Laurent poller against a stand-in board on loopback: what the replies
// make of the output format and the collector, boards that refuse or stay
// silent, its descriptors, its time-outs and its settings keys.
#include "polling/laurent/laurent_module.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/config.h"
#include "polling/laurent/board_session.h"
#include "polling/laurent_board.h"
#include "support/temp_dir.h"
#include "transport/transport_test_support.h"

namespace qm::polling::laurent {
namespace {

using core::RecordCopy;
using core::RecordSet;
using qm::testing::BoardReply;
using qm::testing::EventLog;
using qm::testing::FakeBoard;

size_t OpenDescriptors() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

LaurentCommand Command(std::string value, std::string tag) {
    LaurentCommand c;
    c.value = std::move(value);
    c.tag = std::move(tag);
    return c;
}

class LaurentModuleTest : public qm::testing::ModuleTest<LaurentModule> {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        core_.values = std::make_unique<ValueCollector>([] { return 1000u; });
    }
    void Configure(uint32_t recvTimeout, uint32_t repeatTimeout, std::vector<LaurentCommand> commands,
                   std::string format) {
        LaurentCommon common;
        common.enableService = 1;
        common.recvTimeout = recvTimeout;
        common.repeatTimeout = repeatTimeout;
        ASSERT_TRUE(module_->Add({RecordSet::Common}, RecordCopy::Of(common)));
        CommandList list;
        list.id = 7;
        list.outFormat = std::move(format);
        RecordCopy copy = RecordCopy::Of(list);
        for (const LaurentCommand& c : commands) copy.entries.push_back(RecordCopy::Of(c));
        ASSERT_TRUE(module_->Add({RecordSet::List}, copy));
    }
    void AddBoard(uint16_t port) {
        LaurentBoard board;
        board.name = "127.0.0.1";
        board.port = port;
        board.password = "secret";
        board.cmdListId = 7;
        ASSERT_TRUE(module_->Add({RecordSet::Item}, RecordCopy::Of(board)));
    }
    std::vector<ValueSample> Samples(const std::string& tag) {
        return core_.values->Read("127.0.0.1", tag + " (mod_laurent)").samples;
    }
};

TEST_F(LaurentModuleTest, RepliesFillTheFormatAndTheCollector) {
    FakeBoard board([](const std::string& line) -> std::optional<BoardReply> {
        if (line == "$KE,TMP") return BoardReply{"#TMP,25.3\r\n"};
        if (line == "$KE,REL") return BoardReply{"#OK"};  // shorter than the reply before, no line end
        if (line == "$KE,ERR") return BoardReply{"#ERR\r\n"};
        if (line == "$KE,BAD") return BoardReply{"TMP,1\r\n"};
        if (line == "$KE,TXT") return BoardReply{"#x|a2;10.0.0.9;1;1;2020;0;0;0;0;%n%s\r\n"};
        if (line == "$KE,PCT") return BoardReply{"#PCT,20\r\n"};
        return BoardReply{"#PSW,SET,OK\r\n"};
    });
    LaurentCommand pct = Command("$KE,PCT", "pct");
    pct.enableMin = 1;
    pct.minVal = 20;
    Configure(3000, 60000,
              {Command("$KE,TMP", "temp"), Command("$KE,REL", "rel"), Command("$KE,ERR", "err"),
               Command("$KE,BAD", "bad"), Command("$KE,TXT", "txt"), pct},
              "T=[temp] R=[rel] E=[err] B=[bad] X=[txt] P=[pct] {2*3} [temp]");
    AddBoard(board.Port());
    ASSERT_TRUE(module_->Start(platform::Blocking::Yes));
    const auto event = log_->WaitFor(EventLog::Of(core::kEventInternal, "LAU: "));
    ASSERT_TRUE(event);
    EXPECT_EQ(event->Message(),
              "LAU: T=25.3 R=OK E=ERR (!) B= (!) X=x\xC2\xA6" "a2;10.0.0.9;1;1;2020;0;0;0;0;%n%s P=20 (!) 6.00 25.3");
    EXPECT_EQ(event->severity, 4u);  // a warning
    EXPECT_EQ(event->sender, "127.0.0.1");
    EXPECT_FALSE(event->relayed);
    module_->Stop(platform::Blocking::Yes);

    const std::vector<std::string> lines = board.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "$KE,PSW,SET,secret");
    EXPECT_EQ(board.Count("$KE,TMP"), 1u);
    EXPECT_EQ(board.Count("$KE,ERR"), 3u);
    EXPECT_EQ(board.Count("$KE,BAD"), 3u);
    // The failed attempts left gaps in every series of the board, after the readings.
    ASSERT_EQ(Samples("temp").size(), 7u);
    EXPECT_FALSE(Samples("temp").front().gap);
    EXPECT_EQ(Samples("temp").front().value, Reading::I32(25));
    EXPECT_TRUE(Samples("temp").back().gap);
    EXPECT_EQ(Samples("rel").front().value, Reading::I32(0));
    EXPECT_EQ(Samples("pct").back().value, Reading::I32(20));
}

// Refused connects (writable on Linux, with the refusal in SO_ERROR) end in
// the session error and a gap; no socket outlives its attempt or the service.
TEST_F(LaurentModuleTest, RefusedBoardsGiveSessionErrorsAndLeaveNoSockets) {
    const size_t before = OpenDescriptors();
    {
        qm::testing::RefusingPort refusing;
        FakeBoard working([](const std::string&) { return BoardReply{"#TMP,21\r\n"}; });
        Configure(3000, 0, {Command("$KE,TMP", "temp")}, "[temp]");
        AddBoard(refusing.Port());
        AddBoard(working.Port());
        ASSERT_TRUE(module_->Start(platform::Blocking::Yes));
        const auto failed = log_->WaitFor(EventLog::Of(core::kEventInternal, "SESSION_ERROR"));
        ASSERT_TRUE(failed);
        EXPECT_EQ(failed->Message(), "LAU: SESSION_ERROR (!)");
        EXPECT_EQ(failed->severity, 3u);
        ASSERT_TRUE(qm::testing::WaitUntil([&] { return working.Connections() >= 3; }));
        EXPECT_TRUE(module_->Stop(platform::Blocking::Yes));
        EXPECT_GE(module_->ErrorCount(), 1u);
        ASSERT_FALSE(Samples("temp").empty());
        bool gap = false;
        for (const ValueSample& s : core_.values->Read("127.0.0.1", "temp (mod_laurent)").samples) gap = gap || s.gap;
        EXPECT_TRUE(gap);
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

// A zero receive time-out is the default wait, not none: a reply that takes
// a while still counts.
TEST_F(LaurentModuleTest, ZeroTimeoutsWaitTheDefault) {
    FakeBoard slow([](const std::string& line) -> std::optional<BoardReply> {
        if (line == "$KE,TMP") return BoardReply{"#TMP,30\r\n", 700};
        return BoardReply{"#PSW,SET,OK\r\n"};
    });
    Configure(0, 60000, {Command("$KE,TMP", "temp")}, "t=[temp]");
    AddBoard(slow.Port());
    ASSERT_TRUE(module_->Start(platform::Blocking::Yes));
    const auto event = log_->WaitFor(EventLog::Of(core::kEventInternal, "LAU: "));
    ASSERT_TRUE(event);
    EXPECT_EQ(event->Message(), "LAU: t=30");
    EXPECT_EQ(UsableTimeoutMs(0), 5000u);
    EXPECT_EQ(UsableTimeoutMs(500), 500u);  // under a second is still a wait
}

// Stop does not wait for the rest of the commands to a silent board: the
// attempt under way is the last.
TEST_F(LaurentModuleTest, StopEndsACycleWithinOneTimeout) {
    FakeBoard silent([](const std::string&) { return std::nullopt; });
    Configure(4000, 60000,
              {Command("$KE,A", "a"), Command("$KE,B", "b"), Command("$KE,C", "c"), Command("$KE,D", "d")},
              "[a][b][c][d]");
    AddBoard(silent.Port());
    ASSERT_TRUE(module_->Start(platform::Blocking::Yes));
    ASSERT_TRUE(qm::testing::WaitUntil([&] { return silent.Count("$KE,A") >= 1; }));
    ASSERT_TRUE(module_->Stop(platform::Blocking::Yes));
    EXPECT_LE(silent.Lines().size(), 3u);  // the password and at most two tries of the first command
}

// Start lets go of the module lock before the service thread asks for it: a
// first round that found it held would wait a whole idle pause.
TEST_F(LaurentModuleTest, TheFirstRoundFindsTheLockFree) {
    FakeBoard board([](const std::string&) { return BoardReply{"#OK\r\n"}; });
    Configure(1000, 60000, {}, "");
    AddBoard(board.Port());
    for (int i = 1; i <= 5; ++i) {
        ASSERT_TRUE(module_->Start(platform::Blocking::Yes));
        ASSERT_TRUE(qm::testing::WaitUntil([&] { return board.Connections() >= i; }));
        ASSERT_TRUE(module_->Stop(platform::Blocking::Yes));
    }
    EXPECT_EQ(core_.counters.locks.collisions.load(), 0u);
}

TEST_F(LaurentModuleTest, BoardsAndCommandListsKeepTheirKeys) {
    Configure(1500, 2000, {Command("$KE,TMP", "temp")}, "Temperature: [temp] *C");
    CommandList fresh;
    ASSERT_TRUE(module_->Add({RecordSet::List}, RecordCopy::Of(fresh)));
    AddBoard(2424);
    qm::testing::TempDir home("qm-laurentset");
    core::Config config(home.path());
    core::SettingsSection out = config.BeginSave("mod_laurent", "mod_laurent");
    module_->SaveTo(out);
    ASSERT_TRUE(out.Commit());
    const auto& file = out.File();
    EXPECT_EQ(file.Get("mod_laurent", "Item.0-StrPass"), "secret");
    EXPECT_EQ(file.Get("mod_laurent", "List.0-item.0-StrValue"), "$KE,TMP");
    EXPECT_EQ(file.Get("mod_laurent", "List.0-StrOutFmt"), "Temperature: [temp] *C");
    LaurentModule again(core_);
    again.Load(config.Open("mod_laurent", "mod_laurent"));
    const auto items = again.Copy({RecordSet::Item});
    ASSERT_TRUE(items && items->size() == 1);
    EXPECT_EQ((*items)[0].As<LaurentBoard>().port, 2424u);
    EXPECT_EQ((*items)[0].As<LaurentBoard>().cmdListId, 7u);
    const auto common = again.CopyCommon();
    ASSERT_TRUE(common);
    EXPECT_EQ(common->As<LaurentCommon>().recvTimeout, 1500u);
    const auto lists = again.Copy({RecordSet::List});
    ASSERT_TRUE(lists && lists->size() == 2);
    EXPECT_EQ((*lists)[0].entries.size(), 1u);
    EXPECT_NE((*lists)[1].As<CommandList>().id, 0u);  // a list without identity got one
}

}  // namespace
}  // namespace qm::polling::laurent
