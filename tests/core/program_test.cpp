// The built program, run as a user would: help, a run ended by a signal, and
// the settings it leaves for the next start.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/profile_file.h"
#include "support/child_process.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using TempDir = qm::testing::TempDir;

using qm::testing::ChildEnvironment;
using qm::testing::ChildProcess;
using qm::testing::WaitUntil;
using qm::testing::ReadWholeFile;

// One run of the program with its own home folder and nothing else in its
// environment; stdout and stderr go to files of their own beside the home.
class ProgramRun {
public:
    ProgramRun(const fs::path& home, const fs::path& outputDir, std::vector<std::string> args)
        : out_(outputDir / "stdout.txt"), err_(outputDir / "stderr.txt") {
        fs::remove(out_);
        fs::remove(err_);
        std::vector<std::string> words{QM_BINARY};
        words.insert(words.end(), args.begin(), args.end());
        child_ = std::make_unique<ChildProcess>(std::move(words), out_,
                                                ChildEnvironment({"QUILLMARK_HOME=" + home.string()}), err_);
    }

    bool Started() const { return child_->Pid() > 0; }
    bool Alive() { return child_->Alive(); }
    bool Signal(int sig) { return child_->Signal(sig); }
    // The exit code, or nothing when it did not end normally in time.
    std::optional<int> Exit(std::chrono::milliseconds timeout) { return child_->Exit(timeout); }
    std::string Stdout() const { return ReadWholeFile(out_); }
    std::string Stderr() const { return ReadWholeFile(err_); }

private:
    fs::path out_, err_;
    std::unique_ptr<ChildProcess> child_;
};

// A home folder plus a place for the program's output, both removed afterwards.
struct Sandbox {
    TempDir dir;
    fs::path home = dir.path() / "home";
    Sandbox() { fs::create_directory(home); }
    fs::path CoreIni() const { return home / "Settings" / "Core.ini"; }
    bool LayoutReady() const {
        for (const char* sub : {"Logs", "Settings", "Resource", "Resource/Icons", "Resource/Web", "Logs/Web"})
            if (!fs::is_directory(home / sub)) return false;
        return true;
    }
};

// Starts the program, waits for it to be up, ends it with `sig` and expects a clean exit.
void RunUntilSignal(Sandbox& box, std::vector<std::string> args, int sig) {
    // The last folder made is made once the program handles signals; take it
    // away so a rerun over an existing home shows the same moment.
    fs::remove_all(box.home / "Logs" / "Web");
    ProgramRun run(box.home, box.dir.path(), std::move(args));
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(WaitUntil([&] { return box.LayoutReady(); }, 5s)) << run.Stderr();
    ASSERT_TRUE(run.Alive());
    ASSERT_TRUE(run.Signal(sig));
    EXPECT_EQ(run.Exit(30s), 0) << run.Stderr();
}

TEST(Program, HelpPrintsUsageAndExits) {
    for (const char* option : {"-?", "-help"}) {
        Sandbox box;
        ProgramRun run(box.home, box.dir.path(), {option});
        ASSERT_TRUE(run.Started());
        EXPECT_EQ(run.Exit(30s), 0) << option;
        const std::string out = run.Stdout();
        EXPECT_NE(out.find("Run app as user:"), std::string::npos) << out;
        EXPECT_NE(out.find("-vc_buffer <size>"), std::string::npos) << out;
        EXPECT_NE(out.find("-auth <domain> <user> <password>"), std::string::npos) << out;
        EXPECT_EQ(out.find('\r'), std::string::npos);  // terminal line ends
        // Help only: no folders, no settings.
        EXPECT_TRUE(fs::is_empty(box.home));
    }
}

TEST(Program, RunsUntilTerminatedAndSavesItsSettings) {
    Sandbox box;
    const uint64_t before = qm::platform::UnixSecondsNow();
    {
        ProgramRun run(box.home, box.dir.path(), {});
        ASSERT_TRUE(run.Started());
        const auto started = Clock::now();
        ASSERT_TRUE(WaitUntil([&] { return box.LayoutReady(); }, 5s)) << run.Stderr();
        std::this_thread::sleep_until(started + 1s);
        ASSERT_TRUE(run.Alive()) << run.Stderr();
        EXPECT_FALSE(fs::exists(box.CoreIni()));  // written on the way out

        ASSERT_TRUE(run.Signal(SIGTERM));
        EXPECT_EQ(run.Exit(30s), 0) << run.Stderr();
    }
    const uint64_t after = qm::platform::UnixSecondsNow();

    const std::string text = ReadWholeFile(box.CoreIni());
    EXPECT_NE(text.find("[main]\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nVersion=2\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nGodMode=0000\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nZoomIndex=0C0000000C\n"), std::string::npos) << text;

    const qm::platform::ProfileFile ini = qm::platform::ProfileFile::Load(box.CoreIni());
    EXPECT_EQ(ini.Get("main", "StrLocale"), "RU");
    const auto limit = ini.ReadStruct("main", "ValueCollectorStackLimit", 4);
    ASSERT_TRUE(limit.has_value());
    EXPECT_EQ(*limit, (std::vector<uint8_t>{0x88, 0x13, 0, 0}));  // 5000
    const auto font = ini.ReadStruct("main", "FontParam", 92);
    ASSERT_TRUE(font.has_value());
    EXPECT_EQ(std::vector<uint8_t>(font->begin(), font->begin() + 4), (std::vector<uint8_t>{0xF0, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(std::string(font->begin() + 28, font->begin() + 42), std::string("C\0a\0l\0i\0b\0r\0i\0", 14));
    const auto begin = ini.ReadStruct("main", "BeginUTC", 8);
    ASSERT_TRUE(begin.has_value());
    uint64_t epoch = 0;
    for (size_t i = 0; i < 8; ++i) epoch |= uint64_t((*begin)[i]) << (8 * i);
    EXPECT_GE(epoch, before);
    EXPECT_LE(epoch, after);
}

TEST(Program, NextStartReadsTheSavedSettings) {
    Sandbox box;
    RunUntilSignal(box, {"-fontsize", "14", "-gm", "on"}, SIGTERM);
    if (HasFatalFailure()) return;
    qm::platform::ProfileFile ini = qm::platform::ProfileFile::Load(box.CoreIni());
    const std::optional<std::string> epoch = ini.Get("main", "BeginUTC");
    ASSERT_TRUE(epoch.has_value());
    EXPECT_EQ(ini.Get("main", "ZoomIndex"), "0E0000000E");
    EXPECT_EQ(ini.Get("main", "GodMode"), "0101");

    // Into the next second, so a fresh epoch would show.
    const uint64_t first = qm::platform::UnixSecondsNow();
    ASSERT_TRUE(WaitUntil([&] { return qm::platform::UnixSecondsNow() > first; }, 20s));

    RunUntilSignal(box, {}, SIGINT);
    if (HasFatalFailure()) return;
    ini = qm::platform::ProfileFile::Load(box.CoreIni());
    EXPECT_EQ(ini.Get("main", "Version"), "2");
    EXPECT_EQ(ini.Get("main", "ZoomIndex"), "0E0000000E");
    EXPECT_EQ(ini.Get("main", "GodMode"), "0101");
    EXPECT_EQ(ini.Get("main", "BeginUTC"), epoch);
    const auto font = ini.ReadStruct("main", "FontParam", 92);
    ASSERT_TRUE(font.has_value());
    EXPECT_EQ((*font)[0], 0xEE);  // -18: 14 points at 96 dpi

    // And an option on the command line still wins over what is stored.
    RunUntilSignal(box, {"-gm", "off"}, SIGTERM);
    if (HasFatalFailure()) return;
    ini = qm::platform::ProfileFile::Load(box.CoreIni());
    EXPECT_EQ(ini.Get("main", "GodMode"), "0000");
    EXPECT_EQ(ini.Get("main", "ZoomIndex"), "0E0000000E");
}

TEST(Program, GodModeWithWrongChecksumIsNotTaken) {
    Sandbox box;
    fs::create_directory(box.home / "Settings");
    std::ofstream(box.CoreIni()) << "[main]\nVersion=2\nGodMode=0102\nZoomIndex=0E0000000E\n";
    RunUntilSignal(box, {}, SIGTERM);
    if (HasFatalFailure()) return;
    const std::string text = ReadWholeFile(box.CoreIni());
    EXPECT_NE(text.find("\nGodMode=0000\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nZoomIndex=0E0000000E\n"), std::string::npos) << text;
}

TEST(Program, LogonWithUnknownUserReportsFailure) {
    Sandbox box;
    ProgramRun run(box.home, box.dir.path(), {"-auth", ".", "nosuchuser", "Zq8pwXy"});
    ASSERT_TRUE(run.Started());
    EXPECT_EQ(run.Exit(30s), 0);
    const std::string err = run.Stderr();
    EXPECT_NE(err.find("Failed to start with logon! Error:"), std::string::npos) << err;
    EXPECT_EQ(err.find("Zq8pwXy"), std::string::npos) << err;
    EXPECT_TRUE(fs::is_empty(box.home));
}

}  // namespace
