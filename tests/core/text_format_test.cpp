#include "core/text_format.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/language.h"
#include "core/string_table.h"
#include "support/temp_dir.h"

namespace qm::core {
namespace {

TEST(TextFormat, FormatsTheConversionsTheTextsUse) {
    EXPECT_EQ(Format("%.2u.%.2u  %.2u:%.2u:%.2u", 6u, 12u, 8u, 5u, 9u), "06.12  08:05:09");
    EXPECT_EQ(Format("%I64d byte", int64_t(1023)), "1023 byte");
    EXPECT_EQ(Format("%.2f KB", 1.0), "1.00 KB");
    EXPECT_EQ(Format("Leeked: %I64d%% (%I64d bytes)", int64_t(5), int64_t(-7)), "Leeked: 5% (-7 bytes)");
    EXPECT_EQ(Format("%s|a2;%s;%u %u %u %u %u %u %u;", "m", "h", 1u, 2u, 3u, 4u, 5u, 6u, 7u), "m|a2;h;1 2 3 4 5 6 7;");
    // Without a 64-bit length a value is as wide as a C int.
    EXPECT_EQ(Format("%u", -1), "4294967295");
    EXPECT_EQ(Format("%I64u", uint64_t(1) << 40), "1099511627776");
    // Widths and precisions of texts count characters, not bytes.
    EXPECT_EQ(Format("[%5s]", "жж"), "[   жж]");
    EXPECT_EQ(Format("[%.2s]", "жжж"), "[жж]");
}

TEST(TextFormat, RefusesFormatsThatDontFitTheirArguments) {
    EXPECT_FALSE(Format("%s", 5));
    EXPECT_FALSE(Format("%d", "text"));
    EXPECT_FALSE(Format("%s %s", "one"));
    EXPECT_FALSE(Format("%s", "one", "two"));
    EXPECT_FALSE(Format("%n", 1));
    EXPECT_FALSE(Format("%*d", 1, 2));
    EXPECT_FALSE(Format("100%", 1));
    EXPECT_FALSE(Format("%99999d", 1));
    // Data given as an argument is never read as a format.
    EXPECT_EQ(Format("%s", "%s%n%x"), "%s%n%x");
}

TEST(TextFormat, BuiltinTableParsesAndEveryTextIsAUsableFormat) {
    const auto& table = BuiltinStrings();
    for (uint32_t id : {172u, 250u, 256u, 257u, 258u, 259u, 260u, 283u, 284u, 290u, 293u, 294u, 1505u})
        EXPECT_TRUE(table.count(id)) << id;
    EXPECT_EQ(table.at(172), "Модуль загружен: %s");
    EXPECT_EQ(table.at(283), "Local7");
    for (const auto& [id, text] : table) EXPECT_TRUE(FormatSignature(text)) << id << ": " << text;

    const auto parsed = ParseStringTable("# c\n7\tA\\r\\nB\\\\\\t\nbad line\nx1\tno\n8\t\n");
    ASSERT_EQ(parsed.size(), 2u);
    EXPECT_EQ(parsed.at(7), "A\r\nB\\\t");
    EXPECT_EQ(parsed.at(8), "");
}

TEST(Language, TranslationsReplaceOnlyWhenTheirConversionsMatch) {
    const std::map<uint32_t, std::string> builtin{{1, "Loaded: %s"}, {2, "Count %u"}, {3, "Plain"}};
    const qm::testing::TempDir temp("qm-lang");
    const auto& dir = temp.path();
    const auto file = dir / "lang.txt";
    {
        std::ofstream out(file, std::ios::binary);
        out << "[EN]\r\n1=Module loaded: %s\r\n2=Count %s %n\r\n3=Simple\r\n99=%d\r\n[DE]\r\n3=Einfach\r\n";
    }
    TextTable en(builtin, file, "EN");
    EXPECT_EQ(en.Text(1, "mod_rules"), "Module loaded: mod_rules");
    EXPECT_EQ(en.Text(2, 5u), "Count 5");   // bad translation refused
    EXPECT_EQ(en.Text(3), "Simple");
    EXPECT_EQ(en.Text(1, 5), std::nullopt);   // caller's arguments wrong for every text
    EXPECT_EQ(en.Text(404), std::nullopt);
    EXPECT_EQ(en.TextOr(404), "#404");
    TextTable de(builtin, file, "DE");
    EXPECT_EQ(de.Text(1, "x"), "Loaded: x");
    EXPECT_EQ(de.Text(3), "Einfach");
    TextTable missing(builtin, dir / "absent.txt", "EN");
    EXPECT_EQ(missing.Text(3), "Plain");
}

}  // namespace
}  // namespace qm::core
