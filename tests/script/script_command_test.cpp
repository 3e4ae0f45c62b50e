// `quillmark -script` against the real program: handed to a running
// program on the same home, or run offline on a stopped one; the exit
// statuses; and a connection of another user refused.
#include "script/script_command.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <sstream>

#include "platform/local_socket.h"
#include "support/program_home.h"
#include "support/udp_peer.h"
#include "transport/transport_test_support.h"

namespace qm::testing {
namespace {

class ScriptCommand : public ::testing::Test {
protected:
    // Runs `quillmark -script <file with text>` on the home; its exit code.
    // `missing`: a file name that is not written.
    std::optional<int> RunScript(const std::string& text, std::vector<std::string> prefix = {}, const char* missing = nullptr) {
        const fs::path file = scripts_.path() / (missing ? missing : "script" + std::to_string(++runs_) + ".qmk");
        if (missing) ++runs_;
        else WriteWholeFile(file, text);
        output_ = scripts_.path() / ("output" + std::to_string(runs_) + ".txt");
        prefix.insert(prefix.end(), {QM_BINARY, "-script", file.string()});
        ChildProcess run(prefix, output_, ChildEnvironment({"QUILLMARK_HOME=" + home_.Home().string()}));
        return run.Exit(60s);
    }
    std::string Output() const { return ReadWholeFile(output_); }
    static std::string MoveListener(uint16_t port) {
        return "/ the listener moves\r\n#set:mod_collector=127.0.0.1{#set:port=" + std::to_string(port) +
               "}\r\n#call:mod_collector.stop\r\n#call:mod_collector.start\r\n#echo:mod_collector.item.0";
    }
    bool Listening(uint16_t port) { return Handshake(sender_, port, 30s); }
    // A started program takes scripts once its socket listens. That comes
    // after the collector answers (the windows are made in between): a
    // script sent before it finds no program and runs offline instead. The
    // probe sends nothing, which is an empty script.
    bool TakesScripts() const {
        const fs::path socket = home_.Home() / "Settings" / "quillmark.sock";
        return WaitUntil([&] { return platform::ConnectLocal(socket).Valid(); }, 60s);
    }

    ProgramHome home_;
    TempDir scripts_{"qm-scripts"};
    fs::path output_;
    int runs_ = 0;
    UdpPeer sender_;
};

TEST_F(ScriptCommand, MovesTheListenerOfARunningProgramAndOfAStoppedOne) {
    const uint16_t first = FreePort(), second = FreePort(), third = FreePort();
    home_.Listen(first);
    {
        std::unique_ptr<ChildProcess> program = home_.Start();
        ASSERT_TRUE(Listening(first) && TakesScripts()) << home_.OutputText();
        EXPECT_EQ(RunScript(MoveListener(second)), 0) << Output();
        EXPECT_TRUE(Contains(Output(), "0.Port=" + std::to_string(second) + "\n")) << Output();
        ASSERT_TRUE(Listening(second)) << home_.OutputText();
        ASSERT_TRUE(sender_.SendTo(second, "<14>moved by script"));
        ASSERT_TRUE(Listening(second));
        // One failing statement: status 1, the others still run.
        EXPECT_EQ(RunScript("#echo:nosuchvariable;#echo=still here"), 1);
        EXPECT_EQ(Output(), "FAIL (_ECHO_) -> \"nosuchvariable\": Unknown request\nstill here\n");
        ASSERT_TRUE(program->Signal(SIGTERM));
        ASSERT_EQ(program->Exit(60s), 0) << home_.OutputText();
    }
    bool stored = false;
    for (const std::string& line : LogLines(home_.Logs() / "log_last.log")) stored |= StartsWith(line, "<14>moved by script|");
    EXPECT_TRUE(stored);
    EXPECT_FALSE(fs::exists(home_.Home() / "Settings" / "quillmark.sock")) << "the socket goes with the program";

    // Offline: the settings change and are saved; the next start listens there.
    EXPECT_EQ(RunScript(MoveListener(third)), 0) << Output();
    EXPECT_TRUE(Contains(Output(), "0.Port=" + std::to_string(third) + "\n")) << Output();
    std::unique_ptr<ChildProcess> program = home_.Start();
    EXPECT_TRUE(Listening(third)) << home_.OutputText();

    // No script file: status 2 with a reason.
    EXPECT_EQ(RunScript("", {}, "none.qmk"), 2);
    EXPECT_TRUE(Contains(Output(), "cannot read")) << Output();
}

// A script given while the program is still starting (its script socket not
// made yet) waits for it and lands in the running program, which keeps the
// change instead of overwriting it at exit.
TEST_F(ScriptCommand, AScriptDuringStartUpLandsInTheRunningProgram) {
    const uint16_t first = FreePort(), second = FreePort();
    home_.Listen(first);
    std::unique_ptr<ChildProcess> program = home_.Start();
    // Said once the home is the program's, well before its socket exists.
    ASSERT_TRUE(WaitUntil([&] { return Contains(home_.OutputText(), "Loading ... "); }, 30s)) << home_.OutputText();
    EXPECT_EQ(RunScript(MoveListener(second)), 0) << Output();
    EXPECT_TRUE(Listening(second)) << home_.OutputText();
    ASSERT_TRUE(program->Signal(SIGTERM));
    ASSERT_EQ(program->Exit(60s), 0) << home_.OutputText();
    EXPECT_EQ(platform::ProfileFile::Load(home_.Settings("mod_collector")).ReadStruct("mod_collector", "Item.0-Port", 4),
              LittleEndian(second));
}

// The README's examples and the shipped default script, as written, on a
// stopped home: each runs without a failing statement.
TEST_F(ScriptCommand, TheReadmeExamplesAndTheDefaultScriptRun) {
    std::istringstream readme(ReadWholeFile(fs::path(QM_SOURCE_DIR) / "README.md"));
    std::vector<std::string> examples;
    bool inside = false;
    for (std::string line; std::getline(readme, line);) {
        if (Contains(line, "-script - <<'EOF'")) {
            examples.emplace_back();
            inside = true;
        } else if (inside && line == "    EOF") {
            inside = false;
        } else if (inside) {
            examples.back() += line.substr(4) + "\n";
        }
    }
    ASSERT_GE(examples.size(), 5u);
    bool printedState = false;
    for (const std::string& example : examples) {
        EXPECT_EQ(RunScript(example), 0) << example << Output();
        printedState = printedState || Contains(Output(), "Received (pkt): ");
    }
    EXPECT_TRUE(printedState) << "the example that prints what the program is doing";
    EXPECT_EQ(RunScript(ReadWholeFile(fs::path(QM_SOURCE_DIR) / "resources/default-home/Resource/Scripts/default.qmk")), 0)
        << Output();
    EXPECT_TRUE(Contains(Output(), "Quillmark\n3\n2\n1\n")) << Output();
    // What the examples changed is in the files.
    RunScript("#echo:mod_dbase.common;#echo:mod_relay.item;#echo:mod_collector.item");
    for (const char* expected : {"MsgLimit=2000", "0.Name=192.0.2.10", "0.Port=514", "1.Port=1514", "2.Proto=1", "3.Proto=2",
                                 "3.CertFile=tls/cert.pem", "2.CAFile=tls/central.pem"})
        EXPECT_TRUE(Contains(Output(), expected)) << expected << "\n" << Output();
}

TEST_F(ScriptCommand, AnotherUsersConnectionIsRefused) {
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs root and setpriv (util-linux)";
    const uint16_t port = FreePort();
    home_.Listen(port);
    std::unique_ptr<ChildProcess> program = home_.Start();
    ASSERT_TRUE(Listening(port) && TakesScripts()) << home_.OutputText();
    // The user "nobody" may reach the home and read the script. Only our own
    // folders: the system's temporary folder keeps its sticky, open mode.
    const fs::path temp = fs::temp_directory_path();
    for (fs::path p = home_.Home(); p != temp && p != p.root_path(); p = p.parent_path()) ::chmod(p.c_str(), 0755);
    ::chmod(scripts_.path().c_str(), 0755);
    const std::vector<std::string> nobody = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    // The socket's mode keeps the other user out ...
    EXPECT_EQ(RunScript("#echo=hello", nobody), 2) << Output();
    // ... and where the mode does not, the program checks who connects.
    const fs::path socket = home_.Home() / "Settings" / "quillmark.sock";
    ASSERT_EQ(::chmod(socket.c_str(), 0666), 0);
    EXPECT_EQ(RunScript("#echo=hello", nobody), 2) << Output();
    EXPECT_TRUE(Contains(Output(), "refused")) << Output();
    EXPECT_TRUE(WaitUntil([&] { return Contains(home_.OutputText(), "user 65534 refused"); }, 10s));
    EXPECT_EQ(RunScript("#echo=hello"), 0) << Output();
    EXPECT_EQ(Output(), "hello\n");
}

}  // namespace
}  // namespace qm::testing
