#include "platform/codepage.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "platform/single_byte_charset.h"

namespace qm::platform {
namespace {

using namespace std::string_literals;

const std::string kFffd = "\xEF\xBF\xBD";

TEST(CodePage, Cp1251RoundTrip) {
    const std::string text = "Привет, мир! Ёё №5";
    const std::string cp1251 = "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0! \xA8\xB8 \xB9" "5";
    EXPECT_EQ(ConvertFromUtf8(text, "CP1251"), cp1251);
    EXPECT_EQ(ConvertToUtf8(cp1251, "CP1251"), text);

    // Every byte CP1251 defines survives the trip; 0x98, which it leaves
    // undefined, comes back as U+FFFD and then goes out as '?'.
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    std::string back = ConvertFromUtf8(ConvertToUtf8(all, "CP1251"), "CP1251");
    ASSERT_EQ(back.size(), 256u);
    for (int b = 0; b < 256; ++b) {
        EXPECT_EQ(static_cast<unsigned char>(back[b]), b == 0x98 ? '?' : b) << "byte " << b;
    }
    EXPECT_EQ(ConvertToUtf8("a\x98z", "cp1251"), "a" + kFffd + "z");
}

TEST(CodePage, BadBytesAreReplacedOneByOneAndDecodingGoesOn) {
    struct Case {
        std::string in;
        std::string out;
    };
    const std::vector<Case> cases = {
        {"ok \xF0\x9F\x98\x80 \xE2\x82\xAC", "ok \xF0\x9F\x98\x80 \xE2\x82\xAC"},
        {"a\xC3(b", "a" + kFffd + "(b"},                 // lead byte without continuation
        {"x\xE2\x82", "x" + kFffd + kFffd},              // cut off at the end
        {"\xE2\x82" "abc", kFffd + kFffd + "abc"},       // cut off before more text
        {"\xC0\xAF", kFffd + kFffd},                     // overlong '/'
        {"\xED\xA0\x80", kFffd + kFffd + kFffd},         // surrogate
        {"\xF4\x90\x80\x80!", kFffd + kFffd + kFffd + kFffd + "!"},  // above U+10FFFF
        {"\xFF\xFE", kFffd + kFffd},
        {"\x80" "end", kFffd + "end"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ConvertToUtf8(c.in, "UTF-8"), c.out) << c.in;
        EXPECT_EQ(ConvertToUtf8(c.in, "utf8"), c.out) << c.in;
    }
    // Through iconv: a character cut off at the end of UTF-16 data.
    EXPECT_EQ(ConvertToUtf8("A\0B"s, "UTF-16LE"), "A" + kFffd);
    // Outgoing, invalid input bytes become '?' whatever the target.
    EXPECT_EQ(ConvertFromUtf8("a\xC3(b\xE2\x82", "UTF-8"), "a?(b??");
    EXPECT_EQ(ConvertFromUtf8("a\xC3(b\xE2\x82", "ISO-8859-1"), "a?(b??");
    // An unknown charset still delivers the text.
    EXPECT_EQ(ConvertToUtf8("abc \xD0\x96", "NO-SUCH-CHARSET"), "abc \xD0\x96");
    EXPECT_EQ(ConvertFromUtf8("abc \xD0\x96", "NO-SUCH-CHARSET"), "abc ?");
}

TEST(CodePage, NulBytesAreKept) {
    const std::string utf8 = "a\0b\0\xD0\x96\0"s;
    EXPECT_EQ(ConvertToUtf8(utf8, "UTF-8"), utf8);
    EXPECT_EQ(ConvertToUtf8("a\0\xC6\0"s, "CP1251"), "a\0\xD0\x96\0"s);
    EXPECT_EQ(ConvertFromUtf8(utf8, "CP1251"), "a\0b\0\xC6\0"s);
}

TEST(CodePage, UnrepresentableCharacterBecomesQuestionMark) {
    EXPECT_EQ(ConvertFromUtf8("a\xE2\x82\xAC" "b\xE4\xB8\xAD" "c\xC3\xA9", "ISO-8859-1"),
              "a?b?c\xE9");
    EXPECT_EQ(ConvertFromUtf8("\xF0\x9F\x98\x80!", "CP1251"), "?!");
    EXPECT_EQ(ConvertFromUtf8("\xE2\x82\xAC", "ASCII"), "?");
    // '?' is written in the target's own encoding.
    EXPECT_EQ(ConvertFromUtf8("\xE2\x82\xAC\xF0\x9F\x98\x80", "UCS-2LE"), "\xAC\x20?\0"s);
}

TEST(CodePage, ManyThreadsConvertAtOnce) {
    const std::string text = "Съешь же ещё этих мягких французских булок \xE2\x82\xAC";
    const std::string cp1251 = ConvertFromUtf8(text, "CP1251");
    const std::string latin1 = ConvertFromUtf8(text, "ISO-8859-1");
    std::vector<std::thread> threads;
    std::vector<int> failures(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 400; ++i) {
                if (ConvertToUtf8(cp1251, "CP1251") != text) ++failures[t];
                if (ConvertFromUtf8(text, "ISO-8859-1") != latin1) ++failures[t];
                if (ConvertFromUtf8(text, "KOI8-R").size() != cp1251.size()) ++failures[t];
                if (ConvertToUtf8(text + "\xFF", "UTF-8") != text + kFffd) ++failures[t];
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < 8; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

// Datagrams from devices that write CP1251 or Latin-1: nothing of them is
// replaced, a line is decoded as a whole, and the bytes come back exactly.
TEST(CodePage, ReceivedTextKeepsEveryByte) {
    if (AnsiCharset() != "UTF-8") GTEST_SKIP() << "the locale's charset is " << AnsiCharset();
    ASSERT_EQ(FallbackCharset(), kDefaultFallbackCharset);

    const ReceivedText utf8 = DecodeReceived("<13>Привет é");
    EXPECT_EQ(utf8.charset, kUtf8Text);
    EXPECT_EQ(utf8.text, "<13>Привет é");

    const std::string latin = "<13>latin\xe9";
    const ReceivedText cp1251 = DecodeReceived(latin);
    EXPECT_NE(cp1251.charset, kUtf8Text);
    EXPECT_EQ(cp1251.text, "<13>latinй");
    EXPECT_EQ(EncodeAsReceived(cp1251.text, cp1251.charset), latin);
    // Valid UTF-8 in one part does not make a UTF-8 line of it.
    EXPECT_EQ(DecodeReceived("\xD0\x96 \xC6").text, "Р– Ж");

    std::string every;
    for (int b = 0; b < 256; ++b) every += static_cast<char>(b);
    const ReceivedText all = DecodeReceived(every);
    EXPECT_EQ(EncodeAsReceived(all.text, all.charset), every) << "0x98 is not in CP1251 and still comes back";

    ASSERT_TRUE(SetFallbackCharset("ISO-8859-1"));
    const ReceivedText iso = DecodeReceived(latin);
    EXPECT_EQ(iso.text, "<13>latin\xC3\xA9");
    EXPECT_EQ(EncodeAsReceived(iso.text, iso.charset), latin);
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
        std::string every;
        for (int b = 0; b < 256; ++b) every += static_cast<char>(b);
        const std::string text = charset->Decode(every);
        EXPECT_EQ(ConvertFromUtf8(text, "UTF-8"), text) << name << ": well-formed";
        EXPECT_EQ(charset->Encode(text), every) << name;
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
        const std::string setting = "LC_ALL="s + locale;
        int error = 0;
        auto child = ChildProcess::Start(
            {"/usr/bin/env", setting, self,
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
