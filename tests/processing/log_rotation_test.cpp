#include "processing/dbase/log_rotation.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "processing/dbase/dbase_settings.h"
#include "processing/processing_test_support.h"
#include "support/temp_dir.h"

namespace qm::processing {
namespace {

namespace fs = std::filesystem;
using platform::FolderFile;
using platform::SystemTime;

SystemTime At(uint16_t day, uint16_t hour, uint16_t minute, uint16_t second) {
    SystemTime t;
    t.year = 2026, t.month = 12, t.day = day, t.hour = hour, t.minute = minute, t.second = second;
    return t;
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<FolderFile> files;
    EXPECT_EQ(platform::ListFolderFiles(folder, files), 0);
    std::vector<std::string> names;
    for (const FolderFile& f : files) names.push_back(f.name);
    std::sort(names.begin(), names.end());
    return names;
}

TEST(LogNamePattern, ConversionsAreDigitRunsAndTakenNamesGetANumberBeforeTheExtension) {
    const LogNamePattern standard(kDefaultLogNameFormat);
    for (const char* name : {"log_06122026_080509.log", "log_06122026_080509-1.log", "log_31129999_235959-12.log"})
        EXPECT_TRUE(standard.Matches(name)) << name;
    for (const char* name : {"log_last.log", "log_06122_080509.log", "log_06122026_080509.log.next", "log_06122026_080509-.log",
                             "log_06122026_080509-1-2.log", "xlog_06122026_080509.log", "log_06122026_08O509.log", ""})
        EXPECT_FALSE(standard.Matches(name)) << name;
    EXPECT_EQ(standard.Numbered("log_06122026_080509.log", 3), "log_06122026_080509-3.log");

    const LogNamePattern fixed("app.log"), bare("journal_%u"), percent("100%%_%02u.log");
    EXPECT_TRUE(fixed.Matches("app.log") && fixed.Matches("app-7.log"));
    EXPECT_FALSE(fixed.Matches("app1.log") || fixed.Matches("app.log-1") || fixed.Matches("app-x.log"));
    EXPECT_EQ(bare.Numbered("journal_5", 2), "journal_5-2");
    EXPECT_TRUE(bare.Matches("journal_5-2") && bare.Matches("journal_12345"));
    EXPECT_TRUE(percent.Matches("100%_07.log"));
    EXPECT_FALSE(percent.Matches("100%_7.log"));
    // Conversions that print more than digits own no names at all.
    for (const char* format : {"log_%x.log", "log_%2u.log", "log_%+u.log", "log_%4.2u.log"})
        EXPECT_FALSE(LogNamePattern(format).Matches("log_10.log")) << format;
    // A long run of digits against runs side by side costs no backtracking.
    EXPECT_TRUE(LogNamePattern("%u%u%u%u%u%u").Matches(std::string(250, '7')));
    EXPECT_FALSE(LogNamePattern("%u%u%u%u%u%ux").Matches(std::string(250, '7') + "y"));
}

TEST(LogRetention, DeletesBeyondTheCountAndAgeOldestFirstButNeverWhatIsKept) {
    const int64_t now = 1'800'000'000, day = 86400, ns = 1'000'000'000;
    // Newest first: a (now), b (1 day), c (3 days), d (10 days), e (10 days, same second).
    std::vector<FolderFile> files = {{"c", 0, (now - 3 * day) * ns}, {"a", 0, now * ns}, {"d", 0, (now - 10 * day) * ns},
                                     {"b", 0, (now - day) * ns}, {"e", 0, (now - 10 * day) * ns + 5}};
    using V = std::vector<std::string>;
    EXPECT_EQ(ExpiredFiles(files, {2, 0}, now, {}), (V{"d", "e", "c"}));
    EXPECT_EQ(ExpiredFiles(files, {0, 2}, now, {}), (V{"d", "e", "c"}));
    EXPECT_EQ(ExpiredFiles(files, {0, 5}, now, {}), (V{"d", "e"}));
    EXPECT_EQ(ExpiredFiles(files, {4, 5}, now, {}), (V{"d", "e"}));
    // A kept file holds its rank: with "a" kept and 1 to keep, b..e go.
    EXPECT_EQ(ExpiredFiles(files, {1, 0}, now, {"a", "d"}), (V{"e", "c", "b"}));
    EXPECT_TRUE(ExpiredFiles(files, {0, 0}, now, {}).empty());
    EXPECT_TRUE(ExpiredFiles(files, {0, UINT32_MAX}, now, {}).empty());
}

class TargetLogTest : public ::testing::Test {
protected:
    // One write as the worker does it: open, the pieces, close.
    int Write(TargetLog& log, const RotationRule& rule, const SystemTime& now, const std::vector<std::string>& pieces,
              const std::string& format = "r.log") {
        platform::AppendFile file;
        if (int error = log.Open(folder_, format, rule, now, file, [&] { return neighbours_; })) return error;
        for (const std::string& piece : pieces) {
            if (int error = log.RollIfFull(folder_, now, file)) return error;
            if (int error = file.Write(piece)) return error;
            log.Wrote(piece.size());
        }
        return file.Close();
    }
    std::string Read(const std::string& name) { return test::ReadWholeFile(folder_ / name); }

    qm::testing::TempDir temp_{"qm-rotation"};
    fs::path folder_ = temp_.path();
    Neighbours neighbours_;
};

TEST_F(TargetLogTest, SizeRotationFillsFilesInTurnAndNeverTakesAnExistingName) {
    test::Spill(folder_ / "r-1.log", "someone else's");
    TargetLog log;
    const RotationRule rule{10, false};
    ASSERT_EQ(Write(log, rule, At(6, 8, 0, 0), {"aaaa", "bbbb"}), 0);
    ASSERT_EQ(Write(log, rule, At(6, 8, 0, 1), {"cccc", "dddd", "eeee"}), 0);  // passes 10 after "cccc"
    ASSERT_EQ(Write(log, rule, At(6, 8, 0, 2), {"ffff"}), 0);
    EXPECT_EQ(Read("r.log"), "aaaabbbbcccc");
    EXPECT_EQ(Read("r-1.log"), "someone else's");
    EXPECT_EQ(Read("r-2.log"), "ddddeeeeffff");
    EXPECT_EQ(log.Name(), "r-2.log");

    // Without rotation every write forms its name again and appends to it.
    TargetLog plain;
    ASSERT_EQ(Write(plain, {}, At(6, 8, 0, 0), {"1"}, "p_%.2u%.2u.log"), 0);
    ASSERT_EQ(Write(plain, {}, At(6, 8, 0, 0), {"2"}, "p_%.2u%.2u.log"), 0);
    ASSERT_EQ(Write(plain, {}, At(7, 8, 0, 0), {"3"}, "p_%.2u%.2u.log"), 0);
    EXPECT_EQ(Read("p_0612.log"), "12");
    EXPECT_EQ(Read("p_0712.log"), "3");
}

TEST_F(TargetLogTest, MidnightStartsAFileNamedByTheNewDayAndTheNameIsFormedOnce) {
    TargetLog log;
    const RotationRule rule{0, true};
    ASSERT_EQ(Write(log, rule, At(6, 23, 59, 58), {"x"}, kDefaultLogNameFormat), 0);
    ASSERT_EQ(Write(log, rule, At(6, 23, 59, 59), {"y"}, kDefaultLogNameFormat), 0);
    ASSERT_EQ(Write(log, rule, At(7, 0, 0, 1), {"z"}, kDefaultLogNameFormat), 0);
    EXPECT_EQ(Names(folder_), (std::vector<std::string>{"log_06122026_235958.log", "log_07122026_000001.log"}));
    EXPECT_EQ(Read("log_06122026_235958.log"), "xy");
}

TEST_F(TargetLogTest, AfterARestartTheNewestOwnFileIsTakenUpWhileItQualifies) {
    const RotationRule rule{10, true};
    const SystemTime today = platform::LocalTimeNow();
    test::Spill(folder_ / "r.log", "old");
    test::Spill(folder_ / "r-1.log", "newer");  // written last
    fs::last_write_time(folder_ / "r.log", fs::last_write_time(folder_ / "r-1.log") - std::chrono::hours(1));
    TargetLog restarted;
    ASSERT_EQ(Write(restarted, rule, today, {"+"}), 0);
    EXPECT_EQ(Read("r-1.log"), "newer+");

    // Full: a new file.
    test::Spill(folder_ / "r-1.log", std::string(10, 'f'));
    TargetLog full;
    ASSERT_EQ(Write(full, rule, today, {"a"}), 0);
    EXPECT_EQ(full.Name(), "r-2.log");
    // Last written two days ago, with midnight rotation: a new file.
    for (const char* name : {"r.log", "r-1.log", "r-2.log"})
        fs::last_write_time(folder_ / name, fs::file_time_type::clock::now() - std::chrono::hours(48));
    TargetLog stale;
    ASSERT_EQ(Write(stale, rule, today, {"b"}), 0);
    EXPECT_EQ(stale.Name(), "r-3.log");

    // A file another target's pattern gives too, or one named as never to
    // take, is not continued: two targets never write one file.
    neighbours_.formats = {"r-%u.log"};
    TargetLog shared;
    ASSERT_EQ(Write(shared, rule, today, {"c"}), 0);
    EXPECT_EQ(shared.Name(), "r-4.log") << "r-3.log could be the other target's";
    neighbours_ = {{}, {"r-4.log"}};
    TargetLog never;
    ASSERT_EQ(Write(never, rule, today, {"d"}), 0);
    EXPECT_EQ(never.Name(), "r-3.log");
    EXPECT_EQ(Read("r-3.log"), "bd");
}

TEST_F(TargetLogTest, AFileThatCannotBeMadeIsAnErrorAndTheNextWriteTriesAgain) {
    TargetLog log;
    const RotationRule rule{4, false};
    ASSERT_EQ(Write(log, rule, At(6, 8, 0, 0), {"full"}), 0);
    fs::rename(folder_, folder_.string() + ".away");
    test::Spill(folder_, "");  // a file where the folder was
    EXPECT_EQ(Write(log, rule, At(6, 8, 0, 1), {"next"}), ENOTDIR);
    fs::remove(folder_);
    fs::rename(folder_.string() + ".away", folder_);
    ASSERT_EQ(Write(log, rule, At(6, 8, 0, 2), {"next"}), 0);
    EXPECT_EQ(Read("r-1.log"), "next");
    EXPECT_EQ(Read("r.log"), "full");
}

}  // namespace
}  // namespace qm::processing
