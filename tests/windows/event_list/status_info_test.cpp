// The texts of a double click on the status bar.
#include "windows/event_list/status_info.h"

#include <gtest/gtest.h>

#include "core/core_context.h"
#include "core/string_table.h"
#include "windows/event_list/status_texts.h"

namespace qm::windows {
namespace {

core::MemorySnapshot InUse(uint64_t bytes) { return {bytes + 100, 50, 50, 100}; }

TEST(StatusInfo, MemoryHistoryNowFirstThenTheDrainsOldestFirstWithTheLeakLine) {
    // Two drains so far: the two older places show "0 byte".
    core::MemorySnapshots::Array snapshots{};
    snapshots[2] = InUse(2048);
    snapshots[3] = InUse(1048576);
    EXPECT_EQ(MemoryHistoryText(3072, snapshots),
              "Memory usage history:\r\n\r\n- 3.00 KB\r\n- 0 byte\r\n- 0 byte\r\n- 2.00 KB\r\n- 1.00 MB");

    // Growth from the oldest drain on record: 2048 -> 3072 is 1024 bytes, 50 %.
    EXPECT_EQ(EstimateLeak(3072, snapshots), (LeakEstimate{50, 1024}));
    EXPECT_EQ(WithLeakLine("text", {50, 1024}), "text\r\n\r\nLeeked: 50% (1024 bytes)");
    // No drain yet, or less in use than then: nothing leaked.
    EXPECT_EQ(EstimateLeak(3072, core::MemorySnapshots::Array{}), (LeakEstimate{0, 0}));
    EXPECT_EQ(EstimateLeak(1000, snapshots), (LeakEstimate{0, 0}));
    snapshots[0] = InUse(1000);
    EXPECT_EQ(EstimateLeak(3072, snapshots), (LeakEstimate{207, 2072}));
}

TEST(StatusInfo, TheMemoryPartGivesTheMemoryTextsAndEveryOtherPartTheOperatingFigures) {
    core::CoreContext core;
    core.texts = std::make_unique<core::TextTable>(core::BuiltinStrings());
    OperatingFigures f;
    f.state = "Готов";
    f.runningSeconds = 3661;
    f.memoryInUse = 1023;
    f.threads = 12, f.windows = 2, f.collisions = 1, f.lockUsers = 3;
    f.datagramsReceived = 5, f.bytesReceived = 1024;
    f.datagramsSent = 1, f.bytesSent = 10;
    f.queueCount = 42;
    f.snapshots[3] = InUse(1000);

    const InfoContent memory = StatusInfo(core, kMemoryStatusPart, false, f);
    EXPECT_EQ(memory.title, "Memory usage");
    EXPECT_EQ(memory.text, "Memory usage history:\r\n\r\n- 1023 byte\r\n- 0 byte\r\n- 0 byte\r\n- 0 byte\r\n- 1000 byte"
                           "\r\n\r\nLeeked: 2% (23 bytes)");
    EXPECT_EQ(memory.icon, kMemoryIcon);

    const std::string operating =
        "State: Готов\r\nRunning time: 01:01:01\r\nMemory in use: 1023 byte\r\nThreads: 12\r\nWindows: 2\r\n"
        "Lock collisions: 1\r\nLock users: 3\r\nReceived: 1.00 KB, datagrams: 5\r\nSent: 10 byte, datagrams: 1\r\n"
        "Queue: 42 events";
    for (int part : {0, 2, 3, 4}) {
        const InfoContent info = StatusInfo(core, part, false, f);
        EXPECT_EQ(info.title, "Operating information") << part;
        EXPECT_EQ(info.text, operating) << part;
    }
    // The simple bar's one part is the state's.
    EXPECT_EQ(StatusInfo(core, 0, true, f).text, operating);
}

}  // namespace
}  // namespace qm::windows
