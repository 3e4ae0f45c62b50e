#include "processing/dbase/line_backlog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "processing/dbase/log_format.h"

namespace qm::processing {
namespace {

// Stored lines "L<first>" .. "L<first+count-1>".
std::string Lines(int first, int count) {
    std::string out;
    for (int n = first; n < first + count; ++n) AppendStoredLine(out, "L" + std::to_string(n));
    return out;
}

TEST(LineBacklog, MergesOverlapsAndGapsOnceInOrderAlsoAfterTrimming) {
    std::vector<LineBacklog> backlogs(3);
    backlogs[0].Append(0, Lines(0, 3));
    backlogs[0].Append(3, Lines(3, 2));  // continues the piece
    backlogs[0].Append(8, Lines(8, 1));  // after a gap (the target was off)
    backlogs[1].Append(2, Lines(2, 5));
    backlogs[2].Append(10, Lines(10, 2));
    EXPECT_EQ(backlogs[0].Joined(), Lines(0, 5) + Lines(8, 1));
    EXPECT_EQ(LineBacklog::Merge(backlogs), Lines(0, 7) + Lines(8, 1) + Lines(10, 2));

    // The oldest whole lines go; what is left keeps its place in the order.
    const size_t line = Lines(0, 1).size();
    EXPECT_EQ(backlogs[0].KeepNewest(3 * line + 1), 3 * line);
    EXPECT_EQ(backlogs[0].Joined(), Lines(3, 2) + Lines(8, 1));
    EXPECT_EQ(backlogs[1].KeepNewest(2 * line), 3 * line);
    EXPECT_EQ(LineBacklog::Merge(backlogs), Lines(3, 4) + Lines(8, 1) + Lines(10, 2));
    EXPECT_EQ(backlogs[2].KeepNewest(0), Lines(10, 2).size());
    EXPECT_TRUE(backlogs[2].empty());
}

}  // namespace
}  // namespace qm::processing
