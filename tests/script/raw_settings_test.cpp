// Every setting exported to Settings/raw_settings.ini and imported again, on
// the real modules of a core started in a temporary home: the records come
// back whole, a damaged file changes nothing, and a busy module is named
// instead of waited for.
#include "core/raw_settings.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <thread>

#include "platform/guarded_lock.h"
#include "platform/profile_file.h"
#include "platform/sync.h"
#include "script/module_nodes.h"
#include "script/script_interpreter.h"
#include "support/files.h"
#include "support/program_core.h"
#include "support/udp_peer.h"

namespace qm::core {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qm::testing::Contains;

using Sections = std::map<std::string, std::map<std::string, std::string>>;

// Each module's section in its file, key by key: as its own save writes it
// now, or as the file holds it.
Sections SavedSections(CoreContext& core, bool save = true) {
    Sections out;
    for (const ModuleDescriptor& d : core.catalog) {
        Module* module = core.registry->Find(d.id);
        if (!module) continue;
        EXPECT_TRUE(!save || module->SaveSection()) << d.section;
        const auto file = platform::ProfileFile::Load(core.config->FileFor(d.section));
        for (const std::string& key : file.Keys(d.section)) out[d.section][key] = *file.Get(d.section, key);
    }
    return out;
}

std::string Script(CoreContext& core, std::string_view text) {
    script::ModuleNodes nodes(*core.registry);
    return script::RunScript(text, script::EnvironmentFor(core, nodes)).text;
}

// Records in every kind of table: items, lists with entries, common blocks.
constexpr std::string_view kEdits =
    "#set:mod_relay=192.0.2.10{#set:port=1514;#set:enable=1;#set:ext=1}\n"
    "#set:mod_dbase{#set:msglimit=2000}\n"
    "#set:mod_snmp.list=sys{#set:enable=1;#set:format=Up [up];#set:oid|up=.1.3.6.1.2.1.1.3.0}\n"
    "#set:mod_snmp=192.0.2.7{#set:reset=1;#set:list=sys}\n"
    "#set:mod_icmp=192.0.2.8{#set:fmt=up [msec] ms}\n"
    "#set:mod_laurent.list=climate{#set:format=T: [temp];#set:cmd|temp=$KE,TMP}\n";

TEST(RawSettings, ExportThenImportRoundTripsEveryModule) {
    const qm::testing::TempDir keep("qm-raw");
    const fs::path exported = keep.path() / "raw_settings.ini";
    Sections before;
    {
        qm::testing::ProgramCore program(qm::testing::FreePort());
        Script(program.core, kEdits);
        const RawSettingsResult result = ExportRawSettings(program.core);
        ASSERT_TRUE(result.ok) << result.message;
        before = SavedSections(program.core);
        fs::copy_file(RawSettingsFile(program.core.paths), exported);
    }
    ASSERT_GE(before.size(), 8u);
    EXPECT_TRUE(Contains(before["mod_relay"]["Item.0-StrName"], "192.0.2.10"));
    const auto raw = platform::ProfileFile::Load(exported);
    EXPECT_EQ(raw.Get("main", "StrLocale"), "RU");

    qm::testing::ProgramCore program(qm::testing::FreePort());
    // What the importing home had of its own is replaced, not added to.
    Script(program.core, "#set:mod_relay=198.51.100.1{#set:port=514}\n#set:mod_icmp=198.51.100.2{#set:en=1}\n");
    fs::copy_file(exported, RawSettingsFile(program.core.paths));
    const RawSettingsResult result = ImportRawSettings(program.core);
    EXPECT_TRUE(result.ok && Contains(result.message, "mod_rules") && Contains(result.message, "mod_laurent"))
        << result.message;

    // The files the import saved, and what the modules hold, are the exporter's.
    EXPECT_EQ(SavedSections(program.core, false), before);
    EXPECT_EQ(SavedSections(program.core), before);
}

TEST(RawSettings, ADamagedFileChangesNothingAnywhere) {
    qm::testing::ProgramCore program(qm::testing::FreePort());
    CoreContext& core = program.core;
    Script(core, kEdits);
    ASSERT_TRUE(ExportRawSettings(core).ok);
    const fs::path path = RawSettingsFile(core.paths);
    const platform::ProfileFile good = platform::ProfileFile::Load(path);
    const Sections before = SavedSections(core);
    const CoreSettings settingsBefore = core.settings;

    // Section, key, the damaged value, and what the answer names.
    const std::array<const char*, 4> damages[] = {
        {"mod_dbase", "Common.MsgLimit", "D00700000F", "Common.MsgLimit"},  // wrong checksum
        {"mod_relay", "Item.0-Port", "zz", "Item.0-Port"},                   // not hex at all
        {"mod_snmp", "List.0-item.0-MinVal", "0000", "List.0-item.0-MinVal"},  // wrong size
        {"mod_relay", "ItemCount", "F5010000F6", "ItemCount"},               // 501 records
        {"mod_icmp", "ItemCount", "0500000005", "Item."},                    // records the file lacks
        {"mod_collector", "Version", "1", "Version"},                        // not the current form
        {"main", "ZoomIndex", "0E00", "ZoomIndex"},
    };
    for (const auto& [section, key, value, named] : damages) {
        platform::ProfileFile bad = good;
        // A sound change elsewhere in the same file must not be applied either.
        bad.WriteString("mod_collector", "Item.0-StrName", "10.9.9.9");
        bad.WriteString("main", "StrLocale", "EN");
        bad.WriteString(section, key, value);
        ASSERT_TRUE(bad.Save(path));
        const RawSettingsResult result = ImportRawSettings(core);
        EXPECT_FALSE(result.ok) << section << " " << key;
        EXPECT_TRUE(Contains(result.message, section) && Contains(result.message, named)) << result.message;
    }
    EXPECT_EQ(SavedSections(core), before);
    EXPECT_EQ(core.settings.locale, settingsBefore.locale);

    fs::remove(path);
    EXPECT_FALSE(ImportRawSettings(core).ok);
    qm::testing::WriteWholeFile(path, "[unknown]\nVersion=2\n");
    EXPECT_FALSE(ImportRawSettings(core).ok);
    EXPECT_EQ(SavedSections(core), before);
}

TEST(RawSettings, ABusyModuleIsNamedNotWaitedFor) {
    qm::testing::ProgramCore program(qm::testing::FreePort());
    CoreContext& core = program.core;
    ASSERT_TRUE(ExportRawSettings(core).ok);
    const fs::path path = RawSettingsFile(core.paths);
    const std::string earlier = qm::testing::ReadWholeFile(path);
    Script(core, kEdits);

    Module* dbase = core.registry->Find(kModuleDbase);
    ASSERT_NE(dbase, nullptr);
    platform::ManualResetEvent held, release;
    std::thread holder([&] {
        platform::GuardedLock lock(dbase->Lock(), core.counters.locks, platform::Blocking::Yes);
        held.Set();
        release.Wait();
    });
    ASSERT_TRUE(held.Wait(30s));

    const RawSettingsResult exported = ExportRawSettings(core);
    EXPECT_TRUE(!exported.ok && Contains(exported.message, "mod_dbase")) << exported.message;
    EXPECT_EQ(qm::testing::ReadWholeFile(path), earlier);  // nothing half-written

    const RawSettingsResult imported = ImportRawSettings(core);
    EXPECT_TRUE(!imported.ok && Contains(imported.message, "mod_dbase") && Contains(imported.message, "mod_relay"))
        << imported.message;
    release.Set();
    holder.join();
}

}  // namespace
}  // namespace qm::core
