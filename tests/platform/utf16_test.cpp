#include "platform/utf16.h"

#include <gtest/gtest.h>

namespace qm::platform {
namespace {

// "a", e-acute (2 bytes), euro sign (3 bytes), grinning face (4 bytes, a surrogate pair).
const std::string kMixed = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
const std::string kFffd = "\xEF\xBF\xBD";

TEST(Utf16, ConvertsEveryPlaneBothWays) {
    const std::u16string u16 = u"a\u00E9\u20AC\U0001F600";
    EXPECT_EQ(Utf8ToUtf16(kMixed), u16);
    EXPECT_EQ(Utf16ToUtf8(u16), kMixed);
    EXPECT_EQ(Utf16Length(kMixed), 5u);

    const std::string le = Utf8ToUtf16LEBytes(kMixed);
    EXPECT_EQ(le, std::string("a\0\xE9\0\xAC\x20\x3D\xD8\x00\xDE", 10));
    EXPECT_EQ(Utf16LEBytesToUtf8(le), kMixed);
    EXPECT_EQ(SanitizeUtf8(kMixed), kMixed);
    EXPECT_EQ(Utf8ToUtf16(std::string("x\0y", 3)), std::u16string(u"x\0y", 3));
}

TEST(Utf16, EachBadByteBecomesOneReplacement) {
    struct Case {
        std::string in;
        size_t replacements;
    };
    const Case cases[] = {
        {"\xFF", 1},                 // never valid
        {"\xC3", 1},                 // truncated at the end
        {"\xC0\x80", 2},             // overlong NUL
        {"\xE0\x80\xAF", 3},         // overlong slash
        {"\xED\xA0\x80", 3},         // encoded surrogate
        {"\xF4\x90\x80\x80", 4},     // above U+10FFFF
        {"\x80\xBF", 2},             // stray continuation bytes
    };
    for (const Case& c : cases) {
        std::string expected;
        for (size_t i = 0; i < c.replacements; ++i) expected += kFffd;
        EXPECT_EQ(SanitizeUtf8(c.in + "z"), expected + "z") << testing::PrintToString(c.in);
        EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(c.in)), expected);
        EXPECT_EQ(Utf16Length(c.in), c.replacements);
    }
    // A broken sequence must not swallow the valid character after it.
    EXPECT_EQ(SanitizeUtf8("\xE2\x82" "A\xC3\xA9"), kFffd + kFffd + "A\xC3\xA9");

    EXPECT_EQ(Utf16ToUtf8(u"\xD800x"), kFffd + "x");
    EXPECT_EQ(Utf16ToUtf8(u"\xDC00\xD800"), kFffd + kFffd);
    EXPECT_EQ(Utf16ToUtf8(u"x\xD83D"), "x" + kFffd);
    EXPECT_EQ(Utf16LEBytesToUtf8(std::string("A\0B", 3)), "A" + kFffd);
}

TEST(Utf16, TruncateNeverSplitsACharacter) {
    const std::string expected[] = {
        "", "a", "a\xC3\xA9", "a\xC3\xA9\xE2\x82\xAC", "a\xC3\xA9\xE2\x82\xAC", kMixed, kMixed};
    for (size_t units = 0; units < std::size(expected); ++units) {
        EXPECT_EQ(TruncateUtf16(kMixed, units), expected[units]) << units;
    }
    // Invalid bytes count as the one unit they convert to and stay as they were.
    EXPECT_EQ(TruncateUtf16("\xFF\xFEz", 2), "\xFF\xFE");
    EXPECT_EQ(TruncateUtf16("", 3), "");
}

}  // namespace
}  // namespace qm::platform
