#include "core/module_registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/core_context.h"
#include "support/temp_dir.h"

namespace qm::core {
namespace {

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

        ASSERT_TRUE(core.events->Settle(5000));
        std::vector<EventPtr> reports;
        ASSERT_EQ(core.events->Drain(reports), kOk);
        ASSERT_EQ(reports.size(), 2u);
        std::set<std::string> texts;
        for (auto& r : reports) texts.insert(std::string(r->Message()));
        EXPECT_TRUE(texts.count("Модуль загружен: mod_rules"));
        EXPECT_TRUE(texts.count("Модуль загружен: mod_collector"));

        g_calls.clear();
        CoreShutdown(core);
        EXPECT_EQ(g_calls, (std::vector<std::string>{"stop mod_collector rules-present", "stop mod_rules rules-present"}));
        EXPECT_NE(std::find(status.begin(), status.end(), "Shutting down ... Module: Collector"), status.end());
        EXPECT_TRUE(std::filesystem::exists(home / "Settings" / "mod_rules.ini"));
        EXPECT_FALSE(std::filesystem::exists(home / "Settings" / "mod_dns.ini"));
    }
}

TEST(ModuleRegistry, AFileThatCouldNotBeReadAtStartIsNotReplacedAtShutdown) {
    const qm::testing::TempDir temp("qm-registry");
    const auto& home = temp.path();
    const ModuleDescriptor catalog[] = {{kModuleRules, "Module: Rules", "mod_rules", false, MakeProbe<kModuleRules>}};
    const std::filesystem::path file = home / "Settings" / "mod_rules.ini";
    const std::filesystem::path coreFile = home / "Settings" / "Core.ini";
    // Folders where the files should be: they cannot be read.
    std::filesystem::create_directories(file);
    std::filesystem::create_directories(coreFile);

    CoreContext core;
    core.paths = Paths::Build(home / "quillmark", home);
    core.catalog = catalog;
    CoreStart(core);
    ASSERT_TRUE(core.events->Settle(5000));
    std::vector<EventPtr> reports;
    ASSERT_EQ(core.events->Drain(reports), kOk);
    bool reported = false;
    for (auto& r : reports) reported |= r->Message().starts_with("Ошибка при работе с файлом " + file.string());
    EXPECT_TRUE(reported);

    // The file is readable again before shutdown: the defaults the module
    // ran on must not replace what it holds.
    std::filesystem::remove(file);
    std::filesystem::remove(coreFile);
    const std::string kept = "[mod_rules]\nVersion=2\nCommon.Loads=0700000007\n";
    const std::string coreKept = "[main]\nVersion=2\nBeginUTC=0800000000000000000008\n";
    std::ofstream(file) << kept;
    std::ofstream(coreFile) << coreKept;
    CoreShutdown(core);
    std::ifstream in(file), coreIn(coreFile);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), kept);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(coreIn), {}), coreKept) << "Core.ini as well";
}

}  // namespace
}  // namespace qm::core
