#include "core/raw_settings.h"

#include <atomic>
#include <cerrno>
#include <system_error>
#include <vector>

#include "core/core_context.h"
#include "core/core_settings.h"
#include "core/raw_settings_check.h"
#include "core/record_sets.h"
#include "platform/profile_file.h"
#include "platform/utf16.h"

namespace qm::core {

namespace {

constexpr const char* kRawFileName = "raw_settings.ini";
constexpr const char* kCoreLabel = "Core";

// The answer goes to the dialog and, as a System event, into the log.
template <typename... Args>
RawSettingsResult Answer(CoreContext& core, bool ok, uint32_t id, const Args&... args) {
    core.Report(ok ? Severity::Info : Severity::Error, id, args...);
    return {ok, core.Text(id, args...)};
}

// The registered modules in load order.
std::vector<Module*> Modules(CoreContext& core) {
    std::vector<Module*> out;
    if (!core.registry) return out;
    for (const ModuleDescriptor& d : core.catalog)
        if (Module* m = core.registry->Find(d.id)) out.push_back(m);
    return out;
}

void BeginSection(platform::ProfileFile& file, const std::string& name) {
    file.EmptySection(name);
    file.WriteString(name, "Version", "2");
}

std::string Join(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
    return out;
}

// The Core settings of the file over the running ones. The epoch stays the
// program's own: records keep their UIDs whichever epoch made them, and the
// program's later UIDs go on from the time line they already follow.
void ApplyCoreSettings(CoreContext& core, const platform::ProfileFile& file) {
    CoreSettings s = core.settings;
    LoadRecord(file, kCoreSettingsSection, "", CoreSettings::Fields(), s);
    if (platform::Utf16Length(s.locale) != 2) s.locale = core.settings.locale;
    const uint32_t limit = s.valueCollectorStackLimit;
    s.beginUtc = core.settings.beginUtc;
    s.valueCollectorStackLimit = core.settings.valueCollectorStackLimit;
    core.settings = std::move(s);
    // The value collector reads its limit from other threads as it runs.
    std::atomic_ref<uint32_t>(core.settings.valueCollectorStackLimit).store(limit, std::memory_order_relaxed);
    if (core.config && core.settingsReadError == 0) SaveCoreSettings(*core.config, core.settings);
}

}  // namespace

std::filesystem::path RawSettingsFile(const Paths& paths) {
    if (paths.settingsFolder.empty()) return {};
    return paths.settingsFolder / kRawFileName;
}

RawSettingsResult ExportRawSettings(CoreContext& core) {
    const std::filesystem::path path = RawSettingsFile(core.paths);
    if (path.empty()) return Answer(core, false, str::kRawFileWriteFailed, kRawFileName, ENOENT);

    platform::ProfileFile file;
    for (Module* module : Modules(core)) {
        SettingsSection section(path, module->Section(), std::move(file));
        BeginSection(section.File(), module->Section());
        {
            platform::GuardedLock lock(module->Lock(), core.counters.locks, platform::Blocking::No);
            if (!lock) return Answer(core, false, str::kRawExportBusy, module->Section());
            module->SaveTo(section);
        }
        file = std::move(section.File());
    }
    BeginSection(file, kCoreSettingsSection);
    SaveRecord(file, kCoreSettingsSection, "", CoreSettings::Fields(), core.settings);

    if (!file.Save(path)) return Answer(core, false, str::kRawFileWriteFailed, path.string(), errno);
    return Answer(core, true, str::kRawExported, path.string());
}

RawSettingsResult ImportRawSettings(CoreContext& core, const GuiCall& onGui) {
    const auto there = [&](const std::function<void()>& call) { onGui ? onGui(call) : call(); };
    const std::filesystem::path path = RawSettingsFile(core.paths);
    if (path.empty()) return Answer(core, false, str::kRawFileReadFailed, kRawFileName, ENOENT);
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return Answer(core, false, str::kRawFileReadFailed, path.string(), ENOENT);
    const std::optional<platform::ProfileFile> file = platform::ProfileFile::TryLoad(path);
    if (!file) return Answer(core, false, str::kRawFileReadFailed, path.string(), errno);

    // Everything is checked before anything changes.
    std::vector<Module*> present;
    for (Module* module : Modules(core)) {
        if (!file->HasSection(module->Section())) continue;
        if (auto key = DamagedKey(*file, module->Section(), module->Records()))
            return Answer(core, false, str::kRawSectionDamaged, module->Section(), path.string(), *key);
        present.push_back(module);
    }
    const bool withCore = file->HasSection(kCoreSettingsSection);
    if (withCore) {
        if (auto key = DamagedKey(*file, kCoreSettingsSection, nullptr, CoreSettings::Fields().fields))
            return Answer(core, false, str::kRawSectionDamaged, kCoreSettingsSection, path.string(), *key);
    }
    if (present.empty() && !withCore) return Answer(core, false, str::kRawNothingToImport, path.string());

    std::vector<std::string> imported, busy;
    for (Module* module : present) {
        const auto importOne = [&] {
            // A module busy now is left alone: stopping its service would wait
            // for whoever holds the lock.
            if (!platform::GuardedLock(module->Lock(), core.counters.locks, platform::Blocking::No)) {
                busy.push_back(module->Section());
                return;
            }
            // As the dialog does after an edit: a running service is stopped for
            // the change and started again with the new records.
            const bool wasRunning = module->Stop(platform::Blocking::Yes);
            bool loaded = false;
            {
                platform::GuardedLock lock(module->Lock(), core.counters.locks, platform::Blocking::No);
                if (lock) {
                    module->Load(SettingsSection(path, module->Section(), *file));
                    loaded = true;
                }
            }
            if (loaded) module->SaveSection(platform::Blocking::No);
            if (wasRunning) module->Start(platform::Blocking::Yes);
            (loaded ? imported : busy).push_back(module->Section());
        };
        if (module->Id() == kModuleWindow)
            there(importOne);
        else
            importOne();
    }
    if (withCore) {
        there([&] { ApplyCoreSettings(core, *file); });
        imported.push_back(kCoreLabel);
    }

    if (imported.empty()) return Answer(core, false, str::kRawImportBusy, Join(busy));
    RawSettingsResult result = Answer(core, busy.empty(), str::kRawImported, path.string(), Join(imported));
    if (!busy.empty()) result.message += "\r\n" + Answer(core, false, str::kRawImportBusy, Join(busy)).message;
    return result;
}

}  // namespace qm::core
