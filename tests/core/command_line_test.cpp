#include "core/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qm::core {
namespace {

using Words = std::vector<std::string>;
StartOptions P(const std::string& line) { return ParseCommandLine(line); }

// Nine filler words, so the next word lands in the tenth (last) slot.
const std::string k9 = "w1 w2 w3 w4 w5 w6 w7 w8 w9 ";
const std::string k8 = "w1 w2 w3 w4 w5 w6 w7 w8 ";

TEST(CommandLine, SplitsIntoAtMostTenWordsOfFifteenUnits) {
    EXPECT_EQ(SplitCommandLine(" \t "), Words{});
    EXPECT_EQ(SplitCommandLine("  -gm\t\ton  "), (Words{"-gm", "on"}));
    // No quoting, and only blanks and tabs separate words.
    EXPECT_EQ(SplitCommandLine("\"Times New\" a\nb"), (Words{"\"Times", "New\"", "a\nb"}));
    EXPECT_EQ(SplitCommandLine("1 2 3 4 5 6 7 8 9 10 11"), (Words{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}));
    // Units are UTF-16: a Cyrillic letter is one, a character outside the BMP
    // two, and such a character at units 15-16 goes whole.
    const std::string grin = "\xF0\x9F\x98\x80";
    EXPECT_EQ(SplitCommandLine("abcdefghijklmnopq z"), (Words{"abcdefghijklmno", "z"}));
    EXPECT_EQ(SplitCommandLine("абвгдеёжзийклмнопр"), (Words{"абвгдеёжзийклмн"}));
    EXPECT_EQ(SplitCommandLine("abcdefghijklmn" + grin + "z"), (Words{"abcdefghijklmn"}));
    EXPECT_EQ(SplitCommandLine("abcdefghijklm" + grin + "z"), (Words{"abcdefghijklm" + grin}));

    char prog[] = "quillmark", a[] = "-fontface", b[] = "Times New";
    char* argv[] = {prog, a, b, nullptr};
    EXPECT_EQ(JoinArguments(1, argv), "");
    EXPECT_EQ(JoinArguments(3, argv), "-fontface Times New");
}

TEST(CommandLine, EmptyLineAndUnknownWordsChangeNothing) {
    for (const char* line : {"", "junk -helpme -gmon -fontsize12 -wndresetXXXXXXXXXXX", "-fontfaceABCDEFGHIJ Arial"}) {
        const StartOptions o = P(line);
        EXPECT_FALSE(o.showHelp || o.logon || o.windowReset) << line;
        EXPECT_EQ(o.godMode, GodModeOverride::None) << line;
        EXPECT_EQ(o.locale + o.fontFace, "") << line;
        EXPECT_EQ(o.fontSize, 0) << line;
        EXPECT_FALSE(o.valueBufferSize) << line;
    }
    EXPECT_EQ(P("junk -gm on").godMode, GodModeOverride::On);
}

TEST(CommandLine, HelpUnlessTakenAsAValueOrPastTheTenthWord) {
    EXPECT_TRUE(P("-?").showHelp);
    EXPECT_TRUE(P("-wndreset -help").showHelp);
    EXPECT_FALSE(P("-gm -?").showHelp);
    EXPECT_FALSE(P(k9 + "w10 -?").showHelp);
}

TEST(CommandLine, AuthNeedsItsThreeSlotsAndMayLackThePassword) {
    StartOptions o = P("-gm on -auth . alice s3cret");
    ASSERT_TRUE(o.logon);
    EXPECT_EQ(o.logon->domain + "|" + o.logon->user + "|" + o.logon->password, ".|alice|s3cret");
    EXPECT_EQ(o.godMode, GodModeOverride::On);

    o = P("-auth CORP bob");
    ASSERT_TRUE(o.logon);
    EXPECT_EQ(o.logon->user, "bob");
    EXPECT_EQ(o.logon->password, "");

    o = P("w1 w2 w3 w4 w5 w6 -auth d u p");  // slots 7..10 just fit
    ASSERT_TRUE(o.logon);
    EXPECT_EQ(o.logon->password, "p");

    // In the eighth slot its password would be an eleventh word: ignored, and
    // the words after it are read as options.
    o = P("w1 w2 w3 w4 w5 w6 w7 -auth -wndreset -gm");
    EXPECT_FALSE(o.logon);
    EXPECT_TRUE(o.windowReset);
    EXPECT_FALSE(P(k8 + "-auth x").logon);
}

TEST(CommandLine, ValueOptionsConsumeTheNextWordWhateverItIs) {
    // A value that does not fit is still consumed, and only it.
    for (const char* opt : {"-gm maybe", "-locale Ж", "-fontsize big", "-vc_buffer lots", "-fontface Arial"}) {
        const StartOptions o = P(std::string(opt) + " -wndreset");
        EXPECT_TRUE(o.windowReset) << opt;
        EXPECT_EQ(o.godMode, GodModeOverride::None) << opt;
        EXPECT_EQ(o.locale, "") << opt;
        EXPECT_EQ(o.fontSize, 0) << opt;
        EXPECT_FALSE(o.valueBufferSize) << opt;
    }
    // An option in the value's place is swallowed as the value.
    EXPECT_FALSE(P("-gm -wndreset").windowReset);
    EXPECT_EQ(P("-gm -gm on").godMode, GodModeOverride::None);
    EXPECT_EQ(P("-gm on -gm off").godMode, GodModeOverride::Off);
    EXPECT_EQ(P("-gm").godMode, GodModeOverride::None);

    EXPECT_EQ(P("-locale english").locale, "en");
    EXPECT_EQ(P("-locale Украина").locale, "Ук");
    EXPECT_EQ(P("-fontsize 14pt").fontSize, 14);
    EXPECT_EQ(P("-fontsize 007").fontSize, 7);
    EXPECT_GE(P("-fontsize 999999999999999").fontSize, 0);
    EXPECT_EQ(P("-vc_buffer 12k").valueBufferSize, 12u);
    EXPECT_EQ(P("-vc_buffer 0").valueBufferSize, 0u) << "a size of its own: the collector off";
    EXPECT_FALSE(P("-vc_buffer k12").valueBufferSize) << "no number, no size";
    EXPECT_EQ(P("-fontface Arial -fontface").fontFace, "Arial");
    EXPECT_EQ(P("-fontface ГарнитураШрифтаДлинная").fontFace, "ГарнитураШрифта");
}

TEST(CommandLine, OnlyTenWordsCountSoAValueOptionInTheLastSlotGetsNothing) {
    EXPECT_TRUE(P(k9 + "-wndreset").windowReset);
    EXPECT_FALSE(P(k9 + "w10 -wndreset").windowReset);
    EXPECT_EQ(P(k8 + "-fontsize 14").fontSize, 14);
    EXPECT_EQ(P(k9 + "-fontsize 14").fontSize, 0);
    EXPECT_EQ(P(k9 + "-gm on").godMode, GodModeOverride::None);
    EXPECT_EQ(P(k9 + "-locale EN").locale, "");
    EXPECT_EQ(P(k9 + "-fontface Arial").fontFace, "");
    EXPECT_FALSE(P(k9 + "-vc_buffer 100").valueBufferSize);
}

TEST(CommandLine, DefaultsResetEverythingAndLaterOptionsWin) {
    StartOptions o = P("-fontsize 14 -gm on -locale EN -def");
    EXPECT_TRUE(o.windowReset);
    EXPECT_EQ(o.fontFace, "Calibri");
    EXPECT_EQ(o.fontSize, 11);
    EXPECT_EQ(o.locale, "RU");
    EXPECT_EQ(o.godMode, GodModeOverride::Off);
    EXPECT_EQ(o.valueBufferSize, 5000u);
    EXPECT_FALSE(o.showHelp || o.logon);

    o = P("-def -gm on -fontface Arial -vc_buffer 7");
    EXPECT_EQ(o.godMode, GodModeOverride::On);
    EXPECT_EQ(o.fontFace, "Arial");
    EXPECT_EQ(o.valueBufferSize, 7u);
    EXPECT_EQ(o.fontSize, 11);
}

}  // namespace
}  // namespace qm::core
