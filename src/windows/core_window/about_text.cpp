#include "windows/core_window/about_text.h"

#include <system_error>

#include "core/core_context.h"
#include "core/text_format.h"
#include "platform/codepage.h"
#include "platform/file_io.h"
#include "platform/utf16.h"

namespace qm::windows {

namespace {

// The texts are Russian and the program is built for Unicode; neither
// follows the locale the program runs in.
constexpr const char* kLanguage = "RU";
constexpr const char* kCharacterSet = "Unicode";

}  // namespace

std::string ReadChangeLog(const std::filesystem::path& path) {
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return {};
    std::string bytes;
    if (platform::ReadWholeFile(path, bytes) != 0) return {};
    std::string_view text = bytes;
    if (text.starts_with("\xFF\xFE")) return platform::Utf16LEBytesToUtf8(text.substr(2));
    if (text.starts_with("\xEF\xBB\xBF")) return platform::SanitizeUtf8(text.substr(3));
    if (platform::IsValidUtf8(text)) return bytes;
    return platform::AnsiToUtf8(text);
}

std::string AboutText(const core::CoreContext& core, const BuildInfo& build, std::string_view changeLog) {
    const std::string header = core.Text(core::str::kAboutHeader, "Quillmark", build.major, build.minor, build.build,
                                         kLanguage, kCharacterSet, build.description, build.date);
    const std::string terms = core.Text(core::str::kTermsOfUse);
    // Arguments, not format: the change log may hold '%' of its own.
    std::optional<std::string> text =
        core::Format("%s\r\n\r\n%s%s\r\n\r\n\r\n%s\r\n", header, std::string_view(), terms, changeLog);
    return text ? std::move(*text) : header;
}

InfoContent AboutContent(const core::CoreContext& core) {
    InfoContent content;
    content.title = core.Text(core::str::kAbout);
    content.text = AboutText(core, ProgramBuild(), ReadChangeLog(core.paths.changeLog));
    return content;
}

}  // namespace qm::windows
