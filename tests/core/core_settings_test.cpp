#include "core/core_settings.h"

#include <gtest/gtest.h>

#include <array>
#include <tuple>

#include "core/command_line.h"
#include "core/config.h"
#include "platform/profile_file.h"
#include "platform/utf16.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace qm::core {
namespace {

namespace fs = std::filesystem;
using qm::testing::TempDir;

// CoreSettings has no operator==; grouped so a failure still points near the field.
void ExpectSame(const CoreSettings& a, const CoreSettings& b) {
    EXPECT_EQ(std::tie(a.godMode, a.locale, a.fontSize, a.param), std::tie(b.godMode, b.locale, b.fontSize, b.param));
    EXPECT_EQ(a.font, b.font);
    EXPECT_EQ(a.listColors, b.listColors);
    EXPECT_EQ(std::tie(a.mainBgColor, a.mainTextColor, a.beginUtc, a.valueCollectorStackLimit),
              std::tie(b.mainBgColor, b.mainTextColor, b.beginUtc, b.valueCollectorStackLimit));
    EXPECT_EQ(a.fallbackCharset, b.fallbackCharset);
}

// Every field away from its default.
const CoreSettings kUnusual{true, "ЕН", {-27, -70000, -900, 450, 700, 1, 1, 1, 204, 3, 2, 5, 0x31, "Шрифт Mono"}, 20,
                            {0x010203, 0x040506, 0x070809, 0x0A0B0C, 0x0D0E0F, 0xFFFFFFFF}, 0x123456, 0xABCDEF,
                            0x0123456789ABCDEFull, 0xA5, 123456789, "KOI8-R"};

// Older versions stored one 160-byte record under the key `Core`; this is
// kLegacy in that layout, written out by hand.
const CoreSettings kLegacy{true, "EN", {-19, 2, -3, 4, 700, 1, 5, 6, 204, 7, 8, 9, 0x22, "Times New Roman"}, 14,
                           {0x100000, 0x100001, 0x100002, 0x100003, 0x100004, 0x100005}, 0x202020, 0xE0E0E0,
                           1500000000, 7, 9000};

std::vector<uint8_t> LegacyBytes() {
    std::vector<uint8_t> b(kCoreLegacySize, 0);
    auto put = [&](size_t at, uint64_t v, size_t n) {
        for (size_t i = 0; i < n; ++i) b.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
    };
    auto text = [&](size_t at, const std::string& utf8) {
        const std::string u = platform::Utf8ToUtf16LEBytes(utf8);
        std::copy(u.begin(), u.end(), b.begin() + at);
    };
    put(0, 1, 1), text(2, "EN");
    put(8, uint32_t(-19), 4), put(12, 2, 4), put(16, uint32_t(-3), 4), put(20, 4, 4), put(24, 700, 4);
    for (size_t i = 0; i < 8; ++i) put(28 + i, std::array<uint8_t, 8>{1, 5, 6, 204, 7, 8, 9, 0x22}[i], 1);
    text(36, "Times New Roman");
    put(104, 14, 4);
    for (size_t i = 0; i < 6; ++i) put(108 + 4 * i, 0x100000 + i, 4);
    put(132, 0x202020, 4), put(136, 0xE0E0E0, 4), put(144, 1500000000, 8), put(152, 7, 1), put(156, 9000, 4);
    return b;
}

// Writes Core.ini with the given text keys and, if given, a legacy record.
void WriteCore(const Config& config, std::initializer_list<std::pair<const char*, std::string>> keys,
               const std::vector<uint8_t>& legacy = {}) {
    platform::ProfileFile file;
    for (const auto& [key, value] : keys) file.WriteString("main", key, value);
    if (!legacy.empty()) file.WriteStruct("main", "Core", legacy);
    ASSERT_TRUE(file.Save(config.FileFor(kCoreSettingsFile)));
}

TEST(CoreSettings, DefaultsOfAFirstStartAndWithoutAFile) {
    // The epoch is now and the font height follows the screen.
    CoreSettings want;
    want.beginUtc = 1700000000;
    want.font.height = -24;  // 12 points at 144 dpi
    ExpectSame(CoreSettings::Defaults(1700000000, 144), want);

    // Multiplied before dividing, then truncated.
    EXPECT_EQ(std::tuple(FontHeightForPoints(11, 96), FontHeightForPoints(10, 120), FontHeightForPoints(0, 96)),
              std::tuple(-14, -16, 0));

    TempDir dir;
    ExpectSame(LoadCoreSettings(Config(dir.path()), 42, 96), CoreSettings::Defaults(42, 96));
    ExpectSame(LoadCoreSettings(Config(fs::path()), 43, 120), CoreSettings::Defaults(43, 120));
}

TEST(CoreSettings, SaveThenLoadKeepsEveryFieldInTheCurrentForm) {
    TempDir dir;
    const Config config(dir.path());
    ASSERT_TRUE(SaveCoreSettings(config, kUnusual));
    ExpectSame(LoadCoreSettings(config, 99, 96), kUnusual);

    const platform::ProfileFile file = platform::ProfileFile::Load(dir.path() / "Core.ini");
    EXPECT_EQ(file.Sections(), std::vector<std::string>{"main"});
    EXPECT_EQ(std::tuple(file.Get("main", "Version"), file.Get("main", "GodMode")), std::tuple("2", "0101"));
    EXPECT_FALSE(file.Get("main", "Core").has_value());

    // Saving again replaces the keys rather than adding to them.
    CoreSettings changed = kUnusual;
    changed.godMode = false, changed.fontSize = 9;
    ASSERT_TRUE(SaveCoreSettings(config, changed));
    ExpectSame(LoadCoreSettings(config, 99, 96), changed);
    const std::string text = qm::testing::ReadWholeFile(dir.path() / "Core.ini");
    EXPECT_EQ(text.find("GodMode"), text.rfind("GodMode"));
}

TEST(CoreSettings, BadGodModeOrLocaleIsIgnoredWhileOtherKeysLoad) {
    TempDir dir;
    const Config config(dir.path());
    for (const char* god : {"0102", "0100", "01", "010101", "zz01"}) {
        WriteCore(config, {{"Version", "2"}, {"GodMode", god}, {"ZoomIndex", "1100000011"}, {"StrLocale", "DE"}});
        const CoreSettings s = LoadCoreSettings(config, 1, 96);
        EXPECT_EQ(std::tuple(s.godMode, s.fontSize, s.locale), std::tuple(false, 17, "DE")) << god;
    }
    WriteCore(config, {{"Version", "2"}, {"GodMode", "0101"}});
    EXPECT_TRUE(LoadCoreSettings(config, 1, 96).godMode);

    // A locale needs two characters; longer keeps its first two.
    const std::pair<const char*, const char*> locales[] = {{"", "RU"}, {"E", "RU"}, {"ENG", "EN"}};
    for (const auto& [stored, loaded] : locales) {
        WriteCore(config, {{"Version", "2"}, {"StrLocale", stored}});
        EXPECT_EQ(LoadCoreSettings(config, 1, 96).locale, loaded) << stored;
    }
}

TEST(CoreSettings, LegacyRecordIsReadAndTheNextSaveConvertsIt) {
    for (bool withVersion : {true, false}) {
        SCOPED_TRACE(withVersion ? "Version=1" : "no Version");
        TempDir dir;
        const Config config(dir.path());
        // Keys of the current form are not read from a legacy file.
        const std::pair<const char*, std::string> stray{"ValueCollectorStackLimit", "0100000001"};
        WriteCore(config, {withVersion ? std::pair<const char*, std::string>{"Version", "1"} : stray, stray}, LegacyBytes());

        const CoreSettings loaded = LoadCoreSettings(config, 5, 96);
        ExpectSame(loaded, kLegacy);
        ASSERT_TRUE(SaveCoreSettings(config, loaded));
        const platform::ProfileFile saved = platform::ProfileFile::Load(config.FileFor(kCoreSettingsFile));
        EXPECT_EQ(std::tuple(saved.Get("main", "Version"), saved.Get("main", "Core")), std::tuple("2", std::nullopt));
        ExpectSame(LoadCoreSettings(config, 6, 96), kLegacy);
    }

    TempDir dir;
    const Config config(dir.path());
    for (size_t size : {kCoreLegacySize - 1, kCoreLegacySize + 1, size_t(92)}) {
        std::vector<uint8_t> bytes = LegacyBytes();
        bytes.resize(size, 0);
        WriteCore(config, {{"Version", "1"}}, bytes);
        SCOPED_TRACE(size);
        ExpectSame(LoadCoreSettings(config, 77, 96), CoreSettings::Defaults(77, 96));
    }

    // A legacy locale without two characters falls back to the default.
    std::vector<uint8_t> noLocale = LegacyBytes();
    noLocale[4] = 0;  // "E"
    WriteCore(config, {}, noLocale);
    CoreSettings expected = kLegacy;
    expected.locale = "RU";
    ExpectSame(LoadCoreSettings(config, 5, 96), expected);
}

TEST(CoreSettings, StartOptionsApplyOverStoredSettings) {
    CoreSettings s = kUnusual;
    ApplyStartOptions(ParseCommandLine("-gm maybe -locale e -fontsize x"), 96, s);
    ExpectSame(s, kUnusual);

    ApplyStartOptions(ParseCommandLine("-fontsize 14"), 120, s);
    EXPECT_EQ(std::tie(s.fontSize, s.font.height, s.font.faceName), std::tuple(14, -23, kUnusual.font.faceName));
    ApplyStartOptions(ParseCommandLine("-gm off -locale fr -fontface Arial -vc_buffer 800"), 96, s);
    EXPECT_EQ(std::tie(s.godMode, s.locale, s.font.faceName, s.valueCollectorStackLimit, s.fontSize),
              std::tuple(false, "fr", "Arial", 800u, 14));

    ApplyStartOptions(ParseCommandLine("-vc_buffer 0"), 96, s);
    EXPECT_EQ(s.valueCollectorStackLimit, 0u) << "0 switches the value collector off";
    ApplyStartOptions(ParseCommandLine("-vc_buffer"), 96, s);
    EXPECT_EQ(s.valueCollectorStackLimit, 0u);

    ApplyStartOptions(ParseCommandLine("-gm on"), 96, s);
    EXPECT_TRUE(s.godMode);
    // -def touches only what the options set: the epoch and colours stay.
    CoreSettings want = s;
    want.godMode = false, want.locale = "RU", want.font.faceName = "Calibri";
    want.fontSize = 11, want.font.height = -14, want.valueCollectorStackLimit = 5000;
    ApplyStartOptions(ParseCommandLine("-def"), 96, s);
    ExpectSame(s, want);
}

}  // namespace
}  // namespace qm::core
