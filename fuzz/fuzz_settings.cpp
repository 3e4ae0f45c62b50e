// The settings reader on any file: the INI text itself (UTF-8 or UTF-16,
// any line ends), both section forms and struct values with checksums, as
// the Core settings and two module tables read them. What was read and then
// saved must read back the same, and saving it again must change nothing.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/config.h"
#include "core/core_settings.h"
#include "core/table_settings.h"
#include "fuzz_support.h"
#include "http/http_settings.h"
#include "processing/dbase/dbase_settings.h"

using namespace qm;

namespace {

// Loads the section from the file as stored, saves it in the current form
// and returns the saved text.
template <typename Load, typename Save>
std::string LoadAndSave(const core::Config& config, const char* file, const char* section, Load load, Save save) {
    auto value = load(config.Open(file, section));
    core::SettingsSection out = config.BeginSave(file, section);
    save(out, value);
    return out.File().Serialize();
}

// The keys and values of one section of a saved text, in file order.
std::vector<std::pair<std::string, std::string>> SectionOf(const std::filesystem::path& path, std::string_view text,
                                                           const char* section) {
    fuzz::WriteFile(path, text);
    const platform::ProfileFile doc = platform::ProfileFile::Load(path);
    std::vector<std::pair<std::string, std::string>> out;
    for (const std::string& key : doc.Keys(section)) out.emplace_back(key, *doc.Get(section, key));
    return out;
}

// Read, save, read the saved file, save again: both saves hold the same section.
template <typename Load, typename Save>
void RoundTrip(const core::Config& config, const char* file, const char* section, Load load, Save save) {
    const std::filesystem::path path = config.FileFor(file);
    const std::string first = LoadAndSave(config, file, section, load, save);
    fuzz::WriteFile(path, first);
    const std::string second = LoadAndSave(config, file, section, load, save);
    const std::filesystem::path check = config.FileFor("check");
    QM_FUZZ_CHECK(SectionOf(check, first, section) == SectionOf(check, second, section));
}

template <typename C, typename R>
struct Table {
    C common;
    core::RecordTable<R> records;
};

template <typename C, typename R>
void TableRoundTrip(const core::Config& config, const char* section, const core::TableLayout& layout) {
    RoundTrip(
        config, section, section,
        [&](const core::SettingsSection& s) {
            Table<C, R> t;
            core::LoadCommonAndRecords(s, layout, t.common, t.records);
            return t;
        },
        [](core::SettingsSection& s, const Table<C, R>& t) { core::SaveCommonAndRecords(s, t.common, t.records); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const core::Config config(fuzz::ScratchFolder());

    // The document itself: every name it lists can be looked up again.
    fuzz::WriteFile(config.FileFor("raw"), bytes);
    const platform::ProfileFile doc = platform::ProfileFile::Load(config.FileFor("raw"));
    for (const std::string& section : doc.Sections()) {
        QM_FUZZ_CHECK(doc.HasSection(section));
        for (const std::string& key : doc.Keys(section)) {
            QM_FUZZ_CHECK(doc.Get(section, key).has_value());
            (void)doc.ReadStruct(section, key, 4);
            (void)doc.ReadInt(section, key, 0);
            (void)doc.ReadString(section, key, 8);
        }
    }

    // Core settings: the section `main`, current form or the legacy block.
    fuzz::WriteFile(config.FileFor(core::kCoreSettingsFile), bytes);
    RoundTrip(
        config, core::kCoreSettingsFile, core::kCoreSettingsSection,
        [&](const core::SettingsSection&) { return core::LoadCoreSettings(config, 1, 96); },
        [](core::SettingsSection& s, const core::CoreSettings& v) {
            core::SaveRecord(s.File(), core::kCoreSettingsSection, "", core::CoreSettings::Fields(), v);
        });

    // Module tables, whichever section the input names.
    fuzz::WriteFile(config.FileFor("mod_httpserver"), bytes);
    TableRoundTrip<http::HttpCommon, http::HttpServerItem>(config, "mod_httpserver", http::kHttpLayout);
    fuzz::WriteFile(config.FileFor("mod_dbase"), bytes);
    TableRoundTrip<processing::DbaseCommon, processing::LogTarget>(config, "mod_dbase", processing::kDbaseLayout);
    return 0;
}
