#include "core/line_scanner.h"

#include <gtest/gtest.h>

namespace qm::core {
namespace {

struct Scan {
    bool refused = true;
    uint32_t severity = 0, facility = 0;
    std::string message, raw;
    bool relayed = false;
    RelaySuffix suffix;
};

Scan ScanOf(std::string line) {
    Scan s;
    auto r = ScanLine(line);
    if (!r) return s;
    s.refused = false;
    s.severity = r->severity;
    s.facility = r->facility;
    s.message = std::string(r->message);
    s.raw = std::string(r->raw);
    s.relayed = r->relayed;
    s.suffix = r->suffix;
    s.suffix.sender = {};  // points into the scanned copy
    return s;
}

TEST(LineScanner, PriorityMessageAndRawText) {
    Scan s = ScanOf("<13>hello");
    ASSERT_FALSE(s.refused);
    EXPECT_EQ(s.severity, 5u);
    EXPECT_EQ(s.facility, 1u);
    EXPECT_EQ(s.message, "hello");
    EXPECT_EQ(s.raw, "<13>hello");
    EXPECT_FALSE(s.relayed);

    // Leading blanks are skipped; the message keeps the blanks after '>'.
    s = ScanOf("  <13>  x");
    EXPECT_EQ(s.message, "  x");
    EXPECT_EQ(s.raw, "  <13>  x");

    s = ScanOf("<191>a");
    EXPECT_EQ(s.severity, 7u);
    EXPECT_EQ(s.facility, 23u);
    s = ScanOf("<999>a");
    EXPECT_EQ(s.severity, 7u);
    EXPECT_EQ(s.facility, 124u);
    // Blanks inside the priority are skipped, a sign is read, and the shift is arithmetic.
    s = ScanOf("< 1 3>a");
    EXPECT_EQ(s.severity, 5u);
    s = ScanOf("<-1>a");
    EXPECT_EQ(s.severity, 7u);
    EXPECT_EQ(s.facility, 127u);
}

TEST(LineScanner, RefusedLines) {
    EXPECT_TRUE(ScanOf("hello").refused);
    EXPECT_TRUE(ScanOf(">13>x").refused);
    EXPECT_TRUE(ScanOf("|x").refused);
    EXPECT_TRUE(ScanOf("<<13>x").refused);
    EXPECT_TRUE(ScanOf("<12345>x").refused);
    EXPECT_FALSE(ScanOf("<1234>x").refused);
    EXPECT_TRUE(ScanOf(std::string("\0<13>x", 6)).refused);
}

TEST(LineScanner, LinesThatEndEarly) {
    Scan s = ScanOf("<13>");
    ASSERT_FALSE(s.refused);
    EXPECT_EQ(s.message, "");
    EXPECT_EQ(s.raw, "<13>");

    s = ScanOf("<13");
    ASSERT_FALSE(s.refused);
    EXPECT_EQ(s.severity, 5u);
    EXPECT_EQ(s.facility, 1u);
    EXPECT_EQ(s.raw, "");

    s = ScanOf("    ");
    ASSERT_FALSE(s.refused);
    EXPECT_EQ(s.severity, 0u);
    EXPECT_EQ(s.facility, 0u);
    EXPECT_EQ(s.raw, "");
}

TEST(LineScanner, CarriageReturnsAndBinaryBytesStayInTheMessage) {
    Scan s = ScanOf("<13>a\r\nb");
    EXPECT_EQ(s.message, "a  b");
    EXPECT_EQ(s.raw, "<13>a  b");
    s = ScanOf(std::string("<13>a\0b\xff", 8));
    EXPECT_EQ(s.message, std::string("a\0b\xff", 4));
}

TEST(LineScanner, RelaySuffixRestoresSenderAndTime) {
    std::string line = "<13>x|a2;10.0.0.5;31 12 2023 23 59 58 999;";
    auto r = ScanLine(line);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->message, "x");
    EXPECT_EQ(r->raw, "<13>x");
    EXPECT_TRUE(r->relayed);
    EXPECT_TRUE(r->suffix.hasSender);
    EXPECT_EQ(r->suffix.sender, "10.0.0.5");
    ASSERT_TRUE(r->suffix.hasTime);
    EXPECT_EQ(r->suffix.day, 31u);
    EXPECT_EQ(r->suffix.month, 12u);
    EXPECT_EQ(r->suffix.year, 2023u);
    EXPECT_EQ(r->suffix.hour, 23u);
    EXPECT_EQ(r->suffix.minute, 59u);
    EXPECT_EQ(r->suffix.second, 58u);
    EXPECT_EQ(r->suffix.millisecond, 999u);

    // A suffix without a field closed by ';' marks the line relayed and changes nothing else.
    Scan s = ScanOf("<13>a|b");
    EXPECT_EQ(s.message, "a");
    EXPECT_TRUE(s.relayed);
    EXPECT_FALSE(s.suffix.hasSender);

    // Sender closed but time cut off: sender only. Missing numbers read 0.
    line = "<13>x|a2;host;";
    r = ScanLine(line);
    EXPECT_EQ(r->suffix.sender, "host");
    EXPECT_FALSE(r->suffix.hasTime);
    line = "<13>x|a2;h;5 6;";
    r = ScanLine(line);
    EXPECT_EQ(r->suffix.day, 5u);
    EXPECT_EQ(r->suffix.month, 6u);
    EXPECT_EQ(r->suffix.year, 0u);

    // A '|' at the very end starts no suffix: the bar stays in the message.
    s = ScanOf("<13>a|");
    EXPECT_FALSE(s.relayed);
    EXPECT_EQ(s.message, "a|");

    // The message may be empty before a suffix.
    s = ScanOf("<13>|a2;h;1 1 2020 0 0 0 0;");
    EXPECT_TRUE(s.relayed);
    EXPECT_EQ(s.message, "");
    EXPECT_EQ(s.raw, "<13>");
}

}  // namespace
}  // namespace qm::core
