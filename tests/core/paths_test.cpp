#include "support/temp_dir.h"
#include "core/paths.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/utf16.h"

namespace qm::core {
namespace {

namespace fs = std::filesystem;

using TempDir = qm::testing::TempDir;

// `base` extended with nested folders named with `letter` to exactly `units`
// UTF-16 units; every name stays well inside the 255-byte limit.
std::string LongRoot(const std::string& base, size_t units, const std::string& letter) {
    std::string root = base;
    size_t length = platform::Utf16Length(root);
    const size_t letterUnits = platform::Utf16Length(letter);
    const size_t perName = 240 / letter.size();
    while (length + 1 + letterUnits <= units) {
        root += '/';
        ++length;
        for (size_t n = 0; n < perName && length + letterUnits <= units; ++n) {
            root += letter;
            length += letterUnits;
        }
    }
    while (length < units) {  // fill a last unit or two the letter did not fit
        root += 'x';
        ++length;
    }
    if (platform::Utf16Length(root) != units) throw std::logic_error("root length");
    return root;
}

// Derived paths, longest first in the sense of the relative part.
struct Expected {
    bool program, settings, settingsFile, rawSettings, resource, icons, language, nameCache, logs, changeLog,
        lastLog, web, webLogs;
};

void ExpectPresent(const Paths& p, const Expected& e) {
    EXPECT_EQ(!p.programFolder.empty(), e.program);
    EXPECT_EQ(!p.settingsFolder.empty(), e.settings);
    EXPECT_EQ(!p.settingsFile.empty(), e.settingsFile);
    EXPECT_EQ(!p.rawSettingsFile.empty(), e.rawSettings);
    EXPECT_EQ(!p.resourceFolder.empty(), e.resource);
    EXPECT_EQ(!p.iconFolder.empty(), e.icons);
    EXPECT_EQ(!p.languageFile.empty(), e.language);
    EXPECT_EQ(!p.nameCacheFile.empty(), e.nameCache);
    EXPECT_EQ(!p.logFolder.empty(), e.logs);
    EXPECT_EQ(!p.changeLog.empty(), e.changeLog);
    EXPECT_EQ(!p.lastLogFile.empty(), e.lastLog);
    EXPECT_EQ(!p.webRoot.empty(), e.web);
    EXPECT_EQ(!p.webLogFolder.empty(), e.webLogs);
}

TEST(Paths, LayoutBelowTheRoot) {
    const Paths p = Paths::Build("/opt/qm/bin/quillmark", "/srv/qm");
    EXPECT_EQ(p.executable, fs::path("/opt/qm/bin/quillmark"));
    EXPECT_EQ(p.programFolder, fs::path("/srv/qm/"));
    EXPECT_EQ(p.settingsFolder, fs::path("/srv/qm/Settings"));
    EXPECT_EQ(p.settingsFile, fs::path("/srv/qm/Settings/QMK.ini"));
    EXPECT_EQ(p.rawSettingsFile, fs::path("/srv/qm/Settings/raw_settings.ini"));
    EXPECT_EQ(p.resourceFolder, fs::path("/srv/qm/Resource"));
    EXPECT_EQ(p.iconFolder, fs::path("/srv/qm/Resource/Icons"));
    EXPECT_EQ(p.languageFile, fs::path("/srv/qm/Resource/lang.txt"));
    EXPECT_EQ(p.nameCacheFile, fs::path("/srv/qm/Resource/name.conf"));
    EXPECT_EQ(p.logFolder, fs::path("/srv/qm/Logs"));
    EXPECT_EQ(p.changeLog, fs::path("/srv/qm/Resource/ChangeLog.txt"));
    EXPECT_EQ(p.lastLogFile, fs::path("/srv/qm/Logs/last_log.log"));
    EXPECT_EQ(p.webRoot, fs::path("/srv/qm/Resource/Web"));
    EXPECT_EQ(p.webLogFolder, fs::path("/srv/qm/Logs/Web"));

    // A trailing slash on the root changes nothing.
    const Paths q = Paths::Build("/opt/qm/bin/quillmark", "/srv/qm/");
    EXPECT_EQ(q.programFolder, p.programFolder);
    EXPECT_EQ(q.settingsFile, p.settingsFile);
    EXPECT_EQ(q.webLogFolder, p.webLogFolder);

    // No root, no paths.
    const Paths none = Paths::Build("/x/quillmark", "");
    EXPECT_TRUE(none.programFolder.empty());
    EXPECT_TRUE(none.settingsFolder.empty());
    EXPECT_TRUE(none.logFolder.empty());
}

TEST(Paths, LongRootLeavesTheLongerPathsEmpty) {
    // Root of 1011 units: the folder with its slash is 1012, "Resource/Web"
    // reaches 1024 (kept) and "Resource/Icons" 1026 (dropped).
    for (const std::string letter : {"a", "ж"}) {
        SCOPED_TRACE(letter);
        const std::string root = LongRoot("/tmp", 1011, letter);
        const Paths p = Paths::Build("/tmp/quillmark", root);
        ExpectPresent(p, {true, true, false, false, true, false, false, false, true, false, false, true, true});
        EXPECT_EQ(p.webRoot.string(), root + "/Resource/Web");
        EXPECT_EQ(p.executable, fs::path("/tmp/quillmark"));
    }

    // One more unit: the web root, too, reaches 1025 and goes.
    ExpectPresent(Paths::Build("/q", LongRoot("/tmp", 1012, "b")),
                  {true, true, false, false, true, false, false, false, true, false, false, false, true});
    // Characters outside the BMP count as two units each.
    ExpectPresent(Paths::Build("/q", LongRoot("/tmp", 1012, "\xF0\x9F\x98\x80")),
                  {true, true, false, false, true, false, false, false, true, false, false, false, true});
    // Only the program folder itself fits; then not even that.
    ExpectPresent(Paths::Build("/q", LongRoot("/tmp", 1023, "c")),
                  {true, false, false, false, false, false, false, false, false, false, false, false, false});
    ExpectPresent(Paths::Build("/q", LongRoot("/tmp", 1024, "c")),
                  {false, false, false, false, false, false, false, false, false, false, false, false, false});
    // Well below the limit in units although far above it in bytes.
    ExpectPresent(Paths::Build("/q", LongRoot("/tmp", 990, "ж")),
                  {true, true, true, true, true, true, true, true, true, true, true, true, true});
}

TEST(Paths, CreateFoldersMakesTheLayout) {
    TempDir dir;
    const Paths p = Paths::Build("/q", dir.path());
    p.CreateFolders();
    for (const char* sub : {"Logs", "Settings", "Resource", "Resource/Icons", "Resource/Web", "Logs/Web"})
        EXPECT_TRUE(fs::is_directory(dir.path() / sub)) << sub;
    // Again over existing folders: nothing breaks, nothing is added.
    p.CreateFolders();
    size_t count = 0;
    for (auto it = fs::recursive_directory_iterator(dir.path()); it != fs::recursive_directory_iterator(); ++it)
        ++count;
    EXPECT_EQ(count, 6u);
}

TEST(Paths, CreateFoldersCreatesOnlyPathsThatAreNotEmpty) {
    TempDir dir;
    const std::string root = LongRoot(dir.path().string(), 1011, "d");
    ASSERT_TRUE(fs::create_directories(root));
    const Paths p = Paths::Build("/q", root);
    ASSERT_TRUE(p.iconFolder.empty());
    p.CreateFolders();
    for (const char* sub : {"Logs", "Settings", "Resource", "Resource/Web", "Logs/Web"})
        EXPECT_TRUE(fs::is_directory(root + "/" + sub)) << sub;
    EXPECT_FALSE(fs::exists(root + "/Resource/Icons"));

    // Nothing fits: nothing is created, here or anywhere relative.
    const std::string longer = LongRoot(dir.path().string(), 1030, "e");
    ASSERT_TRUE(fs::create_directories(longer));
    const fs::path cwd = fs::current_path();
    ASSERT_EQ(::chdir(longer.c_str()), 0);
    const Paths none = Paths::Build("/q", longer);
    none.CreateFolders();
    const bool empty = fs::is_empty(longer);
    ASSERT_EQ(::chdir(cwd.c_str()), 0);
    EXPECT_TRUE(empty);
}

class ScopedEnv {
public:
    explicit ScopedEnv(const char* name) : name_(name) {
        if (const char* v = std::getenv(name)) old_ = v;
    }
    ~ScopedEnv() {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(Paths, RootIsQuillmarkHomeElseTheExecutablesFolder) {
    ScopedEnv keep("QUILLMARK_HOME");
    const fs::path exe = RunningExecutable();
    ASSERT_FALSE(exe.empty());
    EXPECT_TRUE(fs::equivalent(exe, "/proc/self/exe"));

    ::unsetenv("QUILLMARK_HOME");
    Paths p = Paths::ForThisProcess();
    EXPECT_EQ(p.executable, exe);
    EXPECT_EQ(p.settingsFolder, exe.parent_path() / "Settings");

    ::setenv("QUILLMARK_HOME", "", 1);
    EXPECT_EQ(Paths::ForThisProcess().settingsFolder, exe.parent_path() / "Settings");

    ::setenv("QUILLMARK_HOME", "/srv/qm-home", 1);
    p = Paths::ForThisProcess();
    EXPECT_EQ(p.settingsFolder, fs::path("/srv/qm-home/Settings"));
    EXPECT_EQ(p.executable, exe);

    // A relative home is taken from the current folder.
    ::setenv("QUILLMARK_HOME", "rel/home", 1);
    EXPECT_EQ(Paths::ForThisProcess().logFolder, fs::current_path() / "rel/home/Logs");
}

}  // namespace
}  // namespace qm::core
