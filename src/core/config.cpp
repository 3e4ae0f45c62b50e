#include "core/config.h"

namespace qm::core {

bool SettingsSection::IsCurrentForm() const {
    const std::optional<std::string> version = file_.Get(section_, "Version");
    return version && !version->empty() && (*version)[0] == '2';
}

std::filesystem::path Config::FileFor(std::string_view fileName) const {
    if (folder_.empty() || fileName.empty()) return {};
    return folder_ / (std::string(fileName) + ".ini");
}

SettingsSection Config::Open(std::string_view fileName, std::string_view section) const {
    std::filesystem::path path = FileFor(fileName);
    platform::ProfileFile file = path.empty() ? platform::ProfileFile() : platform::ProfileFile::Load(path);
    return SettingsSection(std::move(path), std::string(section), std::move(file));
}

SettingsSection Config::BeginSave(std::string_view fileName, std::string_view section) const {
    SettingsSection s = Open(fileName, section);
    s.File().EmptySection(section);
    s.File().WriteString(section, "Version", "2");
    return s;
}

}  // namespace qm::core
