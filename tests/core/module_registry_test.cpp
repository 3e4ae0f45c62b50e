// Modules loaded, started, saved and unloaded by the registry, settings
// files that exist but cannot be read never replaced by a save, and sections
// of one file saved at once from two threads.
#include "core/module_registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

#include "core/config.h"
#include "core/core_context.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "support/unprivileged.h"

namespace qm::core {
namespace {

namespace fs = std::filesystem;
using qm::testing::ReadWholeFile;
using qm::testing::WriteWholeFile;

std::vector<std::string> g_calls;

// A module with one counter field, enough to see load, start, save and unload.
class ProbeModule : public Module {
public:
    struct Common {
        uint32_t loads = 0;
    };
    ProbeModule(CoreContext& core, uint16_t id, std::string section) : Module(core, id, std::move(section)) {}
    static const FieldTable<Common>& Fields() {
        static const FieldTable<Common> t = [] {
            FieldTable<Common> f;
            f.Struct<&Common::loads>("Loads");
            return f;
        }();
        return t;
    }
    void Load(const SettingsSection& s) override {
        if (s.IsCurrentForm()) LoadRecord(s.File(), s.Name(), "Common.", Fields(), common);
        ++common.loads;
        g_calls.push_back("load " + Section());
    }
    void SaveTo(SettingsSection& s) override { SaveRecord(s.File(), s.Name(), "Common.", Fields(), common); }
    bool Start(platform::Blocking) override {
        g_calls.push_back("start " + Section());
        return true;
    }
    bool Stop(platform::Blocking) override {
        // Unloading in reverse: modules loaded earlier are still there.
        g_calls.push_back("stop " + Section() + (Core().registry->Find(kModuleRules) ? " rules-present" : ""));
        return true;
    }
    Common common;
};

template <uint16_t Id>
std::unique_ptr<Module> MakeProbe(CoreContext& core) {
    return std::make_unique<ProbeModule>(core, Id, Id == kModuleRules ? "mod_rules" : "mod_collector");
}

// The texts of the reports the core holds, sorted.
std::vector<std::string> Reports(CoreContext& core) {
    std::vector<EventPtr> reports;
    EXPECT_TRUE(core.events->Settle(5000));
    EXPECT_EQ(core.events->Drain(reports), kOk);
    std::vector<std::string> texts;
    for (auto& r : reports) texts.emplace_back(r->Message());
    std::sort(texts.begin(), texts.end());
    return texts;
}

TEST(ModuleRegistry, LoadsInOrderFindsByIdAndUnloadsInReverse) {
    const qm::testing::TempDir temp("qm-registry");
    const auto& home = temp.path();
    const ModuleDescriptor catalog[] = {
        {kModuleRules, "Module: Rules", "mod_rules", false, MakeProbe<kModuleRules>},
        {kModuleDns, "Module: DNS", "mod_dns", false, nullptr},  // not built: absent
        {kModuleCollector, "Module: Collector", "mod_collector", true, MakeProbe<kModuleCollector>},
    };

    for (int run = 1; run <= 2; ++run) {
        g_calls.clear();
        CoreContext core;
        core.paths = Paths::Build(home / "quillmark", home);
        core.catalog = catalog;
        std::vector<std::string> status;
        core.loadingStatus = [&](const std::string& s) { status.push_back(s); };
        CoreStart(core);

        EXPECT_EQ(core.registry->Count(), 2u);
        EXPECT_EQ(core.registry->Find(kModuleDns), nullptr);
        auto* rules = core.registry->FindAs<ProbeModule>(kModuleRules);
        ASSERT_NE(rules, nullptr);
        EXPECT_EQ(rules->common.loads, uint32_t(run));  // saved at unload, read at the next start
        EXPECT_EQ(g_calls, (std::vector<std::string>{"load mod_rules", "load mod_collector", "start mod_collector"}));

        EXPECT_EQ(Reports(core), (std::vector<std::string>{"Модуль загружен: mod_collector", "Модуль загружен: mod_rules"}));

        g_calls.clear();
        CoreShutdown(core);
        EXPECT_EQ(g_calls, (std::vector<std::string>{"stop mod_collector rules-present", "stop mod_rules rules-present"}));
        EXPECT_NE(std::find(status.begin(), status.end(), "Shutting down ... Module: Collector"), status.end());
        EXPECT_TRUE(fs::exists(home / "Settings" / "mod_rules.ini"));
        EXPECT_FALSE(fs::exists(home / "Settings" / "mod_dns.ini"));
    }
}

TEST(ModuleRegistry, AFileThatCouldNotBeReadAtStartIsNotReplacedAtShutdown) {
    const qm::testing::TempDir temp("qm-registry");
    const fs::path& home = temp.path();
    const ModuleDescriptor catalog[] = {{kModuleRules, "Module: Rules", "mod_rules", false, MakeProbe<kModuleRules>}};
    const fs::path file = home / "Settings" / "mod_rules.ini", coreFile = home / "Settings" / "Core.ini";
    // Folders where the files should be: they cannot be read.
    fs::create_directories(file);
    fs::create_directories(coreFile);

    CoreContext core;
    core.paths = Paths::Build(home / "quillmark", home);
    core.catalog = catalog;
    CoreStart(core);
    const std::vector<std::string> reports = Reports(core);
    EXPECT_TRUE(std::any_of(reports.begin(), reports.end(), [&](const std::string& r) {
        return r.starts_with("Ошибка при работе с файлом " + file.string());
    }));

    // The file is readable again before shutdown: the defaults the module
    // ran on must not replace what it holds.
    fs::remove(file);
    fs::remove(coreFile);
    const std::string kept = "[mod_rules]\nVersion=2\nCommon.Loads=0700000007\n";
    const std::string coreKept = "[main]\nVersion=2\nBeginUTC=0800000000000000000008\n";
    WriteWholeFile(file, kept);
    WriteWholeFile(coreFile, coreKept);
    CoreShutdown(core);
    EXPECT_EQ(ReadWholeFile(file), kept);
    EXPECT_EQ(ReadWholeFile(coreFile), coreKept) << "Core.ini as well";
}

TEST(Config, AFileThatCannotBeReadIsNeverReplaced) {
    qm::testing::TempDir temp("qm-config");
    const fs::path folder = temp.path() / "Settings", file = folder / "mod_window.ini";
    fs::create_directory(folder);
    ::chmod(folder.c_str(), 0777);  // writable: a save could replace the file
    const std::string original = "[mod_window]\nVersion=2\nItemCount=0100000001\n[other]\nkeep=1\n";
    WriteWholeFile(file, original);
    ::chmod(file.c_str(), 0200);  // its owner may write it, nobody may read it

    // The number of saves that went through.
    const int saved = qm::testing::RunAsNobody([&] {
        const Config config(folder);
        // A type's settings change only their own keys of the file as read...
        SettingsSection section = config.Open("mod_window", "mod_window -> std_report");
        section.File().WriteString(section.Name(), "Wnd.1-Param", "0000");
        int through = section.ReadError() == 0 ? 10 : 0;
        through += section.Commit();
        // ...and a module's save empties its section of the file as read.
        return through + config.BeginSave("mod_window", "mod_window").Commit();
    });
    EXPECT_EQ(saved, 0);
    ::chmod(file.c_str(), 0600);
    EXPECT_EQ(ReadWholeFile(file), original);
}

// The window module saves its section of mod_window.ini on the core's thread
// while a window saves its own kind's section of the same file on the GUI
// thread: neither save may drop the other's section.
TEST(Config, TwoSectionsOfOneFileSavedFromTwoThreadsBothStay) {
    const qm::testing::TempDir temp("qm-twowriters");
    CoreContext core;
    core.paths = Paths::Build(temp.path() / "quillmark", temp.path());
    core.paths.CreateFolders();
    core.config = std::make_unique<Config>(core.paths.settingsFolder);
    ProbeModule module(core, kModuleWindow, "mod_window");
    const char* kGraphs = "mod_window -> graph";
    auto stored = [&](const char* section, const char* key) {
        return core.config->Open("mod_window", section).File().Get(section, key).has_value();
    };

    constexpr int kRounds = 150;
    std::atomic<int> graphsLost{0}, windowsLost{0};
    std::thread gui([&] {
        for (int round = 0; round < kRounds; ++round) {
            SettingsSection s = core.config->OpenToChange("mod_window", kGraphs);
            s.File().WriteString(kGraphs, "Wnd.1-Round", std::to_string(round));
            EXPECT_TRUE(s.Commit());
            if (!stored(kGraphs, "Wnd.1-Round")) ++graphsLost;
        }
    });
    for (int round = 0; round < kRounds; ++round) {
        module.common.loads = uint32_t(round);
        EXPECT_TRUE(module.SaveSection());
        if (!stored("mod_window", "Common.Loads")) ++windowsLost;
    }
    gui.join();
    EXPECT_EQ(graphsLost.load(), 0);
    EXPECT_EQ(windowsLost.load(), 0);
    EXPECT_TRUE(stored(kGraphs, "Wnd.1-Round"));
    EXPECT_TRUE(stored("mod_window", "Common.Loads"));
}

}  // namespace
}  // namespace qm::core
