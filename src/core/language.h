#pragma once
// Text lookup by string id: a locale's section of the language file first,
// the built-in string table second. A translated text is used only when its
// conversions are those of the built-in text, so a bad translation can never
// make the program format its arguments wrongly.
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "core/text_format.h"

namespace qm::core {

class TextTable {
public:
    // Without a locale or a language file only the built-in texts are used.
    TextTable(const std::map<uint32_t, std::string>& builtin, const std::filesystem::path& languageFile,
              std::string_view locale);
    explicit TextTable(const std::map<uint32_t, std::string>& builtin) : builtin_(builtin) {}

    // The raw text of an id (translated where allowed), or nothing.
    std::optional<std::string> Raw(uint32_t id) const;

    template <typename... Args>
    std::optional<std::string> Text(uint32_t id, const Args&... args) const {
        const FormatArg list[] = {FormatArg::From(args)..., FormatArg{}};
        return TextFrom(id, std::span<const FormatArg>(list, sizeof...(Args)));
    }
    // As Text, but never empty-handed: an unknown id gives "#<id>" so a report still says something.
    template <typename... Args>
    std::string TextOr(uint32_t id, const Args&... args) const {
        if (auto t = Text(id, args...)) return *t;
        // Appended rather than "#" + ...: GCC 12 at -O3 sees a bogus overlap in the latter.
        std::string unknown = "#";
        unknown += std::to_string(id);
        return unknown;
    }

    std::optional<std::string> TextFrom(uint32_t id, std::span<const FormatArg> args) const;

private:
    const std::map<uint32_t, std::string>& builtin_;
    std::map<uint32_t, std::string> translated_;
};

}  // namespace qm::core
