// The built program, run as a user would: help, runs ended by a signal, the
// settings and the language they leave for the next start, its own reports
// read from its log file.
#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

#include "platform/clock.h"
#include "support/program_home.h"
#include "support/wait_until.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qm::platform::ProfileFile;
using qm::testing::Contains;
using qm::testing::ProgramHome;

// Without network services (other programs here may hold the ports), with
// the language file, and the program's own reports (System events) stored in
// the log file too.
void Seed(const ProgramHome& home) {
    fs::create_directories(home.Home() / "Resource");
    fs::copy_file(fs::path(QM_SOURCE_DIR) / "resources/default-home/Resource/lang.txt", home.Home() / "Resource/lang.txt");
    for (const char* file : {"mod_collector", "mod_icmp", "mod_httpserver"}) fs::remove(home.Settings(file));
    home.Edit("mod_dbase",
              [](ProfileFile& ini, const char* s) { ini.WriteStruct(s, "Common.EventParam", std::vector<uint8_t>{0x78}); });
}

// One run until it is up and `sig` ends it cleanly, `whileUp` in between; the
// log it left behind, one line per line.
std::string RunUntilSignal(const ProgramHome& home, std::vector<std::string> args, int sig,
                           const std::function<void()>& whileUp = {}) {
    fs::remove(home.Logs() / "log_last.log");
    // The web log folder is the last one made, once signals are handled.
    fs::remove_all(home.Logs() / "Web");
    const std::unique_ptr<qm::testing::ChildProcess> run = home.Start(std::move(args));
    EXPECT_TRUE(qm::testing::WaitUntil([&] { return fs::is_directory(home.Logs() / "Web"); }, 30s)) << home.OutputText();
    for (const char* sub : {"Settings", "Resource/Icons", "Resource/Web"})
        EXPECT_TRUE(fs::is_directory(home.Home() / sub)) << sub;
    if (whileUp) whileUp();
    EXPECT_TRUE(run->Alive()) << home.OutputText();
    EXPECT_TRUE(run->Signal(sig));
    EXPECT_EQ(run->Exit(60s), 0) << home.OutputText();
    std::string log;
    for (const std::string& line : qm::testing::LogLines(home.Logs() / "log_last.log")) log += line + "\n";
    return log;
}

// Help only, or a logon that fails: no folders, no settings.
bool Untouched(const ProgramHome& home) {
    return std::distance(fs::directory_iterator(home.Home()), fs::directory_iterator()) == 1 &&
           !fs::exists(home.Settings("Core"));
}

TEST(Program, HelpPrintsUsageAndExits) {
    for (const char* option : {"-?", "-help"}) {
        ProgramHome home;
        EXPECT_EQ(home.Start({option})->Exit(30s), 0) << option;
        EXPECT_TRUE(Contains(home.OutputText(), "Run app as user:")) << home.OutputText();
        EXPECT_FALSE(Contains(home.OutputText(), "\r"));  // terminal line ends
        EXPECT_TRUE(Untouched(home));
    }
}

// The first run, on an empty home, makes its folders and saves the defaults
// on its way out; options given once, the language among them, stay for the
// next starts; an option still wins over what is stored; the first start's
// epoch stays.
TEST(Program, SettingsAndLanguageChosenOnceStayForTheNextStarts) {
    ProgramHome home;
    fs::remove_all(home.Home() / "Settings");
    const uint64_t before = qm::platform::UnixSecondsNow();
    RunUntilSignal(home, {}, SIGTERM, [&] {
        // Into the next second, so a fresh epoch at the next start would show.
        std::this_thread::sleep_for(1s);
        EXPECT_FALSE(fs::exists(home.Settings("Core"))) << "written on the way out";
    });
    const uint64_t after = qm::platform::UnixSecondsNow();
    const std::string text = qm::testing::ReadWholeFile(home.Settings("Core"));
    for (const char* line : {"[main]\n", "\nVersion=2\n", "\nGodMode=0000\n", "\nZoomIndex=0C0000000C\n", "\nStrLocale=RU\n"})
        EXPECT_TRUE(Contains(text, line)) << line << "\n" << text;
    ProfileFile ini = ProfileFile::Load(home.Settings("Core"));
    EXPECT_EQ(ini.ReadStruct("main", "ValueCollectorStackLimit", 4), (std::vector<uint8_t>{0x88, 0x13, 0, 0}));  // 5000
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

    Seed(home);
    const std::string english = RunUntilSignal(home, {"-locale", "EN", "-fontsize", "14", "-gm", "on"}, SIGINT);
    EXPECT_TRUE(Contains(english, "Module loaded: mod_dbase")) << english;
    ini = ProfileFile::Load(home.Settings("Core"));
    EXPECT_EQ(std::tuple(ini.Get("main", "StrLocale"), ini.Get("main", "GodMode")), std::tuple("EN", "0101"));

    const std::string next = RunUntilSignal(home, {"-gm", "off"}, SIGTERM);
    EXPECT_TRUE(Contains(next, "Module loaded: mod_dbase")) << next;
    EXPECT_TRUE(Contains(next, "Database service started")) << next;
    EXPECT_FALSE(Contains(next, "Модуль загружен")) << next;
    ini = ProfileFile::Load(home.Settings("Core"));
    EXPECT_EQ(std::tuple(ini.Get("main", "ZoomIndex"), ini.Get("main", "GodMode")), std::tuple("0E0000000E", "0000"));
    EXPECT_EQ(ini.ReadStruct("main", "BeginUTC", 8), begin);
    // -18: 14 points at 96 dpi.
    EXPECT_EQ(ini.ReadStruct("main", "FontParam", 92).value_or(std::vector<uint8_t>(1)).at(0), 0xEE);
}

// One program per home: a second start is refused with its own exit status
// and leaves the first one's log alone; a program that was killed keeps
// nobody out.
TEST(Program, ASecondProgramOnTheHomeIsRefusedAndAKilledOneKeepsNobodyOut) {
    ProgramHome home;
    Seed(home);
    const std::string log = RunUntilSignal(home, {}, SIGTERM, [&] {
        EXPECT_EQ(home.Start()->Exit(60s), 3) << home.OutputText();
        EXPECT_TRUE(Contains(home.OutputText(), "is in use by another Quillmark (a running program")) << home.OutputText();
    });
    EXPECT_TRUE(Contains(log, "Модуль загружен: mod_dbase")) << log;
    EXPECT_FALSE(Contains(log.substr(log.find("Модуль загружен: mod_dbase") + 1), "Модуль загружен: mod_dbase"))
        << "one program's start only\n" << log;

    fs::remove_all(home.Logs() / "Web");
    const std::unique_ptr<qm::testing::ChildProcess> killed = home.Start();
    ASSERT_TRUE(qm::testing::WaitUntil([&] { return fs::is_directory(home.Logs() / "Web"); }, 30s)) << home.OutputText();
    ASSERT_TRUE(killed->Signal(SIGKILL));
    ASSERT_TRUE(qm::testing::WaitUntil([&] { return !killed->Alive(); }, 30s));
    EXPECT_TRUE(Contains(RunUntilSignal(home, {}, SIGTERM), "Модуль загружен: mod_dbase")) << home.OutputText();
}

TEST(Program, LogonWithUnknownUserReportsFailure) {
    ProgramHome home;
    EXPECT_EQ(home.Start({"-auth", ".", "nosuchuser", "Zq8pwXy"})->Exit(30s), 0);
    EXPECT_TRUE(Contains(home.OutputText(), "Failed to start with logon! Error:")) << home.OutputText();
    EXPECT_FALSE(Contains(home.OutputText(), "Zq8pwXy")) << home.OutputText();
    EXPECT_TRUE(Untouched(home));
}

}  // namespace
