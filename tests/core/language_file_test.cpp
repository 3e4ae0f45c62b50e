// The English language file of a new home: a text for every id the program
// has, each one the lookup accepts, and nothing the program does not know.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/language.h"
#include "core/string_ids.h"
#include "core/string_table.h"
#include "platform/profile_file.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace qm::core {
namespace {

const std::filesystem::path kLanguageFile =
    std::filesystem::path(QM_SOURCE_DIR) / "resources/default-home/Resource/lang.txt";

// The file's escapes, as a reader of the file expects them to come out.
std::string Unescaped(std::string_view value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size() && std::string_view("rnt\\").find(value[i + 1]) != std::string_view::npos) {
            const char e = value[++i];
            out += e == 'r' ? '\r' : e == 'n' ? '\n' : e == 't' ? '\t' : '\\';
        } else {
            out += value[i];
        }
    }
    return out;
}

TEST(LanguageFile, EnglishCoversEveryTextAndTheLookupTakesEachOne) {
    const auto& builtin = BuiltinStrings();
    const platform::ProfileFile file = platform::ProfileFile::Load(kLanguageFile);
    ASSERT_TRUE(file.HasSection("EN")) << kLanguageFile;
    const TextTable english(builtin, kLanguageFile, "EN");

    for (const auto& [id, russian] : builtin) {
        const auto value = file.Get("EN", std::to_string(id));
        if (!value) {
            ADD_FAILURE() << "no English text for id " << id << " (" << russian << ")";
            continue;
        }
        // A text whose conversions differ from the built-in one is passed over
        // by the lookup, which would then show the Russian text.
        EXPECT_EQ(english.Raw(id), Unescaped(*value)) << "id " << id;
    }
    for (const std::string& key : file.Keys("EN")) {
        const bool number = !key.empty() && key.find_first_not_of("0123456789") == std::string::npos;
        EXPECT_TRUE(number && builtin.count(static_cast<uint32_t>(std::stoul(key)))) << "unknown id " << key;
    }

    // What the program itself reads back, and what peers receive, stays as it is.
    for (const auto& [id, russian] : builtin) {
        if (russian.starts_with("<") || id == str::kEventTime || id == str::kLimitBreachMarker) {
            EXPECT_EQ(english.Raw(id), russian) << "id " << id;
        }
    }
    EXPECT_EQ(english.Text(str::kModuleLoaded, "mod_rules"), "Module loaded: mod_rules");
    EXPECT_EQ(english.Text(str::kEventDetailsText, "a", "b", "c", "d", 1u, 2u, 3u, 4u, 5u, 6u, 7u),
              "Sender: a\r\nAlias: b\r\nMessage: c\r\nRaw text: d\r\nSize: 1 bytes\r\nReceived: 02.03.0004 05:06:07");
}

TEST(LanguageFile, LineBreaksAreWrittenAsEscapesAndOtherBackslashesStay) {
    const std::map<uint32_t, std::string> builtin{{1, "Два\r\nряда: %s"}, {2, "Путь"}, {3, "Таб"}};
    const qm::testing::TempDir temp("qm-lang");
    const auto file = temp.path() / "lang.txt";
    qm::testing::WriteWholeFile(file, "[EN]\n1=Two\\r\\nlines: %s\n2=C:\\data\\\\x\n3=\"\\tTab \"\n");
    const TextTable english(builtin, file, "EN");
    EXPECT_EQ(english.Text(1, "x"), "Two\r\nlines: x");
    EXPECT_EQ(english.Raw(2), "C:\\data\\x");
    EXPECT_EQ(english.Raw(3), "\tTab ");
}

}  // namespace
}  // namespace qm::core
