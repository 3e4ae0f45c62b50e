#include "core/paths.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/utf16.h"
#include "support/temp_dir.h"

namespace qm::core {
namespace {

namespace fs = std::filesystem;

// `root` extended to exactly `units` UTF-16 units with nested folders named
// with `letter`, each name well inside the 255-byte limit.
std::string LongRoot(std::string root, size_t units, const std::string& letter) {
    const size_t step = platform::Utf16Length(letter);
    for (size_t length = platform::Utf16Length(root), n = 0; length < units; ++n) {
        const std::string add = n % 61 == 0 && length + 1 < units ? "/" : length + step <= units ? letter : "x";
        root += add;
        length += platform::Utf16Length(add);
    }
    return root;
}

const std::pair<fs::path Paths::*, const char*> kLayout[] = {
    {&Paths::programFolder, ""},  {&Paths::settingsFolder, "Settings"},
    {&Paths::resourceFolder, "Resource"}, {&Paths::iconFolder, "Resource/Icons"},
    {&Paths::languageFile, "Resource/lang.txt"}, {&Paths::logFolder, "Logs"},
    {&Paths::webRoot, "Resource/Web"}, {&Paths::webLogFolder, "Logs/Web"},
    {&Paths::changeLog, "Resource/ChangeLog.txt"},
};

// The relative names of the paths that are set, "." for the folder itself.
std::string Present(const Paths& p) {
    std::string out;
    for (const auto& [member, rel] : kLayout)
        if (!(p.*member).empty()) out += std::string(out.empty() ? "" : " ") + (*rel ? rel : ".");
    return out;
}

TEST(Paths, LayoutBelowTheRoot) {
    for (const char* root : {"/srv/qm", "/srv/qm/"}) {
        const Paths p = Paths::Build("/opt/qm/bin/quillmark", root);
        EXPECT_EQ(p.executable, fs::path("/opt/qm/bin/quillmark"));
        for (const auto& [member, rel] : kLayout) EXPECT_EQ(p.*member, fs::path("/srv/qm") / rel) << root;
    }
    EXPECT_EQ(Present(Paths::Build("/x/quillmark", "")), "");
}

TEST(Paths, LongRootCountedInUtf16UnitsLeavesTheLongerPathsEmpty) {
    const std::string grin = "\xF0\x9F\x98\x80";
    const std::string all = Present(Paths::Build("/q", "/r"));
    // A path reaching 1025 units goes: at 1011 "Resource/Web" makes 1024 and
    // stays, "Resource/Icons" makes 1026 and goes.
    const std::string at1011 = ". Settings Resource Logs Resource/Web Logs/Web";
    const std::string at1012 = ". Settings Resource Logs Logs/Web";
    const struct {
        size_t units;
        std::string letter, present;
    } cases[] = {
        {1011, "a", at1011}, {1011, "ж", at1011}, {1012, "b", at1012}, {1012, grin, at1012},
        {1023, "c", "."},    {1024, "c", ""},     {990, "ж", all},  // far above 1025 in bytes
    };
    for (const auto& c : cases) {
        const std::string root = LongRoot("/tmp", c.units, c.letter);
        const Paths p = Paths::Build("/tmp/quillmark", root);
        EXPECT_EQ(Present(p), c.present) << c.units << " " << c.letter;
        if (!p.webRoot.empty()) {
            EXPECT_EQ(p.webRoot.string(), root + "/Resource/Web");
        }
    }
}

TEST(Paths, CreateFoldersMakesOnlyTheFoldersThatAreSet) {
    qm::testing::TempDir dir;
    const Paths p = Paths::Build("/q", dir.path());
    p.CreateFolders();
    const char* const folders[] = {"Logs", "Settings", "Resource", "Resource/Icons", "Resource/Web", "Logs/Web"};
    for (const char* sub : folders) EXPECT_TRUE(fs::is_directory(dir.path() / sub)) << sub;
    p.CreateFolders();  // again over existing folders: nothing breaks or is added
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(dir.path()), fs::recursive_directory_iterator()), 6);

    const std::string root = LongRoot(dir.path().string(), 1011, "d");
    ASSERT_TRUE(fs::create_directories(root));
    Paths::Build("/q", root).CreateFolders();
    for (const char* sub : folders)
        EXPECT_EQ(fs::is_directory(root + "/" + sub), std::string(sub) != "Resource/Icons") << sub;

    // Nothing fits: nothing is created, here or anywhere relative.
    const std::string longer = LongRoot(dir.path().string(), 1030, "e");
    ASSERT_TRUE(fs::create_directories(longer));
    const fs::path cwd = fs::current_path();
    ASSERT_EQ(::chdir(longer.c_str()), 0);
    Paths::Build("/q", longer).CreateFolders();
    const bool empty = fs::is_empty(longer);
    ASSERT_EQ(::chdir(cwd.c_str()), 0);
    EXPECT_TRUE(empty);
}

TEST(Paths, RootIsQuillmarkHomeElseTheExecutablesFolder) {
    const char* old = std::getenv("QUILLMARK_HOME");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    const fs::path exe = RunningExecutable();
    ASSERT_FALSE(exe.empty());
    EXPECT_TRUE(fs::equivalent(exe, "/proc/self/exe"));
    // Away from the executable's folder, so the two cannot be mixed up.
    qm::testing::TempDir elsewhere;
    const fs::path cwd = fs::current_path();
    fs::current_path(elsewhere.path());

    const auto with = [](const char* home) {
        home ? ::setenv("QUILLMARK_HOME", home, 1) : ::unsetenv("QUILLMARK_HOME");
        return Paths::ForThisProcess();
    };
    EXPECT_EQ(std::tuple(with(nullptr).executable, with(nullptr).settingsFolder),
              std::tuple(exe, exe.parent_path() / "Settings"));
    EXPECT_EQ(with("").settingsFolder, exe.parent_path() / "Settings");
    EXPECT_EQ(std::tuple(with("/srv/qm-home").executable, with("/srv/qm-home").settingsFolder),
              std::tuple(exe, fs::path("/srv/qm-home/Settings")));
    EXPECT_EQ(with("rel/home").logFolder, fs::current_path() / "rel/home/Logs");  // taken from the current folder
    fs::current_path(cwd);
    with(saved ? saved->c_str() : nullptr);
}

}  // namespace
}  // namespace qm::core
