#include "windows/info_box/highlight_finder.h"

#include <gtest/gtest.h>

#include <string>

namespace qm::windows {
namespace {

HighlightRule Rule(std::string start, std::string end, int32_t first = 0, int32_t limit = -1) {
    return HighlightRule{true, {}, std::move(start), std::move(end), first, limit};
}

std::vector<std::string> Marked(std::string_view text, const HighlightRule& rule) {
    std::vector<std::string> out;
    for (const TextSpan& s : FindOccurrences(text, rule)) out.emplace_back(text.substr(s.begin, s.end - s.begin));
    return out;
}

using Texts = std::vector<std::string>;
const std::string kDetails = "Details\r\n- Sender: 10.0.0.1\r\n- Level: Warning\r\n- Time: 12:30:01\r\n";

TEST(HighlightFinder, MarksOccurrencesByNumberFromFirstToBelowTheLimit) {
    EXPECT_EQ(Marked(kDetails, Rule("- ", ":")), (Texts{"Sender", "Level", "Time"}));
    EXPECT_EQ(Marked(kDetails, Rule("- ", ":", 1, 2)), Texts{"Level"});
    EXPECT_EQ(Marked(kDetails, Rule("- ", ":", 1)), (Texts{"Level", "Time"}));
    EXPECT_TRUE(Marked(kDetails, Rule("- ", ":", 2, 2)).empty());
    EXPECT_EQ(Marked("[a] [b] [c", Rule("[", "]")), (Texts{"a", "b"})) << "an unclosed start ends the search";
    EXPECT_EQ(Marked("<>", Rule("<", ">")), Texts{""});
}

TEST(HighlightFinder, ADisabledRuleOrAnEmptyMarkerMarksNothing) {
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

}  // namespace
}  // namespace qm::windows
