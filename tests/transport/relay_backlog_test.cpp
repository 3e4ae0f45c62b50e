// The relay's backlog file on its own: what a crash in the middle of a write
// leaves, a position file that lags behind, the bound, and a file that is
// not a backlog at all.
#include "transport/relay/relay_backlog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "support/files.h"
#include "support/temp_dir.h"

namespace qm::transport {
namespace {

using namespace qm::testing;

std::vector<std::string> AllFrom(RelayBacklog& backlog, uint64_t from = 0) {
    std::vector<std::string> out;
    int error = 0;
    for (;;) {
        const uint64_t next = backlog.Read(from, 64, [&](std::string_view line) { out.emplace_back(line); }, error);
        EXPECT_EQ(error, 0);
        if (next == std::max(from, backlog.Head())) return out;
        from = next;
    }
}

int Append(RelayBacklog& backlog, std::vector<std::string_view> lines) { return backlog.Append(lines); }

TEST(RelayBacklog, ACrashLeavesWholeRecordsAndALaggingPositionOnlyRepeats) {
    TempDir dir("qm-backlog");
    const std::filesystem::path file = dir.path() / "tcp-127.0.0.1-6514.q";
    uint64_t afterFirst = 0, fiveAt = 0;
    {
        RelayBacklog backlog;
        ASSERT_EQ(backlog.Open(file, 1 << 20), 0);
        ASSERT_EQ(Append(backlog, {"<13>one", "<13>two"}), 0);
        int error = 0;
        afterFirst = backlog.Read(0, 1, [](std::string_view) {}, error);
        backlog.Release(afterFirst);
        ASSERT_EQ(backlog.SavePosition(), 0);
        ASSERT_EQ(Append(backlog, {"<13>three with | and ; and \n inside"}), 0);
        backlog.Release(backlog.End() + 1);  // beyond the end: ignored
    }
    // A write cut short: a header that promises more than follows.
    std::string torn(RelayBacklog::kRecordHeaderSize, '\0');
    torn[0] = 100;
    torn += "<13>fo";
    WriteWholeFile(file, ReadWholeFile(file) + torn);
    {
        RelayBacklog backlog;
        ASSERT_EQ(backlog.Open(file, 1 << 20), 0);
        EXPECT_EQ(backlog.Recovered(), 2u);
        EXPECT_EQ(backlog.Head(), afterFirst);
        EXPECT_EQ(AllFrom(backlog), (std::vector<std::string>{"<13>two", "<13>three with | and ; and \n inside"}));
        ASSERT_EQ(Append(backlog, {"<13>four"}), 0);
        EXPECT_EQ(AllFrom(backlog).back(), "<13>four") << "appended after the cut, not after the torn bytes";
        // Everything delivered: the file shrinks to its header, offsets go on.
        const uint64_t end = fiveAt = backlog.End();
        backlog.Release(end);
        EXPECT_EQ(std::filesystem::file_size(file), RelayBacklog::kHeaderSize);
        ASSERT_EQ(Append(backlog, {"<13>five"}), 0);
        EXPECT_EQ(backlog.Head(), end);
        EXPECT_EQ(AllFrom(backlog, end), std::vector<std::string>{"<13>five"});
    }
    // A crash before the position file caught up with the cut leaves an
    // older position behind: "five" survives it.
    WriteWholeFile(std::filesystem::path(file).replace_extension(".pos"), std::to_string(afterFirst) + "\n");
    {
        RelayBacklog backlog;
        ASSERT_EQ(backlog.Open(file, 1 << 20), 0);
        EXPECT_EQ(AllFrom(backlog), std::vector<std::string>{"<13>five"});
    }
    // A position inside a record or past the end (a damaged position file) costs no records.
    for (const uint64_t position : {fiveAt + 3, fiveAt + 1000}) {
        WriteWholeFile(std::filesystem::path(file).replace_extension(".pos"), std::to_string(position) + "\n");
        RelayBacklog backlog;
        ASSERT_EQ(backlog.Open(file, 1 << 20), 0);
        EXPECT_EQ(AllFrom(backlog), std::vector<std::string>{"<13>five"}) << position;
    }
    // Not a backlog at all, or one whose first offset is so large that the
    // offsets after it would wrap (found by fuzzing): set aside, and a new
    // one begins that takes and gives back lines.
    const std::string wrapping = "QMRELAYQ" + std::string(8, '\xff') + std::string(40, 'x');
    for (const std::string& content : {std::string("some other file"), wrapping}) {
        WriteWholeFile(file, content);
        RelayBacklog backlog;
        ASSERT_EQ(backlog.Open(file, 1 << 20), 0);
        EXPECT_TRUE(AllFrom(backlog).empty());
        EXPECT_EQ(ReadWholeFile(dir.path() / "tcp-127.0.0.1-6514.q.damaged"), content);
        ASSERT_EQ(Append(backlog, {"<13>six"}), 0);
        EXPECT_EQ(AllFrom(backlog), std::vector<std::string>{"<13>six"});
    }
}

// Megabytes of lines: records straddle the blocks the file is read in.
TEST(RelayBacklog, LinesOverManyBlocksComeBackWholeAfterAReopen) {
    TempDir dir("qm-backlog");
    std::vector<std::string> lines;
    for (int n = 0; n < 40000; ++n) lines.push_back("<13>line " + std::to_string(n) + std::string(size_t(n % 97), 'x'));
    {
        RelayBacklog backlog;
        ASSERT_EQ(backlog.Open(dir.path() / "b.q", 64 << 20), 0);
        for (size_t i = 0; i < lines.size(); i += 1000)
            ASSERT_EQ(backlog.Append(std::vector<std::string_view>(lines.begin() + long(i), lines.begin() + long(i + 1000))), 0);
    }
    RelayBacklog backlog;
    ASSERT_EQ(backlog.Open(dir.path() / "b.q", 64 << 20), 0);
    EXPECT_EQ(backlog.Recovered(), lines.size());
    std::vector<std::string> back;
    int error = 0;
    for (uint64_t at = 0, next = 0; (next = backlog.Read(at, 300000, [&](std::string_view l) { back.emplace_back(l); }, error)) != at;)
        at = next;
    EXPECT_TRUE(back == lines);
}

TEST(RelayBacklog, TheBoundDropsTheOldestWholeRecordsAndCountsThem) {
    TempDir dir("qm-backlog");
    RelayBacklog backlog;
    const uint64_t record = RelayBacklog::kRecordHeaderSize + 10;
    ASSERT_EQ(backlog.Open(dir.path() / "b.q", 3 * record), 0);
    ASSERT_EQ(Append(backlog, {"line 0000", "line 0001"}), 0);  // 9 bytes: one short of `record`
    ASSERT_EQ(Append(backlog, {"line 00002", "line 00003"}), 0);
    EXPECT_EQ(backlog.TakeDropped(), 1u);
    EXPECT_EQ(AllFrom(backlog), (std::vector<std::string>{"line 0001", "line 00002", "line 00003"}));
    EXPECT_EQ(backlog.TakeDropped(), 0u);
    // A batch larger than the bound keeps its newest lines.
    ASSERT_EQ(Append(backlog, {"line 00004", "line 00005", "line 00006", "line 00007", "line 00008"}), 0);
    EXPECT_EQ(backlog.TakeDropped(), 5u);
    EXPECT_EQ(AllFrom(backlog), (std::vector<std::string>{"line 00006", "line 00007", "line 00008"}));
    // A reader behind the dropped head continues at the oldest kept line.
    int error = 0;
    std::vector<std::string> got;
    backlog.Read(0, 1, [&](std::string_view l) { got.emplace_back(l); }, error);
    EXPECT_EQ(got, std::vector<std::string>{"line 00006"});
    // A smaller bound applies from the next append; a larger one keeps more.
    backlog.SetBound(10 * record);
    ASSERT_EQ(Append(backlog, {"line 00009"}), 0);
    EXPECT_EQ(AllFrom(backlog).size(), 4u);
    EXPECT_EQ(backlog.TakeDropped(), 0u);
}

}  // namespace
}  // namespace qm::transport
