// The Laurent poller against a stand-in board on loopback: what the replies
// make of the output format and the collector, boards that refuse or stay
// silent, its descriptors and its time-outs; and its script words on the
// program's core, with the settings keys they save.
#include "polling/laurent/laurent_module.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "polling/laurent/board_session.h"
#include "polling/poller_test.h"
#include "polling/scripted_peer.h"
#include "script/module_nodes.h"
#include "script/script_interpreter.h"
#include "support/program_core.h"
#include "support/udp_peer.h"

namespace qm::polling::laurent {
namespace {

using core::RecordSet;
using namespace qm::testing;
using platform::Blocking;

size_t OpenDescriptors() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

// A stand-in board: `reply` answers each line it is sent.
ScriptedPeer Board(std::function<std::optional<PeerAnswer>(const std::string& line)> reply) {
    return ScriptedPeer(ScriptedPeer::Lines, [reply](const PeerRequest& r) { return reply(r.bytes); });
}

LaurentCommand Command(std::string value, std::string tag) {
    LaurentCommand c;
    c.value = std::move(value);
    c.tag = std::move(tag);
    return c;
}

class LaurentModuleTest : public PollerTest<LaurentModule> {
protected:
    void Configure(uint32_t recvTimeout, uint32_t repeatTimeout, const std::vector<LaurentCommand>& commands,
                   std::string format) {
        LaurentCommon common;
        common.enableService = 1;
        common.recvTimeout = recvTimeout;
        common.repeatTimeout = repeatTimeout;
        Add(RecordSet::Common, common);
        AddList(7, commands, std::move(format));
    }
    void AddBoard(uint16_t port) {
        LaurentBoard board;
        board.name = "127.0.0.1";
        board.port = port;
        board.password = "secret";
        board.cmdListId = 7;
        Add(RecordSet::Item, board);
    }
};

// A zero receive time-out is the default wait, not none: a reply that takes
// a while still counts.
TEST_F(LaurentModuleTest, RepliesFillTheFormatAndTheCollector) {
    ScriptedPeer board = Board([](const std::string& line) -> std::optional<PeerAnswer> {
        // The value is what follows the last comma, however many come before it.
        if (line == "$KE,TMP") return PeerAnswer{{"#TMP,OK,25.3\r\n"}, 700};
        if (line == "$KE,REL") return PeerAnswer{{"#OK"}};  // shorter than the reply before, no line end
        if (line == "$KE,ERR") return PeerAnswer{{"#ERR\r\n"}};
        if (line == "$KE,BAD") return PeerAnswer{{"TMP,1\r\n"}};
        if (line == "$KE,TXT") return PeerAnswer{{"#x|a2;10.0.0.9;1;1;2020;0;0;0;0;%n%s\r\n"}};
        if (line == "$KE,PCT") return PeerAnswer{{"#PCT,20\r\n"}};
        return PeerAnswer{{"#PSW,SET,OK\r\n"}};
    });
    LaurentCommand pct = Command("$KE,PCT", "pct");
    pct.enableMin = 1;
    pct.minVal = 20;
    Configure(0, 60000,
              {Command("$KE,TMP", "temp"), Command("$KE,REL", "rel"), Command("$KE,ERR", "err"),
               Command("$KE,BAD", "bad"), Command("$KE,TXT", "txt"), pct},
              "T=[temp] R=[rel] E=[err] B=[bad] X=[txt] P=[pct] {2*3} [temp]");
    AddBoard(board.Port());
    ASSERT_TRUE(module_->Start(Blocking::Yes));
    const auto event = WaitForEvent("LAU: ");
    ASSERT_TRUE(event);
    EXPECT_EQ(event->Message(),
              "LAU: T=25.3 R=OK E=ERR (!) B= (!) X=x\xC2\xA6" "a2;10.0.0.9;1;1;2020;0;0;0;0;%n%s P=20 (!) 6.00 25.3");
    EXPECT_EQ(event->severity, 4u);  // a warning
    EXPECT_EQ(event->sender, "127.0.0.1");
    EXPECT_FALSE(event->relayed);
    module_->Stop(Blocking::Yes);

    ASSERT_FALSE(board.Requests().empty());
    EXPECT_EQ(board.Requests().front().bytes, "$KE,PSW,SET,secret");
    EXPECT_EQ(board.Count("$KE,TMP"), 1u);
    EXPECT_EQ(board.Count("$KE,ERR"), 3u);
    EXPECT_EQ(board.Count("$KE,BAD"), 3u);
    // The failed attempts left gaps in every series of the board, after the readings.
    ASSERT_EQ(Samples("127.0.0.1", "temp").size(), 7u);
    EXPECT_EQ(Samples("127.0.0.1", "temp").front().value, core::Reading::I32(25));
    EXPECT_TRUE(Samples("127.0.0.1", "temp").back().gap);
    EXPECT_EQ(Samples("127.0.0.1", "rel").front().value, core::Reading::I32(0));
    EXPECT_EQ(Samples("127.0.0.1", "pct").back().value, core::Reading::I32(20));
    EXPECT_EQ(UsableTimeoutMs(500), 500u);  // under a second is still a wait
}

// Refused connects (writable on Linux, with the refusal in SO_ERROR) end in
// the session error and a gap; no socket outlives its attempt or the service.
TEST_F(LaurentModuleTest, RefusedBoardsGiveSessionErrorsAndLeaveNoSockets) {
    const size_t before = OpenDescriptors();
    {
        RefusingPort refusing;
        ScriptedPeer working = Board([](const std::string&) { return PeerAnswer{{"#TMP,21\r\n"}}; });
        Configure(3000, 0, {Command("$KE,TMP", "temp")}, "[temp]");
        AddBoard(refusing.Port());
        AddBoard(working.Port());
        ASSERT_TRUE(module_->Start(Blocking::Yes));
        const auto failed = WaitForEvent("SESSION_ERROR");
        ASSERT_TRUE(failed);
        EXPECT_EQ(failed->Message(), "LAU: SESSION_ERROR (!)");
        EXPECT_EQ(failed->severity, 3u);
        ASSERT_TRUE(WaitUntil([&] { return working.Connections() >= 3; }));
        EXPECT_TRUE(module_->Stop(Blocking::Yes));
        EXPECT_GE(module_->ErrorCount(), 1u);
        EXPECT_TRUE(HasGap("127.0.0.1", "temp"));
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

// Stop does not wait for the rest of the commands to a slow board: the
// attempt under way is the last, and a board left half asked gets no event
// (its unread tags would read as a warning it never gave).
TEST_F(LaurentModuleTest, StopEndsACycleWithinOneTimeoutAndTellsNothingOfIt) {
    ScriptedPeer slow = Board([](const std::string& line) -> std::optional<PeerAnswer> {
        if (line == "$KE,A") return PeerAnswer{{"#A,1\r\n"}};
        if (line.starts_with("$KE,PSW")) return PeerAnswer{{"#PSW,SET,OK\r\n"}};
        return PeerAnswer{{"#X,2\r\n"}, 3000};
    });
    Configure(4000, 60000,
              {Command("$KE,A", "a"), Command("$KE,B", "b"), Command("$KE,C", "c"), Command("$KE,D", "d")},
              "[a][b][c][d]");
    AddBoard(slow.Port());
    ASSERT_TRUE(module_->Start(Blocking::Yes));
    ASSERT_TRUE(WaitUntil([&] { return slow.Count("$KE,B") >= 1; }));
    // Past the pause after the command, into the wait for B's reply.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(module_->Stop(Blocking::Yes));
    EXPECT_LE(slow.Requests().size(), 4u);  // the password, A and at most two tries of B
    EXPECT_EQ(Events("LAU"), 0u);
    EXPECT_EQ(Samples("127.0.0.1", "a").size(), 1u) << "A's reading, and no gap for the wait that Stop cut short";
}

// Start lets go of the module lock before the service thread asks for it: a
// first round that found it held would wait a whole idle pause.
TEST_F(LaurentModuleTest, TheFirstRoundFindsTheLockFree) {
    ScriptedPeer board = Board([](const std::string&) { return PeerAnswer{{"#OK\r\n"}}; });
    Configure(1000, 60000, {}, "");
    AddBoard(board.Port());
    for (int i = 1; i <= 5; ++i) {
        ASSERT_TRUE(module_->Start(Blocking::Yes));
        ASSERT_TRUE(WaitUntil([&] { return board.Connections() >= i; }));
        ASSERT_TRUE(module_->Stop(Blocking::Yes));
    }
    EXPECT_EQ(core_.counters.locks.collisions.load(), 0u);
}

TEST(LaurentWords, SetBlocksMakeABoardAndACommandListThatTheEchoPrintsAndTheFileKeeps) {
    ProgramCore program(FreePort());
    script::ModuleNodes nodes(*program.core.registry);
    script::ScriptEnvironment env = script::EnvironmentFor(program.core, nodes);
    const auto run = [&](std::string_view text) { return script::RunScript(text, env).text; };
    const script::ScriptRun made = script::RunScript(
        "#set:mod_laurent.list=climate{#set:uid=42;#set:enable=1;#set:format=Temperature: [temp] *C;"
        "#set:push=temp;#set:cmd|TEMP=$KE,TMP;#set:min|temp=1;#set:minval|temp=-5;#set:command|rel=$KE,REL}"
        "#set:mod_laurent=10.0.0.7{#set:reset=1;#set:en=1;#set:pwd=board-own;#set:port=0;#set:cmd=CLIMATE}"
        "#set:mod_laurent{#set:conn=100;#set:rcv=2000;#set:en=1}#call:mod_laurent.save",
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
    const platform::ProfileFile saved = platform::ProfileFile::Load(program.home.Settings("mod_laurent"));
    EXPECT_EQ(saved.Get("mod_laurent", "Item.0-StrPass"), "board-own");
    EXPECT_EQ(saved.Get("mod_laurent", "List.0-item.0-StrValue"), "$KE,TMP");
    EXPECT_EQ(saved.Get("mod_laurent", "List.0-StrOutFmt"), "Temperature: [temp] *C");
    for (const char* key : {"Common.RecvTimeout", "Item.0-Port", "Item.0-CmdListID", "List.0-item.1-StrTag"})
        EXPECT_TRUE(saved.Get("mod_laurent", key)) << key;
}

}  // namespace
}  // namespace qm::polling::laurent
