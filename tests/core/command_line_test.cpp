#include "core/command_line.h"

#include <gtest/gtest.h>

namespace qm::core {
namespace {

using Words = std::vector<std::string>;

// The options a line sets, in a fixed order; "" when it sets none.
std::string Described(const std::string& line) {
    const StartOptions o = ParseCommandLine(line);
    std::string out;
    const auto add = [&](const std::string& part) { out += (out.empty() ? "" : " ") + part; };
    if (o.showHelp) add("help");
    if (o.logon) add("logon=" + o.logon->domain + "|" + o.logon->user + "|" + o.logon->password);
    if (o.windowReset) add("reset");
    if (o.godMode != GodModeOverride::None) add(o.godMode == GodModeOverride::On ? "gm=on" : "gm=off");
    if (!o.locale.empty()) add("locale=" + o.locale);
    if (o.fontSize) add("size=" + std::to_string(o.fontSize));
    if (!o.fontFace.empty()) add("face=" + o.fontFace);
    if (o.valueBufferSize) add("vc=" + std::to_string(*o.valueBufferSize));
    return out;
}

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

TEST(CommandLine, OptionsTheirValuesAndTheTenWordLimit) {
    const std::string k8 = "w1 w2 w3 w4 w5 w6 w7 w8 ", k9 = k8 + "w9 ";  // the next word lands in slot 9 or 10
    const std::pair<std::string, std::string> cases[] = {
        // Unknown words and words that only begin like an option change nothing.
        {"", ""}, {"junk -helpme -gmon -fontsize12 -wndresetXXXXXXXXXXX", ""}, {"-fontfaceABCDEFGHIJ Arial", ""},
        {"junk -gm on", "gm=on"}, {"-?", "help"}, {"-wndreset -help", "help reset"},
        // -auth needs its three slots and may lack the password; in the eighth
        // slot the password would be an eleventh word: ignored, and the words
        // after it are read as options.
        {"-gm on -auth . alice s3cret", "logon=.|alice|s3cret gm=on"}, {"-auth CORP bob", "logon=CORP|bob|"},
        {"w1 w2 w3 w4 w5 w6 -auth d u p", "logon=d|u|p"}, {"w1 w2 w3 w4 w5 w6 w7 -auth -wndreset -gm", "reset"},
        {k8 + "-auth x", ""},
        // A value option consumes the next word whatever it is, and only it.
        {"-gm maybe -wndreset", "reset"}, {"-locale Ж -wndreset", "reset"}, {"-fontsize big -wndreset", "reset"},
        {"-vc_buffer lots -wndreset", "reset"}, {"-fontface Arial -wndreset", "reset face=Arial"},
        {"-gm -?", ""}, {"-gm -wndreset", ""}, {"-gm -gm on", ""}, {"-gm on -gm off", "gm=off"}, {"-gm", ""},
        {"-locale english", "locale=en"}, {"-locale Украина", "locale=Ук"},
        {"-fontsize 14pt", "size=14"}, {"-fontsize 007", "size=7"},
        {"-vc_buffer 12k", "vc=12"}, {"-vc_buffer 0", "vc=0"},  // a size of its own: the collector off
        {"-vc_buffer k12", ""},                                  // no number, no size
        {"-fontface Arial -fontface", "face=Arial"}, {"-fontface ГарнитураШрифтаДлинная", "face=ГарнитураШрифта"},
        // Only ten words count: a value option in the last slot gets nothing.
        {k9 + "-wndreset", "reset"}, {k9 + "w10 -wndreset", ""}, {k9 + "w10 -?", ""}, {k8 + "-fontsize 14", "size=14"},
        {k9 + "-fontsize 14", ""}, {k9 + "-gm on", ""}, {k9 + "-locale EN", ""}, {k9 + "-fontface Arial", ""},
        {k9 + "-vc_buffer 100", ""},
        // -def resets everything; later options win over it.
        {"-fontsize 14 -gm on -locale EN -def", "reset gm=off locale=RU size=11 face=Calibri vc=5000"},
        {"-def -gm on -fontface Arial -vc_buffer 7", "reset gm=on locale=RU size=11 face=Arial vc=7"},
    };
    for (const auto& [line, options] : cases) EXPECT_EQ(Described(line), options) << line;
    EXPECT_GE(ParseCommandLine("-fontsize 999999999999999").fontSize, 0);
}

}  // namespace
}  // namespace qm::core
