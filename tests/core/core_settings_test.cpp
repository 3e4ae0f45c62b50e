#include "support/temp_dir.h"
#include "core/core_settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "core/command_line.h"
#include "core/config.h"
#include "platform/profile_file.h"
#include "platform/utf16.h"

namespace qm::core {
namespace {

namespace fs = std::filesystem;

using TempDir = qm::testing::TempDir;

std::string ReadFile(const fs::path& p) {
    std::ostringstream s;
    s << std::ifstream(p, std::ios::binary).rdbuf();
    return s.str();
}

std::vector<uint8_t> Le32(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

void ExpectSameSettings(const CoreSettings& a, const CoreSettings& b) {
    EXPECT_EQ(a.godMode, b.godMode);
    EXPECT_EQ(a.locale, b.locale);
    EXPECT_EQ(a.font, b.font);
    EXPECT_EQ(a.fontSize, b.fontSize);
    EXPECT_EQ(a.listColors, b.listColors);
    EXPECT_EQ(a.mainBgColor, b.mainBgColor);
    EXPECT_EQ(a.mainTextColor, b.mainTextColor);
    EXPECT_EQ(a.beginUtc, b.beginUtc);
    EXPECT_EQ(a.param, b.param);
    EXPECT_EQ(a.valueCollectorStackLimit, b.valueCollectorStackLimit);
}

// Every field away from its default.
CoreSettings Unusual() {
    CoreSettings s;
    s.godMode = true;
    s.locale = "ЕН";
    s.font.height = -27;
    s.font.width = 3;
    s.font.escapement = -900;
    s.font.orientation = 450;
    s.font.weight = 700;
    s.font.italic = 1;
    s.font.underline = 1;
    s.font.strikeOut = 1;
    s.font.charSet = 204;
    s.font.outPrecision = 3;
    s.font.clipPrecision = 2;
    s.font.quality = 5;
    s.font.pitchAndFamily = 0x31;
    s.font.faceName = "Шрифт Mono";
    s.fontSize = 20;
    s.listColors = {0x010203, 0x040506, 0x070809, 0x0A0B0C, 0x0D0E0F, 0xFFFFFFFF};
    s.mainBgColor = 0x123456;
    s.mainTextColor = 0xABCDEF;
    s.beginUtc = 0x0123456789ABCDEFull;
    s.param = 0xA5;
    s.valueCollectorStackLimit = 123456789;
    return s;
}

// The 160-byte record older versions stored under the one key `Core`.
struct LegacyRecord {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(kCoreLegacySize, 0);
    void U8(size_t at, uint8_t v) { bytes.at(at) = v; }
    void U32(size_t at, uint32_t v) {
        for (size_t i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
    }
    void U64(size_t at, uint64_t v) {
        for (size_t i = 0; i < 8; ++i) bytes.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
    }
    void Utf16(size_t at, const std::string& utf8) {
        const std::string u = platform::Utf8ToUtf16LEBytes(utf8);
        for (size_t i = 0; i < u.size(); ++i) bytes.at(at + i) = static_cast<uint8_t>(u[i]);
    }
};

LegacyRecord SampleLegacy() {
    LegacyRecord r;
    r.U8(0, 1);              // GodMode
    r.Utf16(2, "EN");        // locale, wchar[3]
    r.U32(8, uint32_t(-19)); // font: height, width, escapement, orientation, weight
    r.U32(12, 0);
    r.U32(16, 0);
    r.U32(20, 0);
    r.U32(24, 700);
    r.U8(28, 1);             // italic
    r.U8(29, 0);
    r.U8(30, 0);
    r.U8(31, 204);           // charset
    r.U8(32, 0);
    r.U8(33, 0);
    r.U8(34, 0);
    r.U8(35, 0x22);          // pitch and family
    r.Utf16(36, "Times New Roman");
    r.U32(104, 14);          // ZoomIndex
    for (uint32_t i = 0; i < 6; ++i) r.U32(108 + 4 * i, 0x100000 + i);
    r.U32(132, 0x202020);    // MainBgColor
    r.U32(136, 0xE0E0E0);    // MainTextColor
    r.U64(144, 1500000000);  // BeginUTC
    r.U8(152, 7);            // Param
    r.U32(156, 9000);        // ValueCollectorStackLimit
    return r;
}

void ExpectSampleLegacy(const CoreSettings& s) {
    EXPECT_TRUE(s.godMode);
    EXPECT_EQ(s.locale, "EN");
    EXPECT_EQ(s.font.height, -19);
    EXPECT_EQ(s.font.weight, 700);
    EXPECT_EQ(s.font.italic, 1);
    EXPECT_EQ(s.font.charSet, 204);
    EXPECT_EQ(s.font.pitchAndFamily, 0x22);
    EXPECT_EQ(s.font.faceName, "Times New Roman");
    EXPECT_EQ(s.fontSize, 14);
    for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(s.listColors[i], 0x100000 + i);
    EXPECT_EQ(s.mainBgColor, 0x202020u);
    EXPECT_EQ(s.mainTextColor, 0xE0E0E0u);
    EXPECT_EQ(s.beginUtc, 1500000000u);
    EXPECT_EQ(s.param, 7);
    EXPECT_EQ(s.valueCollectorStackLimit, 9000u);
}

void ExpectDefaults(const CoreSettings& s, uint64_t now) {
    ExpectSameSettings(s, CoreSettings::Defaults(now, 96));
}

TEST(CoreSettings, DefaultsOfAFirstStart) {
    const CoreSettings s = CoreSettings::Defaults(1700000000, 96);
    EXPECT_FALSE(s.godMode);
    EXPECT_EQ(s.locale, "RU");
    EXPECT_EQ(s.font.faceName, "Calibri");
    EXPECT_EQ(s.font.height, -16);  // 12 points at 96 dpi
    EXPECT_EQ(s.fontSize, 12);
    EXPECT_EQ(s.valueCollectorStackLimit, 5000u);
    EXPECT_EQ(s.listColors, (std::array<uint32_t, 6>{0xFFFFFF, 0x000000, 0xFF5050, 0xFFFFFF, 0xC8C8C8, 0x000000}));
    EXPECT_EQ(s.mainBgColor, 0x000000u);
    EXPECT_EQ(s.mainTextColor, 0xFFFFFFu);
    EXPECT_EQ(s.beginUtc, 1700000000u);
    EXPECT_EQ(s.param, 0);
    EXPECT_EQ(CoreSettings::Defaults(5, 120).font.height, -20);
    EXPECT_EQ(CoreSettings::Defaults(5, 144).font.height, -24);
}

TEST(CoreSettings, FontHeightMultipliesBeforeDividing) {
    EXPECT_EQ(FontHeightForPoints(12, 96), -16);
    EXPECT_EQ(FontHeightForPoints(11, 96), -14);   // 14.67 truncated
    EXPECT_EQ(FontHeightForPoints(14, 96), -18);   // 18.67 truncated
    EXPECT_EQ(FontHeightForPoints(10, 120), -16);  // 16.67; 120 / 72 first would give 10
    EXPECT_EQ(FontHeightForPoints(0, 96), 0);
}

TEST(CoreSettings, MissingFileGivesDefaults) {
    TempDir dir;
    const Config config(dir.path());
    ExpectDefaults(LoadCoreSettings(config, 42, 96), 42);
    // No settings folder known at all.
    ExpectDefaults(LoadCoreSettings(Config(fs::path()), 43, 96), 43);
}

TEST(CoreSettings, SaveThenLoadKeepsEveryField) {
    TempDir dir;
    const Config config(dir.path());
    const CoreSettings saved = Unusual();
    ASSERT_TRUE(SaveCoreSettings(config, saved));
    ExpectSameSettings(LoadCoreSettings(config, 99, 96), saved);

    // The current form: [main], Version=2, one struct-form key per field.
    const platform::ProfileFile file = platform::ProfileFile::Load(dir.path() / "Core.ini");
    EXPECT_EQ(file.Sections(), std::vector<std::string>{"main"});
    EXPECT_EQ(file.Get("main", "Version"), "2");
    EXPECT_FALSE(file.Get("main", "Core").has_value());
    EXPECT_EQ(file.Get("main", "GodMode"), "0101");
    EXPECT_EQ(file.Get("main", "ZoomIndex"), "1400000014");
    EXPECT_TRUE(file.ReadStruct("main", "FontParam", 92).has_value());
    EXPECT_TRUE(file.ReadStruct("main", "BeginUTC", 8).has_value());
    EXPECT_TRUE(file.ReadStruct("main", "ListColor.5", 4).has_value());
    EXPECT_EQ(file.Get("main", "StrLocale"), "ЕН");

    // Saving again replaces the keys rather than adding to them.
    CoreSettings changed = saved;
    changed.godMode = false;
    changed.fontSize = 9;
    ASSERT_TRUE(SaveCoreSettings(config, changed));
    ExpectSameSettings(LoadCoreSettings(config, 99, 96), changed);
    const std::string text = ReadFile(dir.path() / "Core.ini");
    EXPECT_EQ(text.find("GodMode"), text.rfind("GodMode"));
}

TEST(CoreSettings, GodModeWithWrongChecksumIsIgnoredWhileOtherKeysLoad) {
    TempDir dir;
    const Config config(dir.path());
    for (const char* stored : {"0102", "0100", "01", "010101", "zz01"}) {
        platform::ProfileFile file;
        file.WriteString("main", "Version", "2");
        file.WriteString("main", "GodMode", stored);
        file.WriteStruct("main", "ZoomIndex", Le32(17));
        file.WriteString("main", "StrLocale", "DE");
        ASSERT_TRUE(file.Save(config.FileFor(kCoreSettingsFile)));

        const CoreSettings s = LoadCoreSettings(config, 1, 96);
        EXPECT_FALSE(s.godMode) << stored;
        EXPECT_EQ(s.fontSize, 17) << stored;
        EXPECT_EQ(s.locale, "DE") << stored;
    }
    // The same key with its checksum right does turn it on.
    platform::ProfileFile file;
    file.WriteString("main", "Version", "2");
    file.WriteString("main", "GodMode", "0101");
    ASSERT_TRUE(file.Save(config.FileFor(kCoreSettingsFile)));
    EXPECT_TRUE(LoadCoreSettings(config, 1, 96).godMode);
}

TEST(CoreSettings, UnusableLocaleFallsBackToDefault) {
    TempDir dir;
    const Config config(dir.path());
    for (const char* stored : {"", "E"}) {
        platform::ProfileFile file;
        file.WriteString("main", "Version", "2");
        file.WriteString("main", "StrLocale", stored);
        ASSERT_TRUE(file.Save(config.FileFor(kCoreSettingsFile)));
        EXPECT_EQ(LoadCoreSettings(config, 1, 96).locale, "RU") << stored;
    }
    // A stored locale longer than two characters keeps its first two.
    platform::ProfileFile file;
    file.WriteString("main", "Version", "2");
    file.WriteString("main", "StrLocale", "ENG");
    ASSERT_TRUE(file.Save(config.FileFor(kCoreSettingsFile)));
    EXPECT_EQ(LoadCoreSettings(config, 1, 96).locale, "EN");
}

TEST(CoreSettings, LegacyRecordIsReadAndTheNextSaveConvertsIt) {
    for (const char* version : std::initializer_list<const char*>{"1", nullptr}) {
        SCOPED_TRACE(version ? "Version=1" : "no Version");
        TempDir dir;
        const Config config(dir.path());
        platform::ProfileFile file;
        if (version) file.WriteString("main", "Version", version);
        ASSERT_TRUE(file.WriteStruct("main", "Core", SampleLegacy().bytes));
        // Keys of the current form are not read from a legacy file.
        file.WriteStruct("main", "ValueCollectorStackLimit", Le32(1));
        ASSERT_TRUE(file.Save(config.FileFor(kCoreSettingsFile)));

        const CoreSettings loaded = LoadCoreSettings(config, 5, 96);
        ExpectSampleLegacy(loaded);

        ASSERT_TRUE(SaveCoreSettings(config, loaded));
        const platform::ProfileFile saved = platform::ProfileFile::Load(config.FileFor(kCoreSettingsFile));
        EXPECT_EQ(saved.Get("main", "Version"), "2");
        EXPECT_FALSE(saved.Get("main", "Core").has_value());
        EXPECT_TRUE(saved.Get("main", "FontParam").has_value());
        EXPECT_EQ(saved.Get("main", "GodMode"), "0101");
        ExpectSampleLegacy(LoadCoreSettings(config, 6, 96));
    }
}

TEST(CoreSettings, LegacyRecordOfWrongLengthIsIgnored) {
    for (size_t size : {kCoreLegacySize - 1, kCoreLegacySize + 1, size_t(92)}) {
        TempDir dir;
        const Config config(dir.path());
        std::vector<uint8_t> bytes = SampleLegacy().bytes;
        bytes.resize(size, 0);
        platform::ProfileFile file;
        file.WriteString("main", "Version", "1");
        ASSERT_TRUE(file.WriteStruct("main", "Core", bytes));
        ASSERT_TRUE(file.Save(config.FileFor(kCoreSettingsFile)));
        SCOPED_TRACE(size);
        ExpectDefaults(LoadCoreSettings(config, 77, 96), 77);
    }
}

TEST(CoreSettings, LegacyLocaleWithoutTwoCharactersFallsBack) {
    TempDir dir;
    const Config config(dir.path());
    LegacyRecord r = SampleLegacy();
    r.U32(2, 0);  // empty locale
    platform::ProfileFile file;
    ASSERT_TRUE(file.WriteStruct("main", "Core", r.bytes));
    ASSERT_TRUE(file.Save(config.FileFor(kCoreSettingsFile)));
    const CoreSettings s = LoadCoreSettings(config, 5, 96);
    EXPECT_EQ(s.locale, "RU");
    EXPECT_EQ(s.fontSize, 14);
}

TEST(CoreSettings, StartOptionsApplyOverStoredSettings) {
    CoreSettings s = Unusual();
    const CoreSettings before = s;

    // Nothing given: nothing changes.
    ApplyStartOptions(ParseCommandLine(""), 96, s);
    ExpectSameSettings(s, before);
    ApplyStartOptions(ParseCommandLine("-gm maybe -locale e -fontsize x"), 96, s);
    ExpectSameSettings(s, before);

    ApplyStartOptions(ParseCommandLine("-fontsize 14"), 96, s);
    EXPECT_EQ(s.fontSize, 14);
    EXPECT_EQ(s.font.height, -18);
    EXPECT_EQ(s.font.faceName, before.font.faceName);
    ApplyStartOptions(ParseCommandLine("-fontsize 14"), 120, s);
    EXPECT_EQ(s.font.height, -23);

    ASSERT_TRUE(s.godMode);
    ApplyStartOptions(ParseCommandLine("-gm off"), 96, s);
    EXPECT_FALSE(s.godMode);
    ApplyStartOptions(ParseCommandLine("-gm on"), 96, s);
    EXPECT_TRUE(s.godMode);

    ApplyStartOptions(ParseCommandLine("-locale fr -fontface Arial -vc_buffer 800"), 96, s);
    EXPECT_EQ(s.locale, "fr");
    EXPECT_EQ(s.font.faceName, "Arial");
    EXPECT_EQ(s.valueCollectorStackLimit, 800u);
    EXPECT_EQ(s.fontSize, 14);
    EXPECT_TRUE(s.godMode);

    ApplyStartOptions(ParseCommandLine("-def"), 96, s);
    EXPECT_FALSE(s.godMode);
    EXPECT_EQ(s.locale, "RU");
    EXPECT_EQ(s.font.faceName, "Calibri");
    EXPECT_EQ(s.fontSize, 11);
    EXPECT_EQ(s.font.height, -14);
    EXPECT_EQ(s.valueCollectorStackLimit, 5000u);
    // Not touched by any option.
    EXPECT_EQ(s.beginUtc, before.beginUtc);
    EXPECT_EQ(s.listColors, before.listColors);
    EXPECT_EQ(s.font.weight, before.font.weight);
}

TEST(CoreSettings, StartOptionsSurviveTheNextSave) {
    TempDir dir;
    const Config config(dir.path());
    CoreSettings s = LoadCoreSettings(config, 1000, 96);
    s.godMode = true;
    ASSERT_TRUE(SaveCoreSettings(config, s));

    s = LoadCoreSettings(config, 2000, 96);
    ASSERT_TRUE(s.godMode);
    ApplyStartOptions(ParseCommandLine("-gm off -fontsize 16"), 96, s);
    ASSERT_TRUE(SaveCoreSettings(config, s));

    s = LoadCoreSettings(config, 3000, 96);
    EXPECT_FALSE(s.godMode);
    EXPECT_EQ(s.fontSize, 16);
    EXPECT_EQ(s.font.height, -21);
    EXPECT_EQ(s.beginUtc, 1000u);  // the first start's epoch stays
}

}  // namespace
}  // namespace qm::core
