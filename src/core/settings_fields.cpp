#include "core/settings_fields.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "core/record_table.h"
#include "core/string_ids.h"

#include "platform/profile_file.h"
#include "platform/utf16.h"

namespace qm::core {

namespace {

uint64_t NumberOf(const FieldDef& f, const void* record) {
    uint8_t bytes[8] = {};
    f.encode(record, bytes);
    uint64_t v = 0;
    for (size_t i = 0; i < f.size; ++i) v |= uint64_t(bytes[i]) << (8 * i);
    return v;
}

void SetNumber(const FieldDef& f, uint64_t v, void* record) {
    uint8_t bytes[8] = {};
    for (size_t i = 0; i < f.size; ++i) bytes[i] = static_cast<uint8_t>(v >> (8 * i));
    f.decode(record, bytes);
}

bool IsNumber(const FieldDef& f) { return f.encoding == FieldEncoding::Struct && f.size <= 8; }

bool InRange(const FieldDef& f, uint64_t v) {
    if (!f.range) return true;
    if (f.isSigned) {
        const int64_t n = static_cast<int64_t>(v);
        return n >= static_cast<int64_t>(f.range->first) && n <= static_cast<int64_t>(f.range->second);
    }
    return v >= f.range->first && v <= f.range->second;
}

// The value a ranged number takes instead of one outside its range; nothing
// when it is inside.
std::optional<uint64_t> OutOfRange(const FieldDef& f, const void* record) {
    if (!f.range || !IsNumber(f)) return std::nullopt;
    const uint64_t v = f.isSigned ? static_cast<uint64_t>(FieldNumber(f, record)) : NumberOf(f, record);
    if (InRange(f, v)) return std::nullopt;
    if (f.fallback) return *f.fallback;
    const bool below = f.isSigned ? static_cast<int64_t>(v) < static_cast<int64_t>(f.range->first) : v < f.range->first;
    return below ? f.range->first : f.range->second;
}

std::string TextLimit(const FieldDef& f, std::string_view text) {
    return platform::TruncateUtf16(text, f.size ? f.size - 1 : 0);
}

// Values read from a file go through the same rules as any other, and
// whoever wrote the file hears which value is used instead.
void FitReadValue(const FieldDef& f, std::string_view section, std::string_view key, void* record) {
    for (const FieldFix& fix : ApplyFieldRules(std::span<const FieldDef>(&f, 1), record)) {
        std::fprintf(stderr, "settings [%.*s] %.*s: \"%s\" cannot be used, \"%s\" used instead\n", int(section.size()),
                     section.data(), int(key.size()), key.data(), fix.was.c_str(), FieldToText(f, record).c_str());
    }
}

}  // namespace

int64_t FieldNumber(const FieldDef& f, const void* record) {
    if (f.encoding != FieldEncoding::Struct || f.size > 8) return 0;
    uint8_t bytes[8] = {};
    f.encode(record, bytes);
    uint64_t v = 0;
    for (size_t i = 0; i < f.size; ++i) v |= uint64_t(bytes[i]) << (8 * i);
    if (f.isSigned && f.size < 8 && (bytes[f.size - 1] & 0x80)) v |= ~uint64_t(0) << (8 * f.size);
    return static_cast<int64_t>(v);
}

void SetFieldNumber(const FieldDef& f, int64_t value, void* record) {
    if (f.encoding != FieldEncoding::Struct || f.size > 8) return;
    uint8_t bytes[8] = {};
    const uint64_t v = static_cast<uint64_t>(value);
    for (size_t i = 0; i < f.size; ++i) bytes[i] = static_cast<uint8_t>(v >> (8 * i));
    f.decode(record, bytes);
}

size_t LoadFields(const platform::ProfileFile& file, std::string_view section, std::string_view prefix,
                  std::span<const FieldDef> fields, void* record) {
    std::string key;
    size_t present = 0;
    for (const FieldDef& f : fields) {
        key.assign(prefix).append(f.key);
        const bool inFile = file.Get(section, key).has_value();
        present += inFile ? 1 : 0;
        if (f.encoding == FieldEncoding::Struct) {
            if (auto bytes = file.ReadStruct(section, key, f.size)) {
                f.decode(record, bytes->data());
            } else {
                if (inFile) {
                    // Present but unreadable (hand-edited, cut short): the default
                    // stands, and whoever edited it should hear why.
                    std::fprintf(stderr, "settings [%.*s] %s: value ignored (wrong length or checksum), default kept\n",
                                 int(section.size()), section.data(), key.c_str());
                }
                if (f.whenMissing && IsNumber(f)) SetNumber(f, *f.whenMissing, record);
            }
            FitReadValue(f, section, key, record);
        } else {
            // A missing key reads as an empty text, as the profile functions do.
            *f.text(record) = file.ReadString(section, key, f.size);
            FitReadValue(f, section, key, record);
        }
    }
    return present;
}

void SaveFields(platform::ProfileFile& file, std::string_view section, std::string_view prefix,
                std::span<const FieldDef> fields, const void* record) {
    std::string key;
    std::vector<uint8_t> bytes;
    for (const FieldDef& f : fields) {
        key.assign(prefix).append(f.key);
        if (f.encoding == FieldEncoding::Struct) {
            bytes.assign(f.size, 0);
            f.encode(record, bytes.data());
            file.WriteStruct(section, key, bytes);
        } else {
            // Never more than the field holds, and never half a character.
            const std::string value = platform::TruncateUtf16(*f.text(const_cast<void*>(record)), f.size ? f.size - 1 : 0);
            file.WriteString(section, key, value);
        }
    }
}

void DecodeLegacy(std::span<const uint8_t> bytes, std::span<const FieldDef> fields, void* record) {
    for (const FieldDef& f : fields) {
        if (f.legacyOffset == kNoLegacy) continue;
        const size_t width = f.encoding == FieldEncoding::Struct ? f.size : f.size * 2;
        if (f.legacyOffset > bytes.size() || width > bytes.size() - f.legacyOffset) continue;
        const uint8_t* at = bytes.data() + f.legacyOffset;
        if (f.encoding == FieldEncoding::Struct) {
            f.decode(record, at);
            FitReadValue(f, "legacy record", f.key, record);
        } else {
            size_t units = 0;
            while (units < f.size && (at[2 * units] | at[2 * units + 1]) != 0) ++units;
            if (units == f.size && units > 0) --units;  // no terminator: keep what a terminated copy would
            *f.text(record) = platform::Utf16LEBytesToUtf8(
                std::string_view(reinterpret_cast<const char*>(at), units * 2));
            FitReadValue(f, "legacy record", f.key, record);
        }
    }
}

size_t ReadRecordCount(const platform::ProfileFile& file, std::string_view section, std::string_view key) {
    const auto bytes = file.ReadStruct(section, key, 4);
    if (!bytes) return 0;
    const uint32_t count = uint32_t((*bytes)[0]) | uint32_t((*bytes)[1]) << 8 | uint32_t((*bytes)[2]) << 16 |
                           uint32_t((*bytes)[3]) << 24;
    return std::min<size_t>(count, kMaxRecords);
}

size_t ReadLegacyCount(const platform::ProfileFile& file, std::string_view section, std::string_view key) {
    const int count = file.ReadInt(section, key, 0);
    return count <= 0 ? 0 : std::min<size_t>(size_t(count), kMaxRecords);
}

void WriteRecordCount(platform::ProfileFile& file, std::string_view section, std::string_view key, size_t count) {
    const uint32_t n = static_cast<uint32_t>(count);
    const uint8_t bytes[4] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
    file.WriteStruct(section, key, bytes);
}

void ReportAbsentRecord(std::string_view section, std::string_view prefix, size_t count) {
    std::fprintf(stderr, "settings [%.*s] %.*s: no such record although the count is %zu; skipped\n", int(section.size()),
                 section.data(), int(prefix.size()), prefix.data(), count);
}

std::string FieldToText(const FieldDef& f, const void* record) {
    if (f.encoding == FieldEncoding::String) return *f.text(const_cast<void*>(record));
    std::vector<uint8_t> bytes(f.size, 0);
    f.encode(record, bytes.data());
    if (f.size <= 8) {
        uint64_t v = 0;
        for (size_t i = 0; i < f.size; ++i) v |= uint64_t(bytes[i]) << (8 * i);
        if (!f.isSigned) return std::to_string(v);
        if (f.size < 8 && (bytes[f.size - 1] & 0x80)) v |= ~uint64_t(0) << (8 * f.size);
        return std::to_string(static_cast<int64_t>(v));
    }
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

bool FieldFromText(const FieldDef& f, std::string_view text, void* record) {
    if (f.encoding == FieldEncoding::String) {
        std::string value = TextLimit(f, text);
        if (f.valid && !f.valid(value)) return false;
        *f.text(record) = std::move(value);
        return true;
    }
    std::vector<uint8_t> bytes(f.size, 0);
    if (f.size <= 8) {
        bool negative = !text.empty() && text.front() == '-';
        if (negative) text.remove_prefix(1);
        uint64_t v = 0;
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
        if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return false;
        // A value the field cannot hold is refused rather than wrapped.
        const unsigned bits = unsigned(f.size) * 8;
        if (f.isSigned) {
            const uint64_t limit = uint64_t(1) << (bits - 1);  // |min|; max is limit - 1
            if (negative ? v > limit : v >= limit) return false;
        } else {
            if (negative && v != 0) return false;
            if (bits < 64 && v >> bits) return false;
        }
        if (negative) v = uint64_t(0) - v;
        if (!InRange(f, v)) return false;
        for (size_t i = 0; i < f.size; ++i) bytes[i] = static_cast<uint8_t>(v >> (8 * i));
    } else {
        if (text.size() != f.size * 2) return false;
        for (size_t i = 0; i < f.size; ++i) {
            unsigned v = 0;
            auto [end, ec] = std::from_chars(text.data() + 2 * i, text.data() + 2 * i + 2, v, 16);
            if (ec != std::errc() || end != text.data() + 2 * i + 2) return false;
            bytes[i] = static_cast<uint8_t>(v);
        }
    }
    f.decode(record, bytes.data());
    return true;
}

std::vector<FieldFix> ApplyFieldRules(std::span<const FieldDef> fields, void* record) {
    std::vector<FieldFix> fixes;
    for (const FieldDef& f : fields) {
        if (f.encoding == FieldEncoding::Struct) {
            if (const std::optional<uint64_t> fitted = OutOfRange(f, record)) {
                fixes.push_back({&f, FieldToText(f, record)});
                SetNumber(f, *fitted, record);
            }
            continue;
        }
        std::string& text = *f.text(record);
        std::string fitted = TextLimit(f, text);
        if (f.valid && !f.valid(fitted)) fitted = f.textFallback;
        if (fitted != text) {
            fixes.push_back({&f, text});
            text = std::move(fitted);
        }
    }
    return fixes;
}

std::vector<FieldName> EventTypeNames(uint64_t types) {
    std::vector<FieldName> names;
    constexpr std::pair<uint64_t, uint32_t> kTypes[] = {{0x40, str::kEventTypeSystem},
                                                        {0x20, str::kEventTypeExternal},
                                                        {0x10, str::kEventTypeInternal},
                                                        {0x08, str::kEventTypeArchive}};
    for (const auto& [bit, text] : kTypes)
        if (types & bit) names.push_back({bit, text, {}, 0});
    return names;
}

}  // namespace qm::core
