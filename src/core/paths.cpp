#include "core/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "platform/utf16.h"

namespace qm::core {

namespace fs = std::filesystem;

fs::path RunningExecutable() {
    std::error_code ec;
    fs::path p = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : p;
}

Paths Paths::Build(const fs::path& executable, const fs::path& root) {
    Paths p;
    p.executable = executable;
    std::string folder = root.string();
    if (folder.empty()) return p;
    if (folder.back() != '/') folder += '/';
    auto make = [&](const char* relative) -> fs::path {
        const std::string full = folder + relative;
        return platform::Utf16Length(full) >= kMaxPath ? fs::path() : fs::path(full);
    };
    p.programFolder = make("");
    p.settingsFolder = make("Settings");
    p.lockFile = make("Settings/quillmark.lock");
    p.resourceFolder = make("Resource");
    p.iconFolder = make("Resource/Icons");
    p.languageFile = make("Resource/lang.txt");
    p.logFolder = make("Logs");
    p.changeLog = make("Resource/ChangeLog.txt");
    p.webRoot = make("Resource/Web");
    p.webLogFolder = make("Logs/Web");
    return p;
}

Paths Paths::ForThisProcess() {
    const fs::path exe = RunningExecutable();
    const char* home = std::getenv("QUILLMARK_HOME");
    if (home && *home) {
        std::error_code ec;
        fs::path root = fs::absolute(home, ec);
        return Build(exe, ec ? fs::path(home) : root);
    }
    return Build(exe, exe.parent_path());
}

void Paths::CreateFolders() const {
    for (const fs::path* folder : {&logFolder, &settingsFolder, &resourceFolder, &iconFolder, &webRoot, &webLogFolder}) {
        if (folder->empty()) continue;
        struct stat st {};
        if (::stat(folder->c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
        ::mkdir(folder->c_str(), 0755);
    }
}

bool IsPlainFileName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

}  // namespace qm::core
