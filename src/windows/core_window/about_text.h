#pragma once
// The About box's text: the program's name, version and build, the terms of
// use and the change log, as one plain text for an info box.
#include <filesystem>
#include <string>
#include <string_view>

#include "windows/core_window/build_info.h"
#include "windows/info_content.h"

namespace qm::core {
struct CoreContext;
}

namespace qm::windows {

// The change log as text: a byte-order mark decides (UTF-8 or UTF-16LE);
// without one, well-formed UTF-8 is taken as it is and anything else is read
// in the locale's charset, else the single-byte fallback charset, as received
// text is. Empty when the file is missing, unreadable or not a plain file (a
// pipe planted there must not hang the GUI thread).
std::string ReadChangeLog(const std::filesystem::path& path);

// String 201 filled in, an empty line, string 202, and the change log.
std::string AboutText(const core::CoreContext& core, const BuildInfo& build, std::string_view changeLog);

// What the About entry hands to the window module: titled with string 158,
// the text above with this binary's build and the home's change log.
InfoContent AboutContent(const core::CoreContext& core);

}  // namespace qm::windows
