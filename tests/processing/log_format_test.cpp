#include "processing/dbase/log_format.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "processing/dbase/dbase_settings.h"

namespace qm::processing {
namespace {

// 6 Dec 2026, 08:05:09.007.
constexpr platform::SystemTime kStamp{2026, 12, 0, 6, 8, 5, 9, 7};

core::EventRecord Record(std::string raw, std::string sender) {
    core::EventRecord e;
    e.type = core::kEventExternal;
    e.raw = std::move(raw);
    e.sender = std::move(sender);
    e.time = kStamp;
    return e;
}

// Little-endian bytes of UTF-16 units, written out unit by unit.
std::string UnitsLE(std::u16string_view units) {
    std::string out;
    for (char16_t u : units) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    }
    return out;
}

std::string Stored(std::string_view line) {
    std::string out;
    AppendStoredLine(out, line);
    return out;
}

TEST(LogFormat, DefaultLineIsTheRelayFormOfTheRecord) {
    const core::EventRecord e = Record("<13>hello", "10.1.2.3");
    const std::string line = FormatLogLine(kDefaultLogFormat, e);
    EXPECT_EQ(line, "<13>hello|a2;10.1.2.3;6 12 2026 8 5 9 7;");

    // UTF-16LE, no byte order mark, one 0x000A unit and no CR at the end.
    EXPECT_EQ(Stored(line), UnitsLE(u"<13>hello|a2;10.1.2.3;6 12 2026 8 5 9 7;\n"));

    // Lines follow each other directly.
    std::string two;
    AppendStoredLine(two, "a");
    AppendStoredLine(two, "b");
    EXPECT_EQ(two, std::string("a\0\n\0b\0\n\0", 8));
}

TEST(LogFormat, StoredLineKeepsNonLatinTextAsUtf16Units) {
    const core::EventRecord e = Record("<14>Привет 𝄞", "10.1.2.3");
    EXPECT_EQ(Stored(FormatLogLine(kDefaultLogFormat, e)),
              UnitsLE(u"<14>\u041F\u0440\u0438\u0432\u0435\u0442 \xD834\xDD1E|a2;10.1.2.3;6 12 2026 8 5 9 7;\n"));
}

TEST(LogFormat, LineFormatsWithOtherConversionsFallBackToTheDefault) {
    const core::EventRecord e = Record("<13>hello", "10.1.2.3");
    const std::string expected = "<13>hello|a2;10.1.2.3;6 12 2026 8 5 9 7;";
    for (const char* format : {"%s %d", "%n", "%s%s%u", "%s|%s %u %u %u %u %u %u %u %u", "%s|%s %u %u %u %u %u %u",
                               "%s|%s %u %u %u %u %u %u %s", "%s|%s %u %u %u %u %u %u %n", "%s|%s %*u %u %u %u %u %u %u",
                               "%s|%s %u %u %u %u %u %u %", "plain text", ""}) {
        SCOPED_TRACE(format);
        EXPECT_FALSE(IsValidLogFormat(format));
        EXPECT_EQ(FormatLogLine(format, e), expected);
    }

    // Any format with the same conversions in the same order is used as written.
    const char* own = "%s [%s] %.2u.%.2u.%u %.2u:%.2u:%.2u.%.3u 100%%";
    EXPECT_TRUE(IsValidLogFormat(own));
    EXPECT_EQ(FormatLogLine(own, e), "<13>hello [10.1.2.3] 06.12.2026 08:05:09.007 100%");
}

TEST(LogFormat, DefaultFileNameHasTwoDigitFieldsAndAFourDigitYear) {
    EXPECT_EQ(LogFileName(kDefaultLogNameFormat, {2026, 3, 0, 6, 8, 5, 9, 7}), "log_06032026_080509.log");
    EXPECT_EQ(LogFileName(kDefaultLogNameFormat, {2031, 11, 0, 23, 14, 59, 58, 999}), "log_23112031_145958.log");
    EXPECT_EQ(LogFileName(kDefaultLogNameFormat, {2026, 1, 0, 1, 0, 0, 0, 0}), "log_01012026_000000.log");
}

TEST(LogFormat, FileNameFormatMayStopEarlyButTakesOnlyTheSixNumbers) {
    const platform::SystemTime t{2026, 3, 0, 6, 8, 5, 9, 7};
    EXPECT_TRUE(IsValidLogNameFormat("day_%.2u%.2u%.4u.log"));
    EXPECT_EQ(LogFileName("day_%.2u%.2u%.4u.log", t), "day_06032026.log");
    EXPECT_EQ(LogFileName("fixed.log", t), "fixed.log");
    EXPECT_EQ(LogFileName("h%u-%u-%u_%u.log", t), "h6-3-2026_8.log");

    for (const char* format : {"%s.log", "log_%n.log", "%u%u%u%u%u%u%u.log", "%u_%s.log", "%u_%f.log", "log_%"}) {
        SCOPED_TRACE(format);
        EXPECT_FALSE(IsValidLogNameFormat(format));
        EXPECT_EQ(LogFileName(format, t), "log_06032026_080509.log");
    }
}

TEST(LogFormat, FileNamesNeverNameAnotherFolder) {
    const platform::SystemTime t{2026, 3, 0, 6, 8, 5, 9, 7};
    for (const char* format : {"../x_%u.log", "sub/log.log", "/tmp/x.log", "..\\x.log", "..", ".", ""}) {
        SCOPED_TRACE(format);
        EXPECT_FALSE(IsValidLogNameFormat(format));
        EXPECT_EQ(LogFileName(format, t), "log_06032026_080509.log");
    }
    EXPECT_TRUE(IsPlainFileName("..x.log"));
    EXPECT_FALSE(IsPlainFileName("../../etc/x"));
    EXPECT_FALSE(IsPlainFileName(std::string_view("a\0b", 3)));

    // A character conversion can spell a separator out of a number (minute 47
    // is '/', hour 0 is NUL): the name is checked again once formatted.
    const platform::SystemTime slash{2026, 3, 0, 6, 8, 47, 9, 7};
    EXPECT_EQ(LogFileName("x%u%u%u%u%c.log", slash), "log_06032026_084709.log");
    const platform::SystemTime midnight{2026, 3, 0, 6, 0, 5, 9, 7};
    EXPECT_EQ(LogFileName("x%u%u%u%c.log", midnight), "log_06032026_000509.log");
}

}  // namespace
}  // namespace qm::processing

namespace qm::processing {
namespace {

TEST(LogFormat, FastDefaultLineEqualsTheFormattedOne) {
    core::EventRecord e;
    e.raw = "<190>Привет, \xF0\x9F\x99\x82 world";
    e.sender = "192.168.100.200";
    e.time = platform::SystemTime{2026, 12, 0, 31, 23, 59, 58, 999};
    for (const std::string& raw : {e.raw, std::string(), std::string("<13>x|y")}) {
        e.raw = raw;
        std::string fast, slow;
        AppendLogLine(fast, kDefaultLogFormat, e);
        AppendStoredLine(slow, FormatLogLine(kDefaultLogFormat, e));
        EXPECT_EQ(fast, slow);
    }
}

}  // namespace
}  // namespace qm::processing
