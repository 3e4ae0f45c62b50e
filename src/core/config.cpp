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

bool SettingsSection::Commit() {
    // Whatever the outcome, this change is over.
    const std::unique_lock<std::mutex> done = std::move(writing_);
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
    return Read(FileFor(fileName), section);
}

SettingsSection Config::Read(std::filesystem::path path, std::string_view section) const {
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

SettingsSection Config::OpenToChange(std::string_view fileName, std::string_view section) const {
    std::unique_lock<std::mutex> writing(writing_);
    SettingsSection s = Open(fileName, section);
    s.writing_ = std::move(writing);
    return s;
}

SettingsSection Config::Emptied(SettingsSection s) {
    s.File().EmptySection(s.Name());
    s.File().WriteString(s.Name(), "Version", "2");
    return s;
}

SettingsSection Config::BeginSave(std::string_view fileName, std::string_view section) const {
    return Emptied(OpenToChange(fileName, section));
}

SettingsSection Config::BeginDetached(std::string_view fileName, std::string_view section) const {
    return Emptied(SettingsSection(FileFor(fileName), std::string(section), platform::ProfileFile()));
}

bool Config::Store(const SettingsSection& filled) const {
    std::unique_lock<std::mutex> writing(writing_);
    SettingsSection s = Read(filled.Path(), filled.Name());
    s.writing_ = std::move(writing);
    // Key by key in their order: the filled section may have replaced the
    // stamp (a section kept in its old form has none).
    const std::string& name = filled.Name();
    s.File().EmptySection(name);
    for (const std::string& key : filled.File().Keys(name))
        if (const std::optional<std::string> value = filled.File().Get(name, key)) s.File().WriteString(name, key, *value);
    return s.Commit();
}

}  // namespace qm::core
