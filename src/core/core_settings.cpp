#include "core/core_settings.h"

#include "core/command_line.h"
#include "platform/utf16.h"

namespace qm::core {

namespace {
constexpr size_t kFaceUnits = 32;

void PutI32(uint8_t* out, int32_t v) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(uint32_t(v) >> (8 * i));
}
int32_t GetI32(const uint8_t* in) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(in[i]) << (8 * i);
    return static_cast<int32_t>(v);
}
}  // namespace

void BlobCodec<FontDescription>::Encode(const FontDescription& f, uint8_t* out) {
    PutI32(out + 0, f.height);
    PutI32(out + 4, f.width);
    PutI32(out + 8, f.escapement);
    PutI32(out + 12, f.orientation);
    PutI32(out + 16, f.weight);
    const uint8_t bytes[8] = {f.italic, f.underline, f.strikeOut, f.charSet, f.outPrecision, f.clipPrecision, f.quality, f.pitchAndFamily};
    std::memcpy(out + 20, bytes, 8);
    std::memset(out + 28, 0, kFaceUnits * 2);
    const std::string face = platform::Utf8ToUtf16LEBytes(platform::TruncateUtf16(f.faceName, kFaceUnits - 1));
    std::memcpy(out + 28, face.data(), face.size());
}

void BlobCodec<FontDescription>::Decode(const uint8_t* in, FontDescription& f) {
    f.height = GetI32(in + 0);
    f.width = GetI32(in + 4);
    f.escapement = GetI32(in + 8);
    f.orientation = GetI32(in + 12);
    f.weight = GetI32(in + 16);
    f.italic = in[20];
    f.underline = in[21];
    f.strikeOut = in[22];
    f.charSet = in[23];
    f.outPrecision = in[24];
    f.clipPrecision = in[25];
    f.quality = in[26];
    f.pitchAndFamily = in[27];
    size_t units = 0;
    while (units < kFaceUnits - 1 && (in[28 + 2 * units] | in[29 + 2 * units]) != 0) ++units;
    f.faceName = platform::Utf16LEBytesToUtf8(std::string_view(reinterpret_cast<const char*>(in + 28), units * 2));
}

int32_t FontHeightForPoints(int32_t points, int32_t dotsPerInch) {
    // Multiply first, then divide, as the stored heights always were.
    return -static_cast<int32_t>(int64_t(points) * dotsPerInch / 72);
}

const FieldTable<CoreSettings>& CoreSettings::Fields() {
    // Offsets are those of the 160-byte record older versions kept under the one key `Core`.
    static const FieldTable<CoreSettings> table = [] {
        FieldTable<CoreSettings> t;
        t.Struct<&CoreSettings::godMode>("GodMode", 0)
            .StructAt<&CoreSettings::listColors, 0>("ListColor.0", 108)
            .StructAt<&CoreSettings::listColors, 1>("ListColor.1", 112)
            .StructAt<&CoreSettings::listColors, 2>("ListColor.2", 116)
            .StructAt<&CoreSettings::listColors, 3>("ListColor.3", 120)
            .StructAt<&CoreSettings::listColors, 4>("ListColor.4", 124)
            .StructAt<&CoreSettings::listColors, 5>("ListColor.5", 128)
            .Struct<&CoreSettings::mainBgColor>("MainBgColor", 132)
            .Struct<&CoreSettings::mainTextColor>("MainTextColor", 136)
            .Struct<&CoreSettings::fontSize>("ZoomIndex", 104)
            .Struct<&CoreSettings::font>("FontParam", 8)
            .Struct<&CoreSettings::beginUtc>("BeginUTC", 144)
            .Struct<&CoreSettings::param>("Param", 152)
            .Struct<&CoreSettings::valueCollectorStackLimit>("ValueCollectorStackLimit", 156)
            .Text<&CoreSettings::locale>("StrLocale", 3, 2)
            .Text<&CoreSettings::fallbackCharset>("StrFallbackCharset", 32);
        return t;
    }();
    return table;
}

CoreSettings CoreSettings::Defaults(uint64_t nowUtc, int32_t dotsPerInch) {
    CoreSettings s;
    s.font.height = FontHeightForPoints(12, dotsPerInch);
    s.beginUtc = nowUtc;
    return s;
}

CoreSettings LoadCoreSettings(const Config& config, uint64_t nowUtc, int32_t dotsPerInch, int* readError) {
    CoreSettings s = CoreSettings::Defaults(nowUtc, dotsPerInch);
    const SettingsSection section = config.Open(kCoreSettingsFile, kCoreSettingsSection);
    if (readError) *readError = section.ReadError();
    if (section.IsCurrentForm()) {
        const std::string fallbackLocale = s.locale;
        LoadRecord(section.File(), kCoreSettingsSection, "", CoreSettings::Fields(), s);
        // An empty locale would leave the program without a language section.
        if (platform::Utf16Length(s.locale) != 2) s.locale = fallbackLocale;
    } else if (auto legacy = section.File().ReadStruct(kCoreSettingsSection, "Core", kCoreLegacySize)) {
        const std::string fallbackLocale = s.locale;
        DecodeLegacyRecord(*legacy, CoreSettings::Fields(), s);
        if (platform::Utf16Length(s.locale) != 2) s.locale = fallbackLocale;
    }
    return s;
}

bool SaveCoreSettings(const Config& config, const CoreSettings& settings) {
    SettingsSection section = config.BeginSave(kCoreSettingsFile, kCoreSettingsSection);
    SaveRecord(section.File(), kCoreSettingsSection, "", CoreSettings::Fields(), settings);
    return section.Commit();
}

void ApplyStartOptions(const StartOptions& o, int32_t dotsPerInch, CoreSettings& s) {
    if (o.godMode == GodModeOverride::On) s.godMode = true;
    if (o.godMode == GodModeOverride::Off) s.godMode = false;
    if (platform::Utf16Length(o.locale) == 2) s.locale = o.locale;
    if (o.fontSize != 0) {
        s.fontSize = o.fontSize;
        s.font.height = FontHeightForPoints(o.fontSize, dotsPerInch);
    }
    if (!o.fontFace.empty()) s.font.faceName = o.fontFace;
    if (o.valueBufferSize) s.valueCollectorStackLimit = *o.valueBufferSize;
}

}  // namespace qm::core
