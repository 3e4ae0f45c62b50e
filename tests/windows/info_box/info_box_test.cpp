// The info box without widgets: its settings and zoom, and the highlights
// its rules mark in a text.
#include <gtest/gtest.h>

#include <string>

#include "platform/profile_file.h"
#include "processing/processing_test_support.h"
#include "support/temp_dir.h"
#include "windows/info_box/highlight_finder.h"
#include "windows/info_box/info_box_settings.h"
#include "windows/zoom.h"

namespace qm::windows {
namespace {

using processing::test::Put;

HighlightRule Rule(std::string start, std::string end, int32_t first = 0, int32_t limit = -1) {
    return HighlightRule{true, {}, std::move(start), std::move(end), first, limit};
}

std::vector<std::string> Marked(std::string_view text, const HighlightRule& rule) {
    std::vector<std::string> out;
    for (const TextSpan& s : FindOccurrences(text, rule)) out.emplace_back(text.substr(s.begin, s.end - s.begin));
    return out;
}

using MarkedTexts = std::vector<std::string>;
const std::string kDetails = "Details\r\n- Sender: 10.0.0.1\r\n- Level: Warning\r\n- Time: 12:30:01\r\n";

TEST(HighlightFinder, MarksOccurrencesByNumberFromFirstToBelowTheLimitWhenEnabled) {
    EXPECT_EQ(Marked(kDetails, Rule("- ", ":")), (MarkedTexts{"Sender", "Level", "Time"}));
    EXPECT_EQ(Marked(kDetails, Rule("- ", ":", 1, 2)), MarkedTexts{"Level"});
    EXPECT_EQ(Marked(kDetails, Rule("- ", ":", 1)), (MarkedTexts{"Level", "Time"}));
    EXPECT_TRUE(Marked(kDetails, Rule("- ", ":", 2, 2)).empty());
    EXPECT_EQ(Marked("[a] [b] [c", Rule("[", "]")), (MarkedTexts{"a", "b"})) << "an unclosed start ends the search";
    EXPECT_EQ(Marked("<>", Rule("<", ">")), MarkedTexts{""});
    // A disabled rule or an empty marker marks nothing.
    HighlightRule off = Rule("- ", ":");
    off.enabled = false;
    EXPECT_TRUE(Marked(kDetails, off).empty());
    EXPECT_TRUE(Marked(kDetails, Rule("", ":")).empty());
    EXPECT_TRUE(Marked(kDetails, Rule("- ", "")).empty());
}

TEST(HighlightFinder, OffsetsAreGivenInBytesAndInUtf16Units) {
    // Cyrillic letters are 2 bytes and 1 unit; the emoji 4 bytes and 2 units.
    const std::string text = "\xF0\x9F\x98\x80 - Отправитель: x\n- Уровень: y";
    InfoContent content;
    content.text = text;
    content.highlights[2] = Rule("- ", ":");
    const auto spans = FindHighlights(content);
    ASSERT_EQ(spans.size(), 2u);
    EXPECT_EQ(spans[0].rule, 2u);
    EXPECT_EQ(text.substr(spans[1].span.begin, spans[1].span.end - spans[1].span.begin), "Уровень");
    EXPECT_EQ(spans[0].span.unitBegin, 5u);
    EXPECT_EQ(spans[0].span.unitEnd, 16u);
    EXPECT_EQ(spans[1].span.unitBegin, 22u);
    EXPECT_EQ(spans[1].span.unitEnd, 29u);
}

TEST(InfoBoxSettings, WindowsKeepTheirOwnKeysAndFallBackToTheirLegacyRecord) {
    testing::TempDir dir("qm-infobox");
    const core::Config config(dir.path());
    std::vector<uint8_t> record(kLegacyInfoBoxSize, 0);
    Put(record, 0, int32_t(-27));
    for (uint32_t part = 0; part < 4; ++part) Put(record, 4 + 4 * part, 10 + part);
    Put(record, 20, uint8_t(0x81));
    platform::ProfileFile legacy;
    legacy.WriteString("mod_window", "Item.0-Name", "kept");
    legacy.WriteStruct("mod_window -> info_box", "WND-77", record);
    legacy.WriteStruct("mod_window -> info_box", "WND-78", record);
    ASSERT_TRUE(legacy.Save(dir.path() / "mod_window.ini"));

    const InfoBoxSettings s = LoadInfoBoxSettings(config, 77, 96);
    EXPECT_EQ(std::tie(s.fontHeight, s.param), std::tuple(-27, 0x81));
    EXPECT_EQ(s.statusParts, (StatusPartPercents{{10, 11, 12, 13}}));

    InfoBoxSettings changed;
    changed.fontHeight = -40;
    changed.statusParts = {{1, 2, 3, 4}};
    ASSERT_TRUE(SaveInfoBoxSettings(config, 77, changed));
    const InfoBoxSettings again = LoadInfoBoxSettings(config, 77, 96);
    EXPECT_EQ(again.fontHeight, -40);
    EXPECT_EQ(again.statusParts, changed.statusParts);
    EXPECT_EQ(LoadInfoBoxSettings(config, 78, 96).fontHeight, -27) << "78 has not been saved since";
    const auto ini = platform::ProfileFile::Load(dir.path() / "mod_window.ini");
    EXPECT_EQ(ini.Get("mod_window", "Item.0-Name"), "kept");
    EXPECT_TRUE(ini.Get("mod_window -> info_box", "Wnd.77-SBarParts"));

    ASSERT_TRUE(SaveInfoBoxSettings(config, 79, InfoBoxSettings{-2000000, 0, {{4000000000u, 50, 0, 0}}}));
    const InfoBoxSettings clamped = LoadInfoBoxSettings(config, 79, 96);
    EXPECT_EQ(PointsOfHeight(clamped.fontHeight, 96), kMaxZoomPoints);
    EXPECT_EQ(clamped.statusParts, (StatusPartPercents{{100, 50, 0, 0}}));
}

TEST(InfoBoxSettings, StatusPartEdgesAddUpPercentagesAndStopAtTheRightEdge) {
    EXPECT_EQ(StatusPartEdges({25, 25, 25, 25}, 800), (std::array<int32_t, 4>{200, 400, 600, 800}));
    EXPECT_EQ(StatusPartEdges({60, 60, 0, 4000000000u}, 500), (std::array<int32_t, 4>{300, 500, 500, 500}));
}

TEST(InfoBoxSettings, ZoomStartsFromTheProgramFontAndIsRefusedAtTheLimits) {
    InfoBoxSettings s;
    ASSERT_TRUE(ZoomTextIn(s, -12, 72));  // at 72 dots per inch a point is a pixel
    EXPECT_EQ(s.fontHeight, -13);
    s.fontHeight = -6;
    EXPECT_FALSE(ZoomTextOut(s, -12, 72));
    EXPECT_EQ(s.fontHeight, -6);
}

}  // namespace
}  // namespace qm::windows
