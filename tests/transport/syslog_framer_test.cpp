// The stream framer: both framings mixed in one stream, every way the stream
// can be cut into pieces giving the same frames, oversize frames skipped with
// the stream kept in step, and the end of a stream.
#include "transport/collector/syslog_framer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qm::transport {
namespace {

struct FramesSeen : FrameSink {
    void Frame(std::string_view bytes) override { frames.emplace_back(bytes); }
    void Oversize(uint64_t length) override { skipped.push_back(length); }
    std::vector<std::string> frames;
    std::vector<uint64_t> skipped;
};

FramesSeen FrameInPieces(std::string_view stream, size_t limit, const std::vector<size_t>& cuts) {
    SyslogFramer framer(limit);
    FramesSeen seen;
    size_t at = 0;
    for (size_t cut : cuts) {
        framer.Feed(stream.substr(at, cut - at), seen);
        at = cut;
    }
    framer.Feed(stream.substr(at), seen);
    framer.Finish(seen);
    return seen;
}

TEST(SyslogFramer, BothFramingsInOneStreamCutAnywhere) {
    using namespace std::string_literals;
    // logger --octet-count, syslog-ng's syslog() driver, a counted frame
    // holding LF and NUL, then LF (logger --tcp, syslog-ng's network()),
    // CRLF, NUL, a lone CR kept, lines that begin with digits, and blank
    // frames between them.
    const auto counted = [](const std::string& frame) { return std::to_string(frame.size()) + " " + frame; };
    const std::string stream = counted("<13>1 - host app - - - hello") + counted("<14>a\nb\0c\r\n"s) +
                               "<15>lf line\n"s + "<16>crlf line\r\n"s + "<17>nul line\0"s + "\n\n\r\n"s +
                               "<18>cr\rinside\n"s + "0 zero first\n"s + "12x digits then text\n"s +
                               "1234567890 ten digits are no count\n"s + "<19>last, unterminated"s;
    const std::vector<std::string> expected = {
        "<13>1 - host app - - - hello", "<14>a\nb\0c\r\n"s,  "<15>lf line",         "<16>crlf line",
        "<17>nul line",                 "<18>cr\rinside",     "0 zero first",        "12x digits then text",
        "1234567890 ten digits are no count", "<19>last, unterminated"};
    const FramesSeen whole = FrameInPieces(stream, 1024, {});
    EXPECT_EQ(whole.frames, expected);
    EXPECT_TRUE(whole.skipped.empty());
    for (size_t i = 1; i < stream.size(); ++i) {
        const FramesSeen two = FrameInPieces(stream, 1024, {i});
        ASSERT_EQ(two.frames, expected) << "cut at " << i;
    }
    std::vector<size_t> everyByte;
    for (size_t i = 1; i < stream.size(); ++i) everyByte.push_back(i);
    EXPECT_EQ(FrameInPieces(stream, 1024, everyByte).frames, expected);
}

TEST(SyslogFramer, OversizeFramesAreSkippedAndTheStreamStaysInStep) {
    const std::string fits(20, 'f');
    const std::string over(21, 'o');
    const std::string stream = "20 " + fits + "21 " + over + "<13>after counted\n" +  // counted: exactly the limit, one over
                               fits + "\r\n" + over + "\n" +                           // a CR beyond the limit is no part of it
                               std::string(5000, 'L') + "\n<13>after line\n" +        // a long line skipped to its LF
                               "999999999 " + std::string(40, 'x');                    // a count far past the limit
    for (const std::vector<size_t>& cuts : {std::vector<size_t>{}, std::vector<size_t>{3, 20, 50, 100, 3000}}) {
        const FramesSeen seen = FrameInPieces(stream, 20, cuts);
        EXPECT_EQ(seen.frames, (std::vector<std::string>{fits, "<13>after counted", fits, "<13>after line"}));
        ASSERT_EQ(seen.skipped.size(), 4u);
        EXPECT_EQ(seen.skipped[0], 21u);
        EXPECT_EQ(seen.skipped[1], 21u);
        EXPECT_GT(seen.skipped[2], 20u);
        EXPECT_EQ(seen.skipped[3], 999999999u);
    }
    // The end of a stream: a counted frame cut short is dropped; digits
    // alone are a line.
    EXPECT_TRUE(FrameInPieces("30 <13>cut short", 64, {}).frames.empty());
    EXPECT_EQ(FrameInPieces("12345", 64, {}).frames, std::vector<std::string>{"12345"});
    EXPECT_EQ(FrameInPieces("<13>" + std::string(17, 'z') + "\r", 20, {}).skipped, std::vector<uint64_t>{22});
}

}  // namespace
}  // namespace qm::transport
