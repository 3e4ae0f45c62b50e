#include "core/line_scanner.h"

#include <gtest/gtest.h>

namespace qm::core {
namespace {

// "severity/facility [message] [raw]", then "relayed", the sender and the
// time the suffix gave; "refused" for a line that is not taken.
std::string Scanned(std::string line, SuffixAt suffixAt = SuffixAt::FirstBar) {
    const auto r = ScanLine(line, suffixAt);
    if (!r) return "refused";
    std::string out = std::to_string(r->severity) + "/" + std::to_string(r->facility) + " [" + std::string(r->message) +
                      "] [" + std::string(r->raw) + "]";
    if (r->relayed) out += " relayed";
    if (r->suffix.hasSender) out += " from " + std::string(r->suffix.sender);
    if (r->suffix.hasTime)
        for (uint32_t v : {r->suffix.day, r->suffix.month, r->suffix.year, r->suffix.hour, r->suffix.minute,
                           r->suffix.second, r->suffix.millisecond})
            out += " " + std::to_string(v);
    return out;
}

TEST(LineScanner, PriorityMessageRawTextAndRelaySuffix) {
    const std::pair<std::string, std::string> cases[] = {
        {"<13>hello", "5/1 [hello] [<13>hello]"},
        // Leading blanks are skipped; the message keeps the blanks after '>'.
        {"  <13>  x", "5/1 [  x] [  <13>  x]"},
        {"<191>a", "7/23 [a] [<191>a]"}, {"<999>a", "7/124 [a] [<999>a]"}, {"<1234>x", "2/26 [x] [<1234>x]"},
        // Blanks inside the priority are skipped, a sign is read, and the shift is arithmetic.
        {"< 1 3>a", "5/1 [a] [< 1 3>a]"}, {"<-1>a", "7/127 [a] [<-1>a]"},
        {"hello", "refused"}, {">13>x", "refused"}, {"|x", "refused"}, {"<<13>x", "refused"},
        {"<12345>x", "refused"}, {std::string("\0<13>x", 6), "refused"},
        // Lines that end early.
        {"<13>", "5/1 [] [<13>]"}, {"<13", "5/1 [] []"}, {"    ", "0/0 [] []"},
        // Line breaks become blanks; binary bytes stay.
        {"<13>a\r\nb", "5/1 [a  b] [<13>a  b]"},
        {std::string("<13>a\0b\xff", 8), std::string("5/1 [a\0b\xff] [<13>a\0b\xff]", 21)},
        {"<13>x|a2;10.0.0.5;31 12 2023 23 59 58 999;", "5/1 [x] [<13>x] relayed from 10.0.0.5 31 12 2023 23 59 58 999"},
        // A suffix without a field closed by ';' marks the line relayed and
        // changes nothing else; with the sender closed and the time cut off,
        // the sender only; missing numbers read 0.
        {"<13>a|b", "5/1 [a] [<13>a] relayed"}, {"<13>x|a2;host;", "5/1 [x] [<13>x] relayed from host"},
        {"<13>x|a2;h;5 6;", "5/1 [x] [<13>x] relayed from h 5 6 0 0 0 0 0"},
        // A '|' at the very end starts no suffix; the message may be empty before one.
        {"<13>a|", "5/1 [a|] [<13>a|]"}, {"<13>|a2;h;1 1 2020 0 0 0 0;", "5/1 [] [<13>] relayed from h 1 1 2020 0 0 0 0"},
    };
    for (const auto& [line, scanned] : cases) EXPECT_EQ(Scanned(line), scanned) << ::testing::PrintToString(line);
}

// A line of the program's own log file: a bar of the message stays in it,
// and a line that does not end in a written suffix reads as a peer's does.
TEST(LineScanner, ALogFileLineKeepsTheBarsOfItsMessage) {
    const std::pair<std::string, std::string> cases[] = {
        {"<14>a|b|a2;10.0.0.5;31 12 2023 23 59 58 999;", "6/1 [a|b] [<14>a|b] relayed from 10.0.0.5 31 12 2023 23 59 58 999"},
        {"<14>x|a2;y|a2;h|1;1 2 2020 3 4 5 6;", "6/1 [x|a2;y] [<14>x|a2;y] relayed from h|1 1 2 2020 3 4 5 6"},
        {"<14>|a2;h;1 1 2020 0 0 0 0;", "6/1 [] [<14>] relayed from h 1 1 2020 0 0 0 0"},
        // Not the written form up to the end: the first bar, as ever.
        {"<13>a|b", "5/1 [a] [<13>a] relayed"}, {"<13>x|a2;h;5 6;", "5/1 [x] [<13>x] relayed from h 5 6 0 0 0 0 0"},
        {"<13>a|b|a2;h;1 2 3 4 5 6 7; ", "5/1 [a] [<13>a] relayed from h 1 2 3 4 5 6 7"},
        {"<13>a|", "5/1 [a|] [<13>a|]"},
    };
    for (const auto& [line, scanned] : cases)
        EXPECT_EQ(Scanned(line, SuffixAt::WrittenSuffix), scanned) << ::testing::PrintToString(line);
}

}  // namespace
}  // namespace qm::core
