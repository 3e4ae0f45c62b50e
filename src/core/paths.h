#pragma once
// The program's folder layout, all below one root: the executable's folder, or
// QUILLMARK_HOME when set (so tests and packaged installs can keep settings
// and logs elsewhere).
#include <filesystem>
#include <string>
#include <string_view>

namespace qm::core {

struct Paths {
    std::filesystem::path executable;
    std::filesystem::path programFolder;
    std::filesystem::path settingsFolder;
    // Held by whoever uses the home: the running program, or a script run
    // on a stopped home (home_lock.h).
    std::filesystem::path lockFile;
    std::filesystem::path resourceFolder;
    std::filesystem::path iconFolder;
    std::filesystem::path languageFile;
    std::filesystem::path logFolder;
    std::filesystem::path changeLog;  // shown in the About box
    std::filesystem::path webRoot;
    std::filesystem::path webLogFolder;

    // A path whose text would reach this many UTF-16 units stays empty, and so
    // does everything that would have used it.
    static constexpr size_t kMaxPath = 1025;

    static Paths Build(const std::filesystem::path& executable, const std::filesystem::path& root);
    // Root from QUILLMARK_HOME, else the running executable's folder.
    static Paths ForThisProcess();

    // Creates log, settings, resource, icon, web root and web log folders, in
    // that order; failures are left for the users of each folder to notice.
    void CreateFolders() const;
};

std::filesystem::path RunningExecutable();

// A name that stays inside the folder it is joined to: no folder part (either
// slash), not "." or "..", no NUL. Names from settings and scripts pass this
// before they become paths.
bool IsPlainFileName(std::string_view name);

}  // namespace qm::core
