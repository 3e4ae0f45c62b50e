#include "core/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qm::core {
namespace {

using Words = std::vector<std::string>;

// Nine filler words, so the next word lands in the tenth (last) slot.
const std::string kNineWords = "w1 w2 w3 w4 w5 w6 w7 w8 w9 ";

TEST(CommandLine, SplitsAtSpacesAndTabsOnlyWithoutQuoting) {
    EXPECT_EQ(SplitCommandLine(""), Words{});
    EXPECT_EQ(SplitCommandLine(" \t  \t"), Words{});
    EXPECT_EQ(SplitCommandLine("  -gm\t\ton   -wndreset\t"), (Words{"-gm", "on", "-wndreset"}));
    // Quotes are ordinary characters.
    EXPECT_EQ(SplitCommandLine("-fontface \"Times New\" x"), (Words{"-fontface", "\"Times", "New\"", "x"}));
    // Other white space does not separate words.
    EXPECT_EQ(SplitCommandLine("a\nb c\rd e\vf"), (Words{"a\nb", "c\rd", "e\vf"}));
}

TEST(CommandLine, KeepsAtMostTenWords) {
    EXPECT_EQ(SplitCommandLine("1 2 3 4 5 6 7 8 9 10 11 12"),
              (Words{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}));
    EXPECT_EQ(SplitCommandLine("1 2 3 4 5 6 7 8 9 10   "),
              (Words{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}));
}

TEST(CommandLine, CutsEachWordToFifteenUtf16UnitsNeverHalfACharacter) {
    EXPECT_EQ(SplitCommandLine("abcdefghijklmnopqrst uvw"), (Words{"abcdefghijklmno", "uvw"}));
    EXPECT_EQ(SplitCommandLine("abcdefghijklmno"), (Words{"abcdefghijklmno"}));
    // Cyrillic letters are one unit each although two bytes each.
    EXPECT_EQ(SplitCommandLine("абвгдеёжзийклмнопр"), (Words{"абвгдеёжзийклмн"}));
    // A character outside the BMP takes two units: at units 15-16 it goes whole.
    const std::string grin = "\xF0\x9F\x98\x80";
    EXPECT_EQ(SplitCommandLine("abcdefghijklmn" + grin + "z"), (Words{"abcdefghijklmn"}));
    EXPECT_EQ(SplitCommandLine("abcdefghijklm" + grin + "z"), (Words{"abcdefghijklm" + grin}));
}

TEST(CommandLine, JoinsArgumentsWithSpaces) {
    char prog[] = "quillmark", a[] = "-fontface", b[] = "Times New", c[] = "-gm";
    char* argv[] = {prog, a, b, c, nullptr};
    EXPECT_EQ(JoinArguments(1, argv), "");
    EXPECT_EQ(JoinArguments(4, argv), "-fontface Times New -gm");
    // An argument holding a blank becomes two words: only the first is the face.
    EXPECT_EQ(ParseCommandLine(JoinArguments(4, argv)).fontFace, "Times");
}

TEST(CommandLine, EmptyLineChangesNothing) {
    const StartOptions o = ParseCommandLine("");
    EXPECT_FALSE(o.showHelp);
    EXPECT_FALSE(o.logon.has_value());
    EXPECT_FALSE(o.windowReset);
    EXPECT_EQ(o.godMode, GodModeOverride::None);
    EXPECT_EQ(o.locale, "");
    EXPECT_EQ(o.fontSize, 0);
    EXPECT_EQ(o.fontFace, "");
    EXPECT_EQ(o.valueBufferSize, 0u);
}

TEST(CommandLine, HelpOptionsAskForHelp) {
    EXPECT_TRUE(ParseCommandLine("-?").showHelp);
    EXPECT_TRUE(ParseCommandLine("-help").showHelp);
    EXPECT_TRUE(ParseCommandLine("-wndreset -help").showHelp);
    EXPECT_FALSE(ParseCommandLine("-HELPME").showHelp);
    EXPECT_FALSE(ParseCommandLine("-helpme").showHelp);
    // A help word taken as another option's value is that value.
    EXPECT_FALSE(ParseCommandLine("-gm -?").showHelp);
    EXPECT_FALSE(ParseCommandLine(kNineWords + "w10 -?").showHelp);
}

TEST(CommandLine, AuthTakesDomainUserAndPassword) {
    StartOptions o = ParseCommandLine("-auth . alice s3cret");
    ASSERT_TRUE(o.logon.has_value());
    EXPECT_EQ(o.logon->domain, ".");
    EXPECT_EQ(o.logon->user, "alice");
    EXPECT_EQ(o.logon->password, "s3cret");

    // Only two words after it: the password is empty, the relaunch still asked for.
    o = ParseCommandLine("-auth CORP bob");
    ASSERT_TRUE(o.logon.has_value());
    EXPECT_EQ(o.logon->domain, "CORP");
    EXPECT_EQ(o.logon->user, "bob");
    EXPECT_EQ(o.logon->password, "");

    // Options before it still count.
    o = ParseCommandLine("-gm on -auth d u p");
    ASSERT_TRUE(o.logon.has_value());
    EXPECT_EQ(o.godMode, GodModeOverride::On);

    // The last three words of ten: positions 7..9 fit.
    o = ParseCommandLine("w1 w2 w3 w4 w5 w6 -auth d u p");
    ASSERT_TRUE(o.logon.has_value());
    EXPECT_EQ(o.logon->password, "p");
}

TEST(CommandLine, AuthTooCloseToTheEndIsIgnoredAndTheWordsAfterItRead) {
    // -auth in the eighth slot: its password would be an eleventh word.
    StartOptions o = ParseCommandLine("w1 w2 w3 w4 w5 w6 w7 -auth -wndreset -gm");
    EXPECT_FALSE(o.logon.has_value());
    EXPECT_TRUE(o.windowReset);

    o = ParseCommandLine("w1 w2 w3 w4 w5 w6 w7 w8 -auth x");
    EXPECT_FALSE(o.logon.has_value());
    o = ParseCommandLine(kNineWords + "-auth");
    EXPECT_FALSE(o.logon.has_value());
}

TEST(CommandLine, GodModeTakesOnOrOffAndConsumesAnyOtherValue) {
    EXPECT_EQ(ParseCommandLine("-gm on").godMode, GodModeOverride::On);
    EXPECT_EQ(ParseCommandLine("-gm off").godMode, GodModeOverride::Off);
    EXPECT_EQ(ParseCommandLine("-gm").godMode, GodModeOverride::None);
    EXPECT_EQ(ParseCommandLine("-gm on -gm off").godMode, GodModeOverride::Off);

    // "maybe" is the value: unchanged, and the option after it is read.
    StartOptions o = ParseCommandLine("-gm maybe -wndreset");
    EXPECT_EQ(o.godMode, GodModeOverride::None);
    EXPECT_TRUE(o.windowReset);

    // An option in the value's place is swallowed as the value.
    o = ParseCommandLine("-gm -wndreset");
    EXPECT_EQ(o.godMode, GodModeOverride::None);
    EXPECT_FALSE(o.windowReset);
    o = ParseCommandLine("-gm -gm on");
    EXPECT_EQ(o.godMode, GodModeOverride::None);
}

TEST(CommandLine, LocaleTakesTheFirstTwoCharacters) {
    EXPECT_EQ(ParseCommandLine("-locale EN").locale, "EN");
    EXPECT_EQ(ParseCommandLine("-locale english").locale, "en");
    EXPECT_EQ(ParseCommandLine("-locale Украина").locale, "Ук");
    // One letter is not a locale; it is still consumed.
    StartOptions o = ParseCommandLine("-locale e -wndreset");
    EXPECT_EQ(o.locale, "");
    EXPECT_TRUE(o.windowReset);
    EXPECT_EQ(ParseCommandLine("-locale Ж").locale, "");
    EXPECT_EQ(ParseCommandLine("-locale").locale, "");
}

TEST(CommandLine, FontSizeTakesLeadingDigits) {
    EXPECT_EQ(ParseCommandLine("-fontsize 14").fontSize, 14);
    EXPECT_EQ(ParseCommandLine("-fontsize 14pt").fontSize, 14);
    EXPECT_EQ(ParseCommandLine("-fontsize 007").fontSize, 7);
    EXPECT_EQ(ParseCommandLine("-fontsize big").fontSize, 0);
    EXPECT_EQ(ParseCommandLine("-fontsize").fontSize, 0);
    // Letters only: the value is still consumed.
    StartOptions o = ParseCommandLine("-fontsize big -wndreset");
    EXPECT_EQ(o.fontSize, 0);
    EXPECT_TRUE(o.windowReset);
    EXPECT_GE(ParseCommandLine("-fontsize 999999999999999").fontSize, 0);
}

TEST(CommandLine, FontFaceTakesTheWholeWord) {
    EXPECT_EQ(ParseCommandLine("-fontface Arial").fontFace, "Arial");
    EXPECT_EQ(ParseCommandLine("-fontface Consolas -fontsize 9").fontSize, 9);
    EXPECT_EQ(ParseCommandLine("-fontface").fontFace, "");
    // Nothing after it: an earlier face stays.
    EXPECT_EQ(ParseCommandLine("-fontface Arial -fontface").fontFace, "Arial");
    // A long face is cut with its word, to fifteen characters.
    EXPECT_EQ(ParseCommandLine("-fontface ABCDEFGHIJKLMNOPQRST").fontFace, "ABCDEFGHIJKLMNO");
    EXPECT_EQ(ParseCommandLine("-fontface ГарнитураШрифтаДлинная").fontFace, "ГарнитураШрифта");
}

TEST(CommandLine, OptionWordsMatchWholeNotByPrefix) {
    // Nineteen characters, cut to "-fontfaceABCDEF": no option.
    StartOptions o = ParseCommandLine("-fontfaceABCDEFGHIJ Arial");
    EXPECT_EQ(o.fontFace, "");
    o = ParseCommandLine("-wndresetXXXXXXXXXXX");
    EXPECT_FALSE(o.windowReset);
    o = ParseCommandLine("-gmon -fontsize12");
    EXPECT_EQ(o.godMode, GodModeOverride::None);
    EXPECT_EQ(o.fontSize, 0);
    // Unknown words are skipped one at a time.
    o = ParseCommandLine("junk -gm on");
    EXPECT_EQ(o.godMode, GodModeOverride::On);
}

TEST(CommandLine, WindowResetAndValueBuffer) {
    EXPECT_TRUE(ParseCommandLine("-wndreset").windowReset);
    EXPECT_EQ(ParseCommandLine("-vc_buffer 8000").valueBufferSize, 8000u);
    EXPECT_EQ(ParseCommandLine("-vc_buffer 12k").valueBufferSize, 12u);
    StartOptions o = ParseCommandLine("-vc_buffer lots -wndreset");
    EXPECT_EQ(o.valueBufferSize, 0u);
    EXPECT_TRUE(o.windowReset);
}

TEST(CommandLine, WordsAfterTheTenthAreIgnored) {
    EXPECT_TRUE(ParseCommandLine(kNineWords + "-wndreset").windowReset);
    EXPECT_FALSE(ParseCommandLine(kNineWords + "w10 -wndreset").windowReset);
    EXPECT_EQ(ParseCommandLine(kNineWords + "w10 -gm on").godMode, GodModeOverride::None);
}

TEST(CommandLine, ValueOptionAtLastSlotTakesNoValue) {
    EXPECT_EQ(ParseCommandLine(kNineWords + "-fontsize 14").fontSize, 0);
    EXPECT_EQ(ParseCommandLine(kNineWords + "-gm on").godMode, GodModeOverride::None);
    EXPECT_EQ(ParseCommandLine(kNineWords + "-locale EN").locale, "");
    EXPECT_EQ(ParseCommandLine(kNineWords + "-fontface Arial").fontFace, "");
    EXPECT_EQ(ParseCommandLine(kNineWords + "-vc_buffer 100").valueBufferSize, 0u);
    // One slot earlier the value is the tenth word.
    EXPECT_EQ(ParseCommandLine("w1 w2 w3 w4 w5 w6 w7 w8 -fontsize 14").fontSize, 14);
    EXPECT_EQ(ParseCommandLine("w1 w2 w3 w4 w5 w6 w7 w8 -gm off").godMode, GodModeOverride::Off);
}

TEST(CommandLine, DefaultsOptionResetsEverythingAndLaterOptionsWin) {
    StartOptions o = ParseCommandLine("-def");
    EXPECT_TRUE(o.windowReset);
    EXPECT_EQ(o.fontFace, "Calibri");
    EXPECT_EQ(o.fontSize, 11);
    EXPECT_EQ(o.locale, "RU");
    EXPECT_EQ(o.godMode, GodModeOverride::Off);
    EXPECT_EQ(o.valueBufferSize, 5000u);
    EXPECT_FALSE(o.showHelp);
    EXPECT_FALSE(o.logon.has_value());

    o = ParseCommandLine("-def -fontsize 14");
    EXPECT_EQ(o.fontSize, 14);
    EXPECT_EQ(o.fontFace, "Calibri");

    o = ParseCommandLine("-fontsize 14 -gm on -locale EN -def");
    EXPECT_EQ(o.fontSize, 11);
    EXPECT_EQ(o.godMode, GodModeOverride::Off);
    EXPECT_EQ(o.locale, "RU");

    o = ParseCommandLine("-def -gm on -fontface Arial -vc_buffer 7");
    EXPECT_EQ(o.godMode, GodModeOverride::On);
    EXPECT_EQ(o.fontFace, "Arial");
    EXPECT_EQ(o.valueBufferSize, 7u);
}

}  // namespace
}  // namespace qm::core
