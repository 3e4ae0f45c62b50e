#include "windows/graph/graph_settings.h"

#include <gtest/gtest.h>

#include "platform/profile_file.h"

namespace qm::windows {
namespace {

constexpr uint64_t kUid = 812345;
constexpr int32_t kDpi = 96;

core::SettingsSection Section(platform::ProfileFile file = {}) {
    return core::SettingsSection({}, kGraphSection, std::move(file));
}

template <typename T>
void Put(std::vector<uint8_t>& record, size_t offset, T value) {
    for (size_t i = 0; i < sizeof(T); ++i) record[offset + i] = uint8_t(uint64_t(value) >> (8 * i));
}

TEST(GraphSettings, BothFormsLoadAndRawValuesAreClamped) {
    // The current form round-trips, beside a window saved with defaults.
    GraphSettings s;
    s.color = {{0x202020, 0xFFFFFF, 0x505050, 0x0000FF, 0}};
    s.penSize = 2;
    s.penStyle = 1;
    s.enableValueLimit = 1;
    s.valueLimit = 1000;
    s.refreshTimeout = 10000;
    s.timeRange = 60;
    s.areaCorrect = {{30, 10, -20, -40}};
    s.vendor = "127.0.0.1";
    s.tags = {GraphTag{"_memory (Core)", 0x00FF00}, GraphTag{"_threads (Core)", 0xFF8000}};
    core::SettingsSection saving = Section();
    saving.File().WriteString(kGraphSection, "Version", "2");
    SaveGraphSettings(saving, kUid, s);
    SaveGraphSettings(saving, kUid + 1, GraphSettings{});
    EXPECT_EQ(saving.File().Get(kGraphSection, "Wnd.812345.Chart-Vendor"), "127.0.0.1");
    EXPECT_EQ(saving.File().Get(kGraphSection, "Wnd.812345.Chart.Tag.1-Name"), "_threads (Core)");
    EXPECT_TRUE(saving.File().Get(kGraphSection, "Wnd.812345.Chart.Tag.1-PenColor"));
    EXPECT_TRUE(saving.File().Get(kGraphSection, "Wnd.812345.Chart.Tag-Size"));
    const core::SettingsSection loading = Section(saving.File());
    EXPECT_EQ(LoadGraphSettings(loading, kUid, kDpi), s);
    EXPECT_EQ(LoadGraphSettings(loading, kUid + 1, kDpi), GraphSettings{});

    // The older form: the record whole, the chart under lower-case keys.
    std::vector<uint8_t> record(kGraphLegacySize, 0);
    Put<uint32_t>(record, 0, 0x112233), Put<uint32_t>(record, 12, 0x0000FF);
    Put<int32_t>(record, 20, -16), Put<uint8_t>(record, 24, 0x55), Put<uint32_t>(record, 28, 3),
        Put<uint32_t>(record, 32, 2), Put<uint8_t>(record, 36, 1), Put<uint32_t>(record, 40, 77),
        Put<uint32_t>(record, 44, 0),         // refresh 0: a busy loop
        Put<uint32_t>(record, 48, 60), Put<uint32_t>(record, 52, 80),  // past the bar
        Put<uint32_t>(record, 56, 0),         // TimeRange 0: no window width
        Put<int32_t>(record, 60, 5), Put<int32_t>(record, 72, -1000000);
    core::SettingsSection older = Section();
    older.File().WriteStruct(kGraphSection, "WND-812345", record);
    older.File().WriteString(kGraphSection, "WND-812345.chart-vendor", "10.0.0.9");
    older.File().WriteStruct(kGraphSection, "WND-812345.chart-tag.size", std::vector<uint8_t>{2, 0, 0, 0});
    older.File().WriteString(kGraphSection, "WND-812345.chart-tag.0.name", "msec (mod_icmp)");
    older.File().WriteStruct(kGraphSection, "WND-812345.chart-tag.0.pencolor", std::vector<uint8_t>{0xFF, 0, 0, 0});
    older.File().WriteString(kGraphSection, "WND-812345.chart-tag.1.name", std::string(300, 'x'));
    const GraphSettings got = LoadGraphSettings(older, kUid, kDpi);
    EXPECT_EQ(got.color[kGraphBackground], 0x112233u);
    EXPECT_EQ(got.color[kGraphError], 0x0000FFu);
    EXPECT_EQ(got.fontHeight, -16);
    EXPECT_EQ(got.param, 0x55);
    EXPECT_EQ(got.penSize, 3u);
    EXPECT_EQ(got.penStyle, 2u);
    EXPECT_EQ(got.valueLimit, 77u);
    EXPECT_EQ(got.refreshTimeout, kMinRefreshMs);
    EXPECT_EQ(got.sbarParts[1], 50u);
    EXPECT_EQ(got.timeRange, 1u);
    EXPECT_EQ(got.areaCorrect[0], 5);
    EXPECT_EQ(got.areaCorrect[3], -kMaxAreaCorrect);
    EXPECT_EQ(got.vendor, "10.0.0.9");
    ASSERT_EQ(got.tags.size(), 2u);
    EXPECT_EQ(got.tags[0], (GraphTag{"msec (mod_icmp)", 0xFF}));
    EXPECT_EQ(got.tags[1].name.size(), kGraphTextCapacity - 1);  // text fields hold 127 units
}

}  // namespace
}  // namespace qm::windows
