#include "processing/dbase/log_rotation.h"

#include <gtest/gtest.h>


#include "processing/dbase/dbase_settings.h"
#include "processing/processing_test_support.h"
#include "support/temp_dir.h"

namespace qm::processing {
namespace {

namespace fs = std::filesystem;
using platform::FolderFile;
using platform::SystemTime;

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

// Writes the pieces as the worker does: open, then each piece after a roll
// when the file is full.
int WritePieces(TargetLog& log, const fs::path& folder, const RotationRule& rule, const Neighbours& around,
                const std::vector<std::string>& pieces) {
    const SystemTime now = platform::LocalTimeNow();
    platform::AppendFile file;
    if (int error = log.Open(folder, "r.log", rule, now, file, [&] { return around; })) return error;
    for (const std::string& piece : pieces) {
        if (int error = log.RollIfFull(folder, now, file)) return error;
        if (int error = file.Write(piece)) return error;
        log.Wrote(piece.size());
    }
    return file.Close();
}

// Size and the restart case run through the module's tests; here the names
// a target must not write into.
TEST(TargetLog, ANewFileTakesNoExistingNameAndNoFileAnotherTargetCouldHaveNamed) {
    qm::testing::TempDir temp{"qm-rotation"};
    const fs::path folder = temp.path();
    const auto read = [&](const char* name) { return test::ReadWholeFile(folder / name); };
    test::Spill(folder / "r-1.log", "someone else's, full");
    const RotationRule rule{10, false};
    TargetLog log;
    ASSERT_EQ(WritePieces(log, folder, rule, {}, {"aaaa", "bbbb", "cccc", "dddd"}), 0);
    EXPECT_EQ(read("r.log"), "aaaabbbbcccc");
    EXPECT_EQ(read("r-1.log"), "someone else's, full");
    EXPECT_EQ(read("r-2.log"), "dddd");

    // After a restart the newest own file (r-2.log) is taken up, unless
    // another target's format could have named it or it is never to be taken.
    TargetLog shared, resumed, never;
    ASSERT_EQ(WritePieces(shared, folder, rule, {{"r-%u.log"}, {}}, {"e"}), 0);
    EXPECT_EQ(shared.Name(), "r-3.log");
    // Written last: r-2.log, before it r-3.log.
    const auto now = fs::file_time_type::clock::now();
    int hours = 4;
    for (const char* name : {"r.log", "r-1.log", "r-3.log", "r-2.log"})
        fs::last_write_time(folder / name, now - std::chrono::hours(hours--));
    ASSERT_EQ(WritePieces(resumed, folder, rule, {}, {"f"}), 0);
    EXPECT_EQ(resumed.Name(), "r-2.log");
    ASSERT_EQ(WritePieces(never, folder, rule, {{}, {"r-2.log"}}, {"g"}), 0);
    EXPECT_EQ(never.Name(), "r-3.log");
    EXPECT_EQ(read("r-2.log"), "ddddf");
    EXPECT_EQ(read("r-3.log"), "eg");
}

}  // namespace
}  // namespace qm::processing
