// UTF-8 <-> UTF-16 and the charsets text arrives in or leaves with.
#include "platform/codepage.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "platform/process.h"
#include "platform/single_byte_charset.h"
#include "platform/utf16.h"

namespace qm::platform {
namespace {

using namespace std::string_literals;

const std::string kFffd = "\xEF\xBF\xBD";
// "a", e-acute (2 bytes), euro sign (3 bytes), grinning face (4 bytes, a surrogate pair).
const std::string kMixed = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";

std::string EveryByte() {
    std::string every;
    for (int b = 0; b < 256; ++b) every += static_cast<char>(b);
    return every;
}

TEST(Utf16, ConvertsEveryPlaneBothWaysAndTruncatesWholeCharacters) {
    const std::u16string u16 = u"a\u00E9\u20AC\U0001F600";
    EXPECT_EQ(Utf8ToUtf16(kMixed), u16);
    EXPECT_EQ(Utf16ToUtf8(u16), kMixed);
    EXPECT_EQ(Utf16Length(kMixed), 5u);
    const std::string le = Utf8ToUtf16LEBytes(kMixed);
    EXPECT_EQ(le, std::string("a\0\xE9\0\xAC\x20\x3D\xD8\x00\xDE", 10));
    EXPECT_EQ(Utf16LEBytesToUtf8(le), kMixed);
    EXPECT_EQ(Utf8ToUtf16("x\0y"s), std::u16string(u"x\0y", 3));
    // ASCII runs of every length around the widening's 16-byte steps, with
    // and without other characters after them, appended to what is there.
    for (size_t run = 0; run <= 40; ++run) {
        for (const std::string& tail : {""s, kMixed, "\xFF"s + std::string(20, 'q')}) {
            std::string text;
            for (size_t k = 0; k < run; ++k) text += char(k % 2 ? 0x7F : 0x20 + k);
            text += tail;
            std::string expected = "\x01\x02";
            for (const char16_t u : Utf8ToUtf16(text)) expected += {char(u & 0xFF), char(u >> 8)};
            std::string appended = "\x01\x02";
            AppendUtf16LEBytes(appended, text);
            EXPECT_EQ(appended, expected) << run << " " << tail.size();
        }
    }

    const std::string truncated[] = {"", "a", "a\xC3\xA9", "a\xC3\xA9\xE2\x82\xAC", "a\xC3\xA9\xE2\x82\xAC", kMixed, kMixed};
    for (size_t units = 0; units < std::size(truncated); ++units)
        EXPECT_EQ(TruncateUtf16(kMixed, units), truncated[units]) << units;
    // Invalid bytes count as the one unit they convert to and stay as they were.
    EXPECT_EQ(TruncateUtf16("\xFF\xFEz", 2), "\xFF\xFE");
}

TEST(Utf16, EachBadByteBecomesOneReplacementAndDecodingGoesOn) {
    const struct {
        std::string in;
        size_t replacements;
    } cases[] = {
        {"\xFF", 1}, {"\xC3", 1},                        // never valid; cut off at the end
        {"\xC0\x80", 2}, {"\xE0\x80\xAF", 3},            // overlong NUL and slash
        {"\xED\xA0\x80", 3}, {"\xF4\x90\x80\x80", 4},    // surrogate; above U+10FFFF
        {"\x80\xBF", 2}, {"\xE2\x82", 2},                // stray continuations; cut off before more text
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.in));
        std::string expected;
        for (size_t i = 0; i < c.replacements; ++i) expected += kFffd;
        EXPECT_EQ(SanitizeUtf8(c.in + "(z"), expected + "(z");
        EXPECT_EQ(ConvertToUtf8(c.in + "(z", "UTF-8"), expected + "(z");
        EXPECT_EQ(ConvertToUtf8(c.in + "(z", "utf8"), expected + "(z");
        EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(c.in)), expected);
        EXPECT_EQ(Utf16Length(c.in), c.replacements);
    }
    // A broken sequence must not swallow the valid character after it.
    EXPECT_EQ(SanitizeUtf8("\xE2\x82" "A\xC3\xA9"), kFffd + kFffd + "A\xC3\xA9");
    EXPECT_EQ(SanitizeUtf8(kMixed), kMixed);
    EXPECT_EQ(Utf16ToUtf8(u"\xD800x"), kFffd + "x");
    EXPECT_EQ(Utf16ToUtf8(u"\xDC00\xD800"), kFffd + kFffd);
    EXPECT_EQ(Utf16ToUtf8(u"x\xD83D"), "x" + kFffd);
    EXPECT_EQ(Utf16LEBytesToUtf8("A\0B"s), "A" + kFffd);
    EXPECT_EQ(ConvertToUtf8("A\0B"s, "UTF-16LE"), "A" + kFffd);  // the same through iconv
}

TEST(CodePage, ConvertsBothWaysKeepingNulsAndMarkingWhatDoesNotFit) {
    const std::string text = "Привет, мир! Ёё №5", cp1251 = "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0! \xA8\xB8 \xB9" "5";
    EXPECT_EQ(ConvertFromUtf8(text, "CP1251"), cp1251);
    EXPECT_EQ(ConvertToUtf8(cp1251, "CP1251"), text);
    // Every byte CP1251 defines survives the trip; 0x98, which it leaves
    // undefined, comes back as U+FFFD and then goes out as '?'.
    const std::string back = ConvertFromUtf8(ConvertToUtf8(EveryByte(), "CP1251"), "CP1251");
    ASSERT_EQ(back.size(), 256u);
    for (int b = 0; b < 256; ++b) EXPECT_EQ(static_cast<unsigned char>(back[b]), b == 0x98 ? '?' : b) << "byte " << b;
    EXPECT_EQ(ConvertToUtf8("a\x98z", "cp1251"), "a" + kFffd + "z");

    EXPECT_EQ(ConvertToUtf8("a\0b\0\xD0\x96\0"s, "UTF-8"), "a\0b\0\xD0\x96\0"s);
    EXPECT_EQ(ConvertToUtf8("a\0\xC6\0"s, "CP1251"), "a\0\xD0\x96\0"s);
    EXPECT_EQ(ConvertFromUtf8("a\0b\0\xD0\x96\0"s, "CP1251"), "a\0b\0\xC6\0"s);

    EXPECT_EQ(ConvertFromUtf8("a\xE2\x82\xAC" "b\xE4\xB8\xAD" "c\xC3\xA9", "ISO-8859-1"), "a?b?c\xE9");
    EXPECT_EQ(ConvertFromUtf8("\xF0\x9F\x98\x80!", "CP1251"), "?!");
    EXPECT_EQ(ConvertFromUtf8("\xE2\x82\xAC", "ASCII"), "?");
    // '?' is written in the target's own encoding.
    EXPECT_EQ(ConvertFromUtf8("\xE2\x82\xAC\xF0\x9F\x98\x80", "UCS-2LE"), "\xAC\x20?\0"s);
    // Outgoing, invalid input bytes become '?' whatever the target.
    EXPECT_EQ(ConvertFromUtf8("a\xC3(b\xE2\x82", "UTF-8"), "a?(b??");
    EXPECT_EQ(ConvertFromUtf8("a\xC3(b\xE2\x82", "ISO-8859-1"), "a?(b??");
    // An unknown charset still delivers the text.
    EXPECT_EQ(ConvertToUtf8("abc \xD0\x96", "NO-SUCH-CHARSET"), "abc \xD0\x96");
    EXPECT_EQ(ConvertFromUtf8("abc \xD0\x96", "NO-SUCH-CHARSET"), "abc ?");
}

TEST(CodePage, ManyThreadsConvertAtOnce) {
    const std::string text = "Съешь же ещё этих мягких французских булок \xE2\x82\xAC";
    const std::string cp1251 = ConvertFromUtf8(text, "CP1251"), latin1 = ConvertFromUtf8(text, "ISO-8859-1");
    std::vector<std::thread> threads;
    std::vector<int> failures(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 400; ++i) {
                failures[t] += ConvertToUtf8(cp1251, "CP1251") != text;
                failures[t] += ConvertFromUtf8(text, "ISO-8859-1") != latin1;
                failures[t] += ConvertFromUtf8(text, "KOI8-R").size() != cp1251.size();
                failures[t] += ConvertToUtf8(text + "\xFF", "UTF-8") != text + kFffd;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures, std::vector<int>(8, 0));
}

// Datagrams from devices that write CP1251 or Latin-1: nothing of them is
// replaced, a line is decoded as a whole, and the bytes come back exactly.
TEST(CodePage, ReceivedTextKeepsEveryByte) {
    if (AnsiCharset() != "UTF-8") GTEST_SKIP() << "the locale's charset is " << AnsiCharset();
    ASSERT_EQ(FallbackCharset(), kDefaultFallbackCharset);
    const ReceivedText utf8 = DecodeReceived("<13>Привет é");
    EXPECT_EQ(std::tie(utf8.charset, utf8.text), std::tuple(kUtf8Text, "<13>Привет é"));

    const std::string latin = "<13>latin\xe9";
    const ReceivedText cp1251 = DecodeReceived(latin);
    EXPECT_NE(cp1251.charset, kUtf8Text);
    EXPECT_EQ(cp1251.text, "<13>latinй");
    EXPECT_EQ(EncodeAsReceived(cp1251.text, cp1251.charset), latin);
    // Valid UTF-8 in one part does not make a UTF-8 line of it.
    EXPECT_EQ(DecodeReceived("\xD0\x96 \xC6").text, "Р– Ж");
    const ReceivedText all = DecodeReceived(EveryByte());
    EXPECT_EQ(EncodeAsReceived(all.text, all.charset), EveryByte()) << "0x98 is not in CP1251 and still comes back";

    ASSERT_TRUE(SetFallbackCharset("ISO-8859-1"));
    const ReceivedText iso = DecodeReceived(latin);
    EXPECT_EQ(std::tuple(iso.text, EncodeAsReceived(iso.text, iso.charset)), std::tuple("<13>latin\xC3\xA9", latin));
    EXPECT_EQ(EncodeAsReceived(cp1251.text, cp1251.charset), latin) << "a text keeps the charset it was decoded with";
    for (const char* unusable : {"UTF-8", "UTF-16LE", "NO-SUCH-CHARSET", "ISO-2022-JP"})
        EXPECT_FALSE(SetFallbackCharset(unusable)) << unusable;
    EXPECT_EQ(FallbackCharset(), "ISO-8859-1");
    ASSERT_TRUE(SetFallbackCharset(kDefaultFallbackCharset));
}

TEST(SingleByteCharset, EveryByteIsOneCharacterOfItsOwn) {
    for (const char* name : {"CP1251", "KOI8-R", "ISO-8859-15", "CP1252", "ASCII"}) {
        const auto charset = SingleByteCharset::Build(name);
        ASSERT_TRUE(charset) << name;
        const std::string text = charset->Decode(EveryByte());
        EXPECT_EQ(ConvertFromUtf8(text, "UTF-8"), text) << name << ": well-formed";
        EXPECT_EQ(charset->Encode(text), EveryByte()) << name;
    }
    EXPECT_EQ(SingleByteCharset::Build("CP1251")->Decode("\x98\xC6"), "\xC2\x98Ж");
    EXPECT_EQ(SingleByteCharset::Build("CP1251")->Encode("ЖéЖ"), "\xC6?\xC6");
    EXPECT_FALSE(SingleByteCharset::Build("UTF-8"));
    EXPECT_FALSE(SingleByteCharset::Build("GB18030"));
    EXPECT_EQ(SingleByteCharset::Latin1()->Decode("\xE9"), "\xC3\xA9");
}

TEST(CodePage, AnsiCharsetFollowsLocaleAndTreatsAsciiAsUtf8) {
    ASSERT_FALSE(AnsiCharset().empty());
    EXPECT_EQ(AnsiToUtf8("a\xC3\xA9"), ConvertToUtf8("a\xC3\xA9", AnsiCharset().c_str()));
    const char* lcAll = std::getenv("LC_ALL");
    if (lcAll && (std::strcmp(lcAll, "C") == 0 || std::strcmp(lcAll, "qm_NO.SUCH") == 0)) {
        EXPECT_EQ(AnsiCharset(), "UTF-8");
        EXPECT_EQ(AnsiToUtf8("\xD0\x96"), "\xD0\x96");
        EXPECT_EQ(AnsiToUtf8("\xD0\x96\xFF"), "Р–я") << "not UTF-8 as a whole: all of it through the fallback";
        EXPECT_EQ(Utf8ToAnsi("\xD0\x96"), "\xD0\x96");
        return;
    }
    // The charset is fixed on first use, so the C and missing-locale cases
    // run in fresh copies of this test program.
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    for (const char* locale : {"C", "qm_NO.SUCH"}) {
        int error = 0;
        auto child = ChildProcess::Start({"/usr/bin/env", "LC_ALL="s + locale, self,
                                          "--gtest_filter=CodePage.AnsiCharsetFollowsLocaleAndTreatsAsciiAsUtf8"},
                                         &error, true);
        ASSERT_TRUE(child) << error;
        std::string output;
        char buf[4096];
        for (ssize_t n; (n = read(child->StdoutFd(), buf, sizeof buf)) > 0;) output.append(buf, n);
        EXPECT_EQ(child->Wait(std::chrono::seconds(30)), 0) << locale << "\n" << output;
        EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
    }
}

}  // namespace
}  // namespace qm::platform
