#pragma once
// A settings record is described once, as a table of its fields. The table
// drives loading the current form (one key per field), saving, decoding the
// legacy form (the whole record as one struct-form key) and, for the script
// language, reading and setting a field by name.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace qm::platform {
class ProfileFile;
}

namespace qm::core {

constexpr size_t kNoLegacy = SIZE_MAX;

enum class FieldEncoding : uint8_t { Struct, String };

// What a field holds, for whoever edits it: the dialog picks its control by
// this, the script's echo its form.
enum class FieldKind : uint8_t {
    Number,
    Flag,     // on or off
    Bits,     // option bits (Param, EventParam)
    Port,     // a port number (in a wider field, its low 16 bits)
    Address,  // a host name or address as text
    Colour,   // 0x00BBGGRR
    Text,
    Blob,     // a fixed record of bytes (font, colour arrays, status parts)
    Choice,   // one of the field's named values (a window's type, a sort order)
    Rect,     // left, top, right, bottom as four signed 32-bit numbers
    Milliseconds,  // a time in milliseconds
    Minutes,       // a time in minutes
};

// A named value of a field: one of its option bits, one of its choices or,
// in a run of colours, which colour the value's index is. The text is a
// string id; `text` stands in where there is no id, and with both the id is
// a format taking `text` and `argId`'s number. With only `argId`, the id is
// a format taking that string's text ("Status: <%s>" with a severity name).
struct FieldName {
    uint64_t value = 0;
    uint32_t textId = 0;
    std::string text;
    uint32_t argId = 0;
};

// Texts a module can only use in some forms (formats with their arguments,
// plain file names) say which through a check like this one.
using TextCheck = bool (*)(std::string_view);

// Fixed-size binary values (records stored whole, like a font description)
// give their byte form through these two functions.
template <typename T>
struct BlobCodec;  // static void Encode(const T&, uint8_t* out); static void Decode(const uint8_t* in, T&); static constexpr size_t kSize;

// Blobs that are a fixed run of little-endian 32-bit values (colour arrays,
// column widths, status part percentages): a BlobCodec of such a type
// derives from this.
template <size_t N>
struct U32ArrayCodec {
    static constexpr size_t kSize = 4 * N;
    static void Encode(const std::array<uint32_t, N>& values, uint8_t* out) {
        for (size_t i = 0; i < N; ++i)
            for (size_t b = 0; b < 4; ++b) out[4 * i + b] = static_cast<uint8_t>(values[i] >> (8 * b));
    }
    static void Decode(const uint8_t* in, std::array<uint32_t, N>& values) {
        for (size_t i = 0; i < N; ++i) {
            values[i] = 0;
            for (size_t b = 0; b < 4; ++b) values[i] |= uint32_t{in[4 * i + b]} << (8 * b);
        }
    }
};

struct FieldDef {
    std::string key;          // field name, appended to the record's key prefix
    FieldEncoding encoding = FieldEncoding::Struct;
    size_t size = 0;          // Struct: bytes; String: capacity in UTF-16 units with terminator
    size_t legacyOffset = kNoLegacy;  // byte offset in the legacy record, or kNoLegacy
    // Access to the field inside a record, type-erased so one table type serves every record.
    void (*encode)(const void* record, uint8_t* out) = nullptr;  // Struct
    void (*decode)(void* record, const uint8_t* in) = nullptr;   // Struct
    std::string* (*text)(void* record) = nullptr;                // String
    bool isSigned = false;    // Struct numbers: shown with their sign
    // Struct numbers: what a key that is missing or unreadable in the current
    // form reads as, where the record's own default would be wrong for a
    // stored record (a record's `Enable`: what the file does not switch on
    // stays off).
    std::optional<uint64_t> whenMissing;
    // Struct numbers: the values the program can use (as signed numbers for
    // signed fields). A value read from a file or handed to a module is
    // brought to the nearer bound, or to `fallback` when the field has one;
    // one given as text is refused.
    std::optional<std::pair<uint64_t, uint64_t>> range;
    std::optional<uint64_t> fallback;
    FieldKind kind = FieldKind::Number;
    uint32_t label = 0;  // string id of the field's label; 0: the key is its label
    // Texts: the forms the module can use; any other becomes `textFallback`.
    TextCheck valid = nullptr;
    std::string textFallback;
    // Bits and Choice: the named bits or values, in the order a form shows
    // them; Colour runs: what each colour is for. Bits not named here keep
    // their value wherever the field is edited by name.
    std::vector<FieldName> names;
};

template <typename R>
class FieldTable {
public:
    std::vector<FieldDef> fields;

    // Numbers (bool, integers of any width, little-endian in their stored form).
    template <auto Member>
    FieldTable& Struct(std::string key, size_t legacyOffset = kNoLegacy) {
        using T = std::remove_cvref_t<decltype(std::declval<R&>().*Member)>;
        FieldDef& f = Add(std::move(key), FieldEncoding::Struct, ByteSize<T>(), legacyOffset, KindOf<T>());
        f.encode = [](const void* r, uint8_t* out) { EncodeValue(static_cast<const R*>(r)->*Member, out); };
        f.decode = [](void* r, const uint8_t* in) { DecodeValue(static_cast<R*>(r)->*Member, in); };
        f.isSigned = std::is_signed_v<T>;
        return *this;
    }
    // One element of an array member, with its own key ("ListColor.3").
    template <auto Member, size_t Index>
    FieldTable& StructAt(std::string key, size_t legacyOffset = kNoLegacy) {
        using A = std::remove_cvref_t<decltype(std::declval<R&>().*Member)>;
        using T = std::remove_cvref_t<decltype(std::declval<A&>()[0])>;
        static_assert(Index < std::tuple_size_v<A>);
        FieldDef& f = Add(std::move(key), FieldEncoding::Struct, ByteSize<T>(), legacyOffset, KindOf<T>());
        f.encode = [](const void* r, uint8_t* out) { EncodeValue((static_cast<const R*>(r)->*Member)[Index], out); };
        f.decode = [](void* r, const uint8_t* in) { DecodeValue((static_cast<R*>(r)->*Member)[Index], in); };
        f.isSigned = std::is_signed_v<T>;
        return *this;
    }
    // Text: stored as a string key; in the legacy record a UTF-16 array of `capacity` units.
    template <auto Member>
    FieldTable& Text(std::string key, size_t capacity, size_t legacyOffset = kNoLegacy) {
        FieldDef& f = Add(std::move(key), FieldEncoding::String, capacity, legacyOffset, FieldKind::Text);
        f.text = [](void* r) -> std::string* { return &(static_cast<R*>(r)->*Member); };
        return *this;
    }

    // Modifiers of the field added last.
    FieldTable& WhenMissing(uint64_t value) {
        fields.back().whenMissing = value;
        return *this;
    }
    FieldTable& Range(uint64_t low, uint64_t high) {
        fields.back().range = std::make_pair(low, high);
        return *this;
    }
    // Signed fields give their bounds as signed numbers.
    FieldTable& SignedRange(int64_t low, int64_t high) {
        return Range(static_cast<uint64_t>(low), static_cast<uint64_t>(high));
    }
    // What a value outside the range becomes instead of the nearer bound.
    FieldTable& Fallback(uint64_t value) {
        fields.back().fallback = value;
        return *this;
    }
    FieldTable& Kind(FieldKind kind) {
        fields.back().kind = kind;
        return *this;
    }
    FieldTable& Label(uint32_t stringId) {
        fields.back().label = stringId;
        return *this;
    }
    // A named option bit; the field becomes a Bits field.
    FieldTable& Bit(uint64_t bit, uint32_t textId) {
        fields.back().kind = FieldKind::Bits;
        fields.back().names.push_back({bit, textId, {}, 0});
        return *this;
    }
    // A named value; the field becomes a Choice field.
    FieldTable& Choice(uint64_t value, uint32_t textId) {
        fields.back().kind = FieldKind::Choice;
        fields.back().names.push_back({value, textId, {}, 0});
        return *this;
    }
    // Names of every sort at once (shared sets such as the event types, or
    // the colours of a run by their index); the kind stays as it is.
    FieldTable& Names(std::vector<FieldName> names) {
        fields.back().names = std::move(names);
        return *this;
    }
    FieldTable& Valid(TextCheck check, std::string fallback) {
        fields.back().valid = check;
        fields.back().textFallback = std::move(fallback);
        return *this;
    }

    const FieldDef* Find(std::string_view key) const;

private:
    FieldDef& Add(std::string key, FieldEncoding encoding, size_t size, size_t legacyOffset, FieldKind kind) {
        FieldDef& f = fields.emplace_back();
        f.key = std::move(key);
        f.encoding = encoding;
        f.size = size;
        f.legacyOffset = legacyOffset;
        f.kind = kind;
        return f;
    }
    template <typename T>
    static constexpr FieldKind KindOf() {
        if constexpr (std::is_same_v<T, bool>) return FieldKind::Flag;
        else if constexpr (std::is_arithmetic_v<T>) return FieldKind::Number;
        else return FieldKind::Blob;
    }
    template <typename T>
    static constexpr size_t ByteSize() {
        if constexpr (std::is_arithmetic_v<T>) return sizeof(T);
        else return BlobCodec<T>::kSize;
    }
    template <typename T>
    static void EncodeValue(const T& v, uint8_t* out) {
        if constexpr (std::is_same_v<T, bool>) {
            out[0] = v ? 1 : 0;
        } else if constexpr (std::is_arithmetic_v<T>) {
            using U = std::make_unsigned_t<std::conditional_t<std::is_floating_point_v<T>, uint64_t, T>>;
            static_assert(!std::is_floating_point_v<T>, "settings hold no floating-point fields");
            U u = static_cast<U>(v);
            for (size_t i = 0; i < sizeof(T); ++i) out[i] = static_cast<uint8_t>(u >> (8 * i));
        } else {
            BlobCodec<T>::Encode(v, out);
        }
    }
    template <typename T>
    static void DecodeValue(T& v, const uint8_t* in) {
        if constexpr (std::is_same_v<T, bool>) {
            v = in[0] != 0;
        } else if constexpr (std::is_arithmetic_v<T>) {
            using U = std::make_unsigned_t<T>;
            U u = 0;
            for (size_t i = 0; i < sizeof(T); ++i) u |= static_cast<U>(U(in[i]) << (8 * i));
            v = static_cast<T>(u);
        } else {
            BlobCodec<T>::Decode(in, v);
        }
    }
};

// Keys, words and host names compare with ASCII case ignored.
inline bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

template <typename R>
const FieldDef* FieldTable<R>::Find(std::string_view key) const {
    for (const FieldDef& f : fields)
        if (SameIgnoringCase(f.key, key)) return &f;
    return nullptr;
}

// The event type bits (0x40 System, 0x20 External, 0x10 Internal, 0x08
// Archive) named by their labels: the type masks of the modules that take
// events share them. `types` picks the bits a mask can use.
std::vector<FieldName> EventTypeNames(uint64_t types = 0x78);

// Reads every field present under `prefix`; missing or corrupt keys leave the
// record's value (or the field's value when missing). Values outside a field's
// range are brought into it, with a line on stderr. Returns how many of the
// fields have a key in the file: 0 means the record is not in the file at all.
size_t LoadFields(const platform::ProfileFile& file, std::string_view section, std::string_view prefix,
                std::span<const FieldDef> fields, void* record);
// Writes every field under `prefix`.
void SaveFields(platform::ProfileFile& file, std::string_view section, std::string_view prefix,
                std::span<const FieldDef> fields, const void* record);
// Decodes the fields that have a legacy offset from a legacy record's bytes;
// a field that doesn't fit inside `bytes` keeps its value; ranges apply as above.
void DecodeLegacy(std::span<const uint8_t> bytes, std::span<const FieldDef> fields, void* record);

// Record counts (`ItemCount`, `ListCount` as 4-byte structs; the legacy
// `Count` as a plain integer), bounded by what a table may hold: a count in a
// file is data like any other.
size_t ReadRecordCount(const platform::ProfileFile& file, std::string_view section, std::string_view key);
size_t ReadLegacyCount(const platform::ProfileFile& file, std::string_view section, std::string_view key);
void WriteRecordCount(platform::ProfileFile& file, std::string_view section, std::string_view key, size_t count);
// Says on stderr that the record under `prefix` is missing although the count promised `count` records.
void ReportAbsentRecord(std::string_view section, std::string_view prefix, size_t count);

// A field's value as text and back, for the script language and the
// dialog: numbers in decimal, texts as they are, other records as hex bytes.
// A text that breaks a field's rules (range, form) is refused, the record
// unchanged; a text longer than the field is cut to it.
std::string FieldToText(const FieldDef& field, const void* record);
bool FieldFromText(const FieldDef& field, std::string_view text, void* record);

// A field's number as stored (the low `size` bytes), sign-extended for
// signed fields; and back, cut to the field's width.
int64_t FieldNumber(const FieldDef& field, const void* record);
void SetFieldNumber(const FieldDef& field, int64_t value, void* record);

// What one field's rules changed in a record: the field and the value it had.
struct FieldFix {
    const FieldDef* field;
    std::string was;
};
// The rules every way into a module applies the same (a file, a script, the
// dialog): numbers brought into their range (or to their fallback), texts cut
// to their capacity without splitting a character, texts in a form the module
// cannot use replaced by their fallback. Empty when the record kept every value.
std::vector<FieldFix> ApplyFieldRules(std::span<const FieldDef> fields, void* record);

template <typename R>
size_t LoadRecord(const platform::ProfileFile& file, std::string_view section, std::string_view prefix,
                  const FieldTable<R>& table, R& record) {
    return LoadFields(file, section, prefix, table.fields, &record);
}
template <typename R>
void SaveRecord(platform::ProfileFile& file, std::string_view section, std::string_view prefix,
                const FieldTable<R>& table, const R& record) {
    SaveFields(file, section, prefix, table.fields, &record);
}
template <typename R>
void DecodeLegacyRecord(std::span<const uint8_t> bytes, const FieldTable<R>& table, R& record) {
    DecodeLegacy(bytes, table.fields, &record);
}
template <typename R>
std::vector<FieldFix> ApplyFieldRules(const FieldTable<R>& table, R& record) {
    return ApplyFieldRules(table.fields, &record);
}
// A copy of a record with its type's field rules applied.
template <typename R>
R Ruled(R record) {
    ApplyFieldRules(R::Fields(), record);
    return record;
}

}  // namespace qm::core
