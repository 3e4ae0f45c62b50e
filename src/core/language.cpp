#include "core/language.h"

#include "platform/profile_file.h"
#include "platform/utf16.h"

namespace qm::core {

namespace {
constexpr size_t kTranslatedCapacity = 2048;  // UTF-16 units with terminator
constexpr size_t kBuiltinCapacity = 1024;

// An INI value cannot hold a line break, so the file writes it as the
// built-in table does: \r \n \t and \\. Any other backslash is text.
std::string Unescape(std::string_view value) {
    std::string text;
    text.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        const char e = i + 1 < value.size() && value[i] == '\\' ? value[i + 1] : '\0';
        if (e == 'r' || e == 'n' || e == 't' || e == '\\') {
            text += e == 'r' ? '\r' : e == 'n' ? '\n' : e == 't' ? '\t' : '\\';
            ++i;
        } else {
            text += value[i];
        }
    }
    return text;
}
}  // namespace

TextTable::TextTable(const std::map<uint32_t, std::string>& builtin, const std::filesystem::path& languageFile,
                     std::string_view locale)
    : builtin_(builtin) {
    if (languageFile.empty() || locale.empty()) return;
    // Read once: the file is looked up for every report and window row.
    const platform::ProfileFile file = platform::ProfileFile::Load(languageFile);
    for (const std::string& key : file.Keys(locale)) {
        if (key.empty() || key.size() > 9 || key.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string text = Unescape(file.ReadString(locale, key, kTranslatedCapacity));
        if (text.empty()) continue;
        const uint32_t id = static_cast<uint32_t>(std::stoul(key));
        // A translation must expect the same arguments as the text it replaces.
        auto it = builtin_.find(id);
        if (it != builtin_.end() && FormatSignature(text) != FormatSignature(it->second)) continue;
        if (it == builtin_.end() && !FormatSignature(text)) continue;
        translated_.emplace(id, std::move(text));
    }
}

std::optional<std::string> TextTable::Raw(uint32_t id) const {
    if (auto it = translated_.find(id); it != translated_.end()) return it->second;
    if (auto it = builtin_.find(id); it != builtin_.end()) return platform::TruncateUtf16(it->second, kBuiltinCapacity - 1);
    return std::nullopt;
}

std::optional<std::string> TextTable::TextFrom(uint32_t id, std::span<const FormatArg> args) const {
    if (auto it = translated_.find(id); it != translated_.end()) {
        if (auto text = FormatText(it->second, args)) return text;
    }
    if (auto it = builtin_.find(id); it != builtin_.end()) return FormatText(it->second, args);
    return std::nullopt;
}

}  // namespace qm::core
