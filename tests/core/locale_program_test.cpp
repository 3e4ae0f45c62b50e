// The program's language chosen once on the command line and kept: the
// real program in a new home, its own reports read from its log file.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/profile_file.h"
#include "support/child_process.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qm::testing::ChildEnvironment;
using qm::testing::ChildProcess;
using qm::testing::Contains;
using qm::testing::ReadWholeFile;
using qm::testing::WaitUntil;

class LocaleHome {
public:
    LocaleHome() {
        const fs::path source = fs::path(QM_SOURCE_DIR) / "resources/default-home";
        fs::create_directories(home_ / "Resource");
        fs::copy(source / "Settings", home_ / "Settings", fs::copy_options::recursive);
        fs::copy_file(source / "Resource/lang.txt", home_ / "Resource/lang.txt");
        // No network services: other programs on this machine may hold the ports.
        for (const char* file : {"mod_collector", "mod_icmp", "mod_httpserver"})
            fs::remove(home_ / "Settings" / (std::string(file) + ".ini"));
        // The program's own reports (System events) go into the log file too.
        qm::platform::ProfileFile dbase = qm::platform::ProfileFile::Load(Settings("mod_dbase"));
        const uint8_t types[] = {0x78};
        dbase.WriteStruct("mod_dbase", "Common.EventParam", types);
        EXPECT_TRUE(dbase.Save(Settings("mod_dbase")));
    }
    fs::path Settings(const char* file) const { return home_ / "Settings" / (std::string(file) + ".ini"); }
    fs::path LastLog() const { return home_ / "Logs" / "log_last.log"; }

    // One run until SIGTERM; the log it left behind.
    std::string Run(std::vector<std::string> args) {
        fs::remove(LastLog());
        // The web log folder is the last one made, once signals are handled.
        fs::remove_all(home_ / "Logs" / "Web");
        args.insert(args.begin(), QM_BINARY);
        const fs::path output = dir_.path() / "output.txt";
        ChildProcess run(args, output, ChildEnvironment({"QUILLMARK_HOME=" + home_.string()}));
        EXPECT_GT(run.Pid(), 0);
        EXPECT_TRUE(WaitUntil([&] { return fs::is_directory(home_ / "Logs" / "Web"); }, 30s)) << ReadWholeFile(output);
        EXPECT_TRUE(run.Alive()) << ReadWholeFile(output);
        EXPECT_TRUE(run.Signal(SIGTERM));
        EXPECT_EQ(run.Exit(60s), 0) << ReadWholeFile(output);
        std::string log;
        for (const std::string& line : qm::testing::LogLines(LastLog())) log += line + "\n";
        return log;
    }

private:
    qm::testing::TempDir dir_{"qm-locale"};
    fs::path home_ = dir_.path() / "home";
};

TEST(Locale, EnglishChosenOnceStaysForTheNextStarts) {
    LocaleHome home;
    const std::string russian = home.Run({});
    EXPECT_TRUE(Contains(russian, "Модуль загружен: mod_dbase")) << russian;

    const std::string first = home.Run({"-locale", "EN"});
    EXPECT_TRUE(Contains(first, "Module loaded: mod_dbase")) << first;
    EXPECT_EQ(qm::platform::ProfileFile::Load(home.Settings("Core")).Get("main", "StrLocale"), "EN");

    const std::string next = home.Run({});
    EXPECT_TRUE(Contains(next, "Module loaded: mod_dbase")) << next;
    EXPECT_TRUE(Contains(next, "Database service started")) << next;
    EXPECT_FALSE(Contains(next, "Модуль загружен")) << next;
}

}  // namespace
