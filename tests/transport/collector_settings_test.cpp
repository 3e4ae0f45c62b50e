#include "transport/collector/collector_settings.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/config.h"
#include "platform/profile_file.h"
#include "platform/utf16.h"
#include "support/temp_dir.h"

namespace qm::transport {
namespace {

void PutText(std::vector<uint8_t>& rec, size_t offset, const std::string& text) {
    const std::string units = platform::Utf8ToUtf16LEBytes(text);
    std::memcpy(rec.data() + offset, units.data(), units.size());
}

void PutU32(std::vector<uint8_t>& rec, size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) rec[offset + i] = uint8_t(v >> (8 * i));
}

TEST(CollectorSettings, LegacySectionIsReadAndTheNextSaveIsCurrent) {
    qm::testing::TempDir home("qm-colset");
    core::Config config(home.path());
    {
        core::SettingsSection s = config.Open("mod_collector", "mod_collector");
        std::vector<uint8_t> common(kLegacyCommonSize, 0);
        common[0] = 1;     // EnableService
        common[1] = 0x5A;  // Param
        PutU32(common, 4, 4096);
        PutU32(common, 8, 250);
        s.File().WriteStruct("mod_collector", "Common", common);
        s.File().WriteString("mod_collector", "Count", "2");
        for (int i = 0; i < 2; ++i) {
            std::vector<uint8_t> rec(kLegacyListenerSize, 0);
            rec[0] = uint8_t(i == 0);
            PutText(rec, 2, i == 0 ? "127.0.0.1" : "10.0.0.1");
            rec[66] = kPacketFilter | kServerCheck;
            PutU32(rec, 68, 5514 + i);
            PutU32(rec, 72, 11);
            PutU32(rec, 76, 22);
            PutText(rec, 80, "127.0.0.2");
            s.File().WriteStruct("mod_collector", "Item." + std::to_string(i), rec);
        }
        // A wrong-sized record is not a record.
        s.File().WriteStruct("mod_collector", "Item.2", std::vector<uint8_t>(10, 0));
        ASSERT_TRUE(s.Commit());
    }
    CollectorSettings loaded;
    LoadCollectorSettings(config.Open("mod_collector", "mod_collector"), loaded);
    EXPECT_TRUE(loaded.common.enableService);
    EXPECT_EQ(loaded.common.param, 0x5A);
    EXPECT_EQ(loaded.common.bufferSize, 4096u);
    EXPECT_EQ(loaded.common.errorTimeout, 250u);
    ASSERT_EQ(loaded.records.size(), 2u);
    const ListenerRecord& first = loaded.records[0].record;
    EXPECT_TRUE(first.enable);
    EXPECT_EQ(first.name, "127.0.0.1");
    EXPECT_EQ(first.Port(), 5514);
    EXPECT_EQ(first.sendTimeout, 11u);
    EXPECT_EQ(first.recvTimeout, 22u);
    EXPECT_EQ(first.server, "127.0.0.2");
    EXPECT_EQ(first.param, kPacketFilter | kServerCheck);
    EXPECT_FALSE(loaded.records[1].record.enable);

    // Saved in the current form, a deleted record left out, and read back the same.
    loaded.records.MarkDeleted(1);
    core::SettingsSection out = config.BeginSave("mod_collector", "mod_collector");
    core::SaveCommonAndRecords(out, loaded.common, loaded.records);
    ASSERT_TRUE(out.Commit());
    const core::SettingsSection again = config.Open("mod_collector", "mod_collector");
    EXPECT_TRUE(again.IsCurrentForm());
    EXPECT_FALSE(again.File().Get("mod_collector", "Common"));
    EXPECT_EQ(again.File().Get("mod_collector", "Item.0-Port"), "8A1500009F");
    CollectorSettings reread;
    LoadCollectorSettings(again, reread);
    ASSERT_EQ(reread.records.size(), 1u);
    EXPECT_EQ(reread.records[0].record.server, "127.0.0.2");
    EXPECT_EQ(reread.common.bufferSize, 4096u);
}

TEST(CollectorSettings, CommonBlockLoadsWholeOrNotAtAll) {
    qm::testing::TempDir home("qm-colset");
    core::Config config(home.path());
    core::SettingsSection s = config.BeginSave("mod_collector", "mod_collector");
    const uint8_t size[4] = {0, 1, 0, 0};
    s.File().WriteStruct("mod_collector", "Common.BufferSize", size);   // EnableService missing
    s.File().WriteString("mod_collector", "ItemCount", "FFFFFFFF00");   // bad checksum: no records
    s.File().WriteStruct("mod_collector", "Item.0-Port", size);         // no Enable: not a record
    ASSERT_TRUE(s.Commit());
    CollectorSettings loaded;
    LoadCollectorSettings(config.Open("mod_collector", "mod_collector"), loaded);
    EXPECT_EQ(loaded.common.bufferSize, 1024u);
    EXPECT_TRUE(loaded.common.enableService);
    EXPECT_EQ(loaded.records.size(), 0u);
}

TEST(CollectorSettings, ABufferSizeNoDatagramNeedsIsCapped) {
    qm::testing::TempDir home("qm-colset");
    core::Config config(home.path());
    core::SettingsSection s = config.BeginSave("mod_collector", "mod_collector");
    const uint8_t on[1] = {1}, huge[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    s.File().WriteStruct("mod_collector", "Common.EnableService", on);
    s.File().WriteStruct("mod_collector", "Common.BufferSize", huge);
    ASSERT_TRUE(s.Commit());
    CollectorSettings loaded;
    LoadCollectorSettings(config.Open("mod_collector", "mod_collector"), loaded);
    EXPECT_EQ(loaded.common.bufferSize, kMaxDatagramBytes);

    // The same value in the older layout.
    core::SettingsSection legacy = config.BeginSave("mod_collector", "mod_collector");
    legacy.File().WriteString("mod_collector", "Version", "1");
    std::vector<uint8_t> common(kLegacyCommonSize, 0);
    common[0] = 1;
    PutU32(common, 4, 0xFFFFFFFF);
    legacy.File().WriteStruct("mod_collector", "Common", common);
    ASSERT_TRUE(legacy.Commit());
    LoadCollectorSettings(config.Open("mod_collector", "mod_collector"), loaded);
    EXPECT_EQ(loaded.common.bufferSize, kMaxDatagramBytes);
}

}  // namespace
}  // namespace qm::transport
