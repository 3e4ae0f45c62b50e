#pragma once
// `quillmark -script FILE`: the script goes to the program running on the
// same home, or, when none runs there, is run on the home's settings with
// the network services stopped, and the changed settings are saved. Which
// of the two the home's lock decides: run here only while holding it (so no
// program starts meanwhile and later overwrites the change), else wait for
// the program holding it to open its script socket.
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/module_registry.h"
#include "core/paths.h"

namespace qm::script {

// Said after the program's own help text.
inline constexpr const char* kScriptHelpText = "Run a script (a file, or - for standard input):\r\n  -script <file>";

struct ScriptCommandResult {
    int status = 2;     // 0 no statement failed, 1 some failed, 2 not run
    std::string report; // the protocol text (CR LF between lines)
    std::string error;  // why it was not run (the home in use by a program that never answered, among others)
};

// `modules` is the program's catalog in load order, used when the script
// runs here; it comes from the caller because the modules sit above the
// script language.
ScriptCommandResult RunScriptCommand(const core::Paths& paths, std::string_view script,
                                     std::span<const core::ModuleDescriptor> modules);

// The script text of a file ("-" for standard input), in the locale's
// charset like every text the program reads; nothing when unreadable.
std::optional<std::string> ReadScriptFile(const std::string& file, std::string& error);

}  // namespace qm::script
