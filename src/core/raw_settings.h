#pragma once
// Every setting of the program in one file, Settings/raw_settings.ini: each
// registered module's section as its own save writes it, and the Core
// settings as section `main`. The settings dialog's export and import
// buttons call these off the GUI thread, since an import stops and starts
// services; each module's lock is taken with three tries, so a busy module
// is named in the answer instead of blocking.
#include <filesystem>
#include <functional>
#include <string>

namespace qm::core {

struct CoreContext;
struct Paths;

struct RawSettingsResult {
    bool ok = false;
    std::string message;  // for the user, in the program's language
};

// "<settings>/raw_settings.ini"; empty when the settings folder is unknown.
std::filesystem::path RawSettingsFile(const Paths& paths);

// Writes the whole file anew, or nothing at all: a busy module or a failed
// write leaves any earlier file as it was.
RawSettingsResult ExportRawSettings(CoreContext& core);

// Checks every section of the file first and changes nothing when one is
// damaged. Then each module found in the file gets the file's records in
// place of its own (its service stopped for it and started again when it
// was running) and saves its own file; the Core settings likewise, whose
// font, colours and language apply from the next start.
//
// What the windows read on the GUI thread (the Core settings' font and
// colours, the window module's records, whose load makes and ends windows)
// is changed through `onGui` when it is given: a call that runs its
// argument there and returns when it has run.
using GuiCall = std::function<void(const std::function<void()>&)>;
RawSettingsResult ImportRawSettings(CoreContext& core, const GuiCall& onGui = {});

}  // namespace qm::core
