// The names of the string ids: generated from the built-in table by the
// build, and the build refusing a table whose names and ids do not fit.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "core/string_ids.h"
#include "core/string_table.h"
#include "support/child_process.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace qm::core {
namespace {

using qm::testing::Contains;

struct GeneratorRun {
    std::optional<int> exit;
    std::string output;
    std::string header;
};

// Runs the build's generator on `table` as the build does.
GeneratorRun Generate(const qm::testing::TempDir& dir, std::string_view table) {
    const auto input = dir.path() / "strings.txt";
    const auto header = dir.path() / "string_ids.h";
    const auto log = dir.path() / "log.txt";
    std::filesystem::remove(header);
    std::filesystem::remove(log);
    qm::testing::WriteWholeFile(input, table);
    qm::testing::ChildProcess cmake({QM_CMAKE_COMMAND, "-DINPUT=" + input.string(), "-DOUTPUT=" + header.string(), "-P",
                                     std::string(QM_SOURCE_DIR) + "/cmake/StringIdsRun.cmake"},
                                    log);
    GeneratorRun run;
    run.exit = cmake.Exit(std::chrono::seconds(60));
    run.output = qm::testing::ReadWholeFile(log);
    if (std::filesystem::exists(header)) run.header = qm::testing::ReadWholeFile(header);
    return run;
}

TEST(StringIds, NamesPointAtTheirOwnTexts) {
    const auto& table = BuiltinStrings();
    EXPECT_EQ(table.at(str::kModuleLoaded), "Модуль загружен: %s");
    EXPECT_EQ(table.at(str::kNetworkErrorAt), "Проблемы при работе с сетью (%s). Адрес: %s:%u. Код: %d");
    EXPECT_EQ(table.at(str::kLimitBreachMarker), " (!)");
    EXPECT_EQ(table.at(str::kSeverityEmergency + 7), "Debug");
    EXPECT_EQ(table.at(str::kStatusTraffic), "↓ %s (пкт: %I64d) | ↑ %s (пкт: %I64d)");

    // Named and unnamed lines side by side; only the id keys the text.
    const auto parsed = ParseStringTable("5 kFive\tV\\tX\n6\tVI\n7 kSeven \t\n 8 kEight\tno\n");
    ASSERT_EQ(parsed.size(), 3u);
    EXPECT_EQ(parsed.at(5), "V\tX");
    EXPECT_EQ(parsed.at(6), "VI");
    EXPECT_EQ(parsed.at(7), "");
}

TEST(StringIds, GeneratorWritesOneConstantPerName) {
    const qm::testing::TempDir dir("qm-ids");
    const GeneratorRun run = Generate(dir, "# texts\n\n007 kSeven\tSeven; [x\\\n8\tunnamed\r\n9 kNine\t]\n");
    ASSERT_EQ(run.exit, 0) << run.output;
    EXPECT_TRUE(Contains(run.header, "namespace qm::core::str {")) << run.header;
    EXPECT_TRUE(Contains(run.header, "inline constexpr uint32_t kSeven = 7;\n")) << run.header;
    EXPECT_TRUE(Contains(run.header, "inline constexpr uint32_t kNine = 9;\n")) << run.header;
    EXPECT_FALSE(Contains(run.header, "= 8;")) << run.header;
}

TEST(StringIds, GeneratorRefusesNamesThatDoNotFitTheirIds) {
    const qm::testing::TempDir dir("qm-ids");
    const GeneratorRun run = Generate(dir,
                                      "10 kTen\tten\n"
                                      "010 kOther\tagain\n"      // the same id, written otherwise
                                      "11 kTen\televen\n"        // a name used twice
                                      "12 kTwelve\t\n"           // a name without text
                                      "13 kThirteen\n"           // no tab at all
                                      "14 thirteen\tfourteen\n"  // not a name
                                      "15 kFifteen\tfine\n");
    EXPECT_NE(run.exit, 0);
    EXPECT_TRUE(run.header.empty()) << run.header;
    for (const char* problem : {"line 2: id 10 is already given on line 1", "line 3: kTen is already the name of id 10",
                                "line 4: kTwelve (id 12) has no text", "line 5: no tab between the id and the text",
                                "line 6: \"14 thirteen\" is not"})
        EXPECT_TRUE(Contains(run.output, problem)) << problem << "\n" << run.output;
}

}  // namespace
}  // namespace qm::core
