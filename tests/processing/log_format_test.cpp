// How the event database writes: a line in its format, stored as UTF-16LE,
// the names of its files, and the lines a target still owes.
#include "processing/dbase/log_format.h"

#include <gtest/gtest.h>

#include "processing/dbase/dbase_settings.h"
#include "processing/dbase/line_backlog.h"

namespace qm::processing {
namespace {

core::EventRecord Record(std::string raw) {
    core::EventRecord e;
    e.SetTexts(raw, "");
    e.sender = "10.1.2.3";
    e.time = {2026, 12, 0, 6, 8, 5, 9, 7};  // 6 Dec 2026, 08:05:09.007
    return e;
}

// Little-endian bytes of UTF-16 units, written out unit by unit.
std::string UnitsLE(std::u16string_view units) {
    std::string out;
    for (char16_t u : units) out += {char(u & 0xFF), char(u >> 8)};
    return out;
}

TEST(LogFormat, DefaultLineIsStoredAsUtf16LEWithOneLineFeedUnit) {
    const std::string line = FormatLogLine(kDefaultLogFormat, Record("<14>Привет 𝄞"));
    EXPECT_EQ(line, "<14>Привет 𝄞|a2;10.1.2.3;6 12 2026 8 5 9 7;");
    // No byte order mark, a surrogate pair for the clef, 0x000A at the end and no CR.
    std::string stored;
    AppendStoredLine(stored, line);
    EXPECT_EQ(stored, UnitsLE(u"<14>\u041F\u0440\u0438\u0432\u0435\u0442 \xD834\xDD1E|a2;10.1.2.3;6 12 2026 8 5 9 7;\n"));
}

TEST(LogFormat, FastLineEqualsTheFormattedOne) {
    core::EventRecord e = Record("");
    e.sender = "192.168.100.200";
    e.time = {2026, 12, 0, 31, 23, 59, 58, 999};
    for (const char* format : {kDefaultLogFormat, "%s [%s] %u.%u.%u %u:%u:%u.%u"}) {
        for (const char* raw : {"<190>Привет, \xF0\x9F\x99\x82 world", "", "<13>x|y"}) {
            e.SetTexts(raw, "");
            std::string fast = "before", slow = "before";
            AppendLogLine(fast, format, e);
            AppendStoredLine(slow, FormatLogLine(format, e));
            EXPECT_EQ(fast, slow) << format << " " << raw;
        }
    }
}

TEST(LogFormat, AnEventWithoutRawTextIsStoredWithItsMessageBehindItsPriority) {
    core::EventRecord own = Record("");
    own.type = core::kEventSystem;
    own.severity = 6;
    own.SetMessage("Служба базы данных запущена");
    own.sender = "127.0.0.1";
    EXPECT_EQ(FormatLogLine(kDefaultLogFormat, own), "<46>Служба базы данных запущена|a2;127.0.0.1;6 12 2026 8 5 9 7;");
    own.severity = core::kNoSeverity;
    EXPECT_EQ(LoggedText(own), "<47>Служба базы данных запущена");
}

TEST(LogFormat, LineFormatsWithOtherConversionsFallBackToTheDefault) {
    const core::EventRecord e = Record("<13>hello");
    for (const char* format : {"%s %d", "%n", "%s|%s %u %u %u %u %u %u %u %u", "%s|%s %u %u %u %u %u %u",
                               "%s|%s %u %u %u %u %u %u %s", "%s|%s %u %u %u %u %u %u %n", "%s|%s %*u %u %u %u %u %u %u",
                               "%s|%s %u %u %u %u %u %u %", "plain text", ""}) {
        EXPECT_FALSE(IsValidLogFormat(format)) << format;
        EXPECT_EQ(FormatLogLine(format, e), "<13>hello|a2;10.1.2.3;6 12 2026 8 5 9 7;") << format;
    }
    // Any format with the same conversions in the same order is used as written.
    const char* own = "%s [%s] %.2u.%.2u.%u %.2u:%.2u:%.2u.%.3u 100%%";
    EXPECT_TRUE(IsValidLogFormat(own));
    EXPECT_EQ(FormatLogLine(own, e), "<13>hello [10.1.2.3] 06.12.2026 08:05:09.007 100%");
}

TEST(LogFormat, FileNamesTakeOnlyTheSixNumbersAndStayInTheLogFolder) {
    const platform::SystemTime t{2026, 3, 0, 6, 8, 5, 9, 7};
    const std::string fallback = "log_06032026_080509.log";  // two digits a field, four for the year
    EXPECT_EQ(LogFileName(kDefaultLogNameFormat, t), fallback);
    // A format may stop early, e.g. one file a day.
    for (const auto& [format, name] : {std::pair{"day_%.2u%.2u%.4u.log", "day_06032026.log"}, {"fixed.log", "fixed.log"},
                                       {"h%u-%u-%u_%u.log", "h6-3-2026_8.log"}, {"..x.log", "..x.log"}}) {
        EXPECT_TRUE(IsValidLogNameFormat(format)) << format;
        EXPECT_EQ(LogFileName(format, t), name);
    }
    for (const char* format : {"%s.log", "log_%n.log", "%u%u%u%u%u%u%u.log", "%u_%s.log", "%u_%f.log", "log_%",
                               "../x_%u.log", "sub/log.log", "/tmp/x.log", "..\\x.log", "..", ".", ""}) {
        EXPECT_FALSE(IsValidLogNameFormat(format)) << format;
        EXPECT_EQ(LogFileName(format, t), fallback) << format;
    }
    EXPECT_FALSE(IsPlainFileName(std::string_view("a\0b", 3)));

    // A character conversion can spell a separator out of a number (minute 47
    // is '/', hour 0 is NUL): the name is checked again once formatted.
    EXPECT_EQ(LogFileName("x%u%u%u%u%c.log", {2026, 3, 0, 6, 8, 47, 9, 7}), "log_06032026_084709.log");
    EXPECT_EQ(LogFileName("x%u%u%u%c.log", {2026, 3, 0, 6, 0, 5, 9, 7}), "log_06032026_000509.log");
}

// Stored lines "L<first>" .. "L<first+count-1>".
std::string NumberedLines(int first, int count) {
    std::string out;
    for (int n = first; n < first + count; ++n) AppendStoredLine(out, "L" + std::to_string(n));
    return out;
}

TEST(LineBacklog, MergesOverlapsAndGapsOnceInOrderAlsoAfterTrimming) {
    std::vector<LineBacklog> backlogs(3);
    backlogs[0].Append(0, NumberedLines(0, 3));
    backlogs[0].Append(3, NumberedLines(3, 2));  // continues the piece
    backlogs[0].Append(8, NumberedLines(8, 1));  // after a gap (the target was off)
    backlogs[1].Append(2, NumberedLines(2, 5));
    backlogs[2].Append(10, NumberedLines(10, 2));
    EXPECT_EQ(backlogs[0].Joined(), NumberedLines(0, 5) + NumberedLines(8, 1));
    EXPECT_EQ(LineBacklog::Merge(backlogs), NumberedLines(0, 7) + NumberedLines(8, 1) + NumberedLines(10, 2));

    // The oldest whole lines go; what is left keeps its place in the order.
    const size_t line = NumberedLines(0, 1).size();
    EXPECT_EQ(backlogs[0].KeepNewest(3 * line + 1), 3 * line);
    EXPECT_EQ(backlogs[0].Joined(), NumberedLines(3, 2) + NumberedLines(8, 1));
    EXPECT_EQ(backlogs[1].KeepNewest(2 * line), 3 * line);
    EXPECT_EQ(LineBacklog::Merge(backlogs), NumberedLines(3, 4) + NumberedLines(8, 1) + NumberedLines(10, 2));
    EXPECT_EQ(backlogs[2].KeepNewest(0), NumberedLines(10, 2).size());
    EXPECT_TRUE(backlogs[2].empty());
}

}  // namespace
}  // namespace qm::processing
