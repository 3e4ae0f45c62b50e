// The About box's text, built without a display: its exact composition and
// the change log read in whatever form it was saved.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "core/core_context.h"
#include "core/string_table.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "windows/core_window/about_text.h"

namespace qm::windows {
namespace {

void Write(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(AboutText, HeaderTermsAndChangeLogInTheirPlaces) {
    core::CoreContext core;
    core.texts = std::make_unique<core::TextTable>(core::BuiltinStrings());
    const BuildInfo build{3, 2, 0, "Linux x86_64, GNU 12.2.0, Qt 6.4.2", "Dec 07 2026"};
    // A '%' in the change log is text, not a conversion.
    const std::string text = AboutText(core, build, "3.2.0\r\n- 100% new\r\n");
    const std::string header =
        "\tQuillmark\r\nВерсия: 3.2\r\nСборка: 0, RU, Unicode\r\nОписание сборки: Linux x86_64, GNU 12.2.0, Qt 6.4.2\r\n"
        "Дата: Dec 07 2026\r\n\r\n";
    ASSERT_TRUE(text.starts_with(header)) << text;
    EXPECT_EQ(text, core.Text(201, "Quillmark", 3u, 2u, 0u, "RU", "Unicode", build.description, build.date) +
                        "\r\n\r\n" + core.Text(202) + "\r\n\r\n\r\n3.2.0\r\n- 100% new\r\n\r\n");
    EXPECT_TRUE(qm::testing::Contains(text, "Условия использования:")) << text;

    // This binary's own build: the version of the project, a date and a description.
    const BuildInfo own = ProgramBuild();
    EXPECT_EQ(own.major, 3u);
    EXPECT_EQ(own.minor, 2u);
    EXPECT_EQ(own.build, 0u);
    EXPECT_EQ(own.date.size(), 11u) << own.date;
    EXPECT_TRUE(qm::testing::Contains(own.description, "Qt 6")) << own.description;
}

TEST(AboutText, ChangeLogReadInEveryFormItMayBeSavedIn) {
    qm::testing::TempDir dir{"qm-about"};
    const auto file = dir.path() / "ChangeLog.txt";
    const std::string text = "Журнал: версия 3.2\r\n";

    Write(file, text);
    EXPECT_EQ(ReadChangeLog(file), text);
    Write(file, "\xEF\xBB\xBF" + text);
    EXPECT_EQ(ReadChangeLog(file), text);
    Write(file, "\xFF\xFE" + platform::Utf8ToUtf16LEBytes(text));
    EXPECT_EQ(ReadChangeLog(file), text);
    // Not UTF-8: the single-byte fallback (CP1251 here, as the test runs
    // without a locale of its own).
    Write(file, "\xC6\xF3\xF0\xED\xE0\xEB");
    EXPECT_EQ(ReadChangeLog(file), "Журнал");

    // Nothing, and no hang, for what cannot be read as a file.
    std::filesystem::remove(file);
    EXPECT_EQ(ReadChangeLog(file), "");
    EXPECT_EQ(ReadChangeLog(dir.path()), "");
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    EXPECT_EQ(ReadChangeLog(file), "");
    EXPECT_EQ(ReadChangeLog({}), "");

    // The change log a new home gets is there to be read.
    const std::string shipped =
        ReadChangeLog(std::filesystem::path(QM_SOURCE_DIR) / "resources/default-home/Resource/ChangeLog.txt");
    EXPECT_TRUE(shipped.starts_with("Журнал изменений Quillmark")) << shipped;
}

}  // namespace
}  // namespace qm::windows
