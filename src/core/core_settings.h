#pragma once
// Program-wide settings: Settings/Core.ini, section `main`.
#include <array>
#include <cstdint>
#include <string>

#include "core/config.h"
#include "core/settings_fields.h"
#include "platform/codepage.h"

namespace qm::core {

struct StartOptions;

// The stored font description (92 bytes in its stored form).
struct FontDescription {
    int32_t height = -16;
    int32_t width = 0;
    int32_t escapement = 0;
    int32_t orientation = 0;
    int32_t weight = 0;
    uint8_t italic = 0;
    uint8_t underline = 0;
    uint8_t strikeOut = 0;
    uint8_t charSet = 1;
    uint8_t outPrecision = 0;
    uint8_t clipPrecision = 0;
    uint8_t quality = 0;
    uint8_t pitchAndFamily = 0x20;
    std::string faceName = "Calibri";  // at most 31 characters

    bool operator==(const FontDescription&) const = default;
};

template <>
struct BlobCodec<FontDescription> {
    static constexpr size_t kSize = 92;
    static void Encode(const FontDescription& f, uint8_t* out);
    static void Decode(const uint8_t* in, FontDescription& f);
};

// Points to the stored (negative) font height at the screen's resolution.
int32_t FontHeightForPoints(int32_t points, int32_t dotsPerInch);

struct CoreSettings {
    bool godMode = false;
    std::string locale = "RU";  // two characters
    FontDescription font;
    int32_t fontSize = 12;      // `ZoomIndex`
    std::array<uint32_t, 6> listColors{0xFFFFFF, 0x000000, 0xFF5050, 0xFFFFFF, 0xC8C8C8, 0x000000};
    uint32_t mainBgColor = 0x000000;
    uint32_t mainTextColor = 0xFFFFFF;
    uint64_t beginUtc = 0;
    uint8_t param = 0;
    uint32_t valueCollectorStackLimit = 5000;
    // Single-byte charset for received text that the ANSI charset cannot
    // decode exactly (in a UTF-8 locale: text that is not UTF-8).
    std::string fallbackCharset = platform::kDefaultFallbackCharset;

    // Defaults of a first start: the epoch is now.
    static CoreSettings Defaults(uint64_t nowUtc, int32_t dotsPerInch);
    static const FieldTable<CoreSettings>& Fields();
};

constexpr const char* kCoreSettingsFile = "Core";
constexpr const char* kCoreSettingsSection = "main";
constexpr size_t kCoreLegacySize = 160;

// `readError`, when given, receives the errno of a Core.ini that exists but
// could not be read (0 otherwise).
CoreSettings LoadCoreSettings(const Config& config, uint64_t nowUtc, int32_t dotsPerInch, int* readError = nullptr);
bool SaveCoreSettings(const Config& config, const CoreSettings& settings);
void ApplyStartOptions(const StartOptions& options, int32_t dotsPerInch, CoreSettings& settings);

}  // namespace qm::core
