#pragma once
// Every setting of the program in one file, Settings/raw_settings.ini: each
// registered module's section as its own save writes it, and the Core
// settings as section `main`. The settings dialog's export and import
// buttons call these; both run on the caller's thread (the dialog's, which
// is also the thread the windows read the font and colours on) and take
// each module's lock with three tries, so a busy module is named in the
// answer instead of blocking the dialog.
#include <filesystem>
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
RawSettingsResult ImportRawSettings(CoreContext& core);

}  // namespace qm::core
