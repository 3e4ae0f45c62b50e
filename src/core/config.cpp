#include "core/config.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qm::core {

bool SettingsSection::IsCurrentForm() const {
    const std::optional<std::string> version = file_.Get(section_, "Version");
    return version && !version->empty() && (*version)[0] == '2';
}

std::filesystem::path Config::FileFor(std::string_view fileName) const {
    if (folder_.empty() || fileName.empty()) return {};
    return folder_ / (std::string(fileName) + ".ini");
}

bool SettingsSection::Commit() const {
    if (readError_ != 0) {
        std::fprintf(stderr, "settings: %s could not be read (%s); [%s] not saved, the file is left as it is\n",
                     path_.c_str(), std::strerror(readError_), section_.c_str());
        errno = readError_;
        return false;
    }
    if (path_.empty()) {
        errno = ENOENT;
        return false;
    }
    if (file_.Save(path_)) return true;
    const int error = errno;
    std::fprintf(stderr, "settings: %s could not be written (%s)\n", path_.c_str(), std::strerror(error));
    errno = error;
    return false;
}

SettingsSection Config::Open(std::string_view fileName, std::string_view section) const {
    std::filesystem::path path = FileFor(fileName);
    if (path.empty()) return SettingsSection(std::move(path), std::string(section), platform::ProfileFile());
    std::optional<platform::ProfileFile> file = platform::ProfileFile::TryLoad(path);
    if (!file) {
        const int error = errno != 0 ? errno : EIO;
        std::fprintf(stderr, "settings: %s could not be read (%s), [%.*s] not loaded\n", path.c_str(),
                     std::strerror(error), int(section.size()), section.data());
        return SettingsSection(std::move(path), std::string(section), error);
    }
    return SettingsSection(std::move(path), std::string(section), std::move(*file));
}

SettingsSection Config::BeginSave(std::string_view fileName, std::string_view section) const {
    SettingsSection s = Open(fileName, section);
    s.File().EmptySection(section);
    s.File().WriteString(section, "Version", "2");
    return s;
}

}  // namespace qm::core
