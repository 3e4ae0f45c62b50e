#include "core/raw_settings_check.h"

#include <cctype>
#include <set>

#include "core/record_sets.h"
#include "core/record_table.h"
#include "platform/profile_file.h"

namespace qm::core {

namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// "<digits>-" at the front of `rest`: the number, and `rest` moved past it.
std::optional<size_t> TakeIndex(std::string_view& rest) {
    size_t n = 0;
    while (n < rest.size() && n < 9 && std::isdigit(static_cast<unsigned char>(rest[n]))) ++n;
    if (n == 0 || n >= rest.size() || rest[n] != '-') return std::nullopt;
    const size_t index = std::stoul(std::string(rest.substr(0, n)));
    rest.remove_prefix(n + 1);
    return index;
}

// Where a key belongs: its record set (none for plain keys), the record
// prefix it sits under and the field name after it.
struct KeyPlace {
    std::optional<RecordSet> set;
    std::string record;  // "item.3-", "list.0-": lowered, for counting records
    std::string field;
};

KeyPlace Place(std::string_view key) {
    const std::string lower = Lower(key);
    std::string_view rest = lower;
    KeyPlace place;
    if (rest.starts_with("common.")) {
        place.set = RecordSet::Common;
        place.field = key.substr(7);
        return place;
    }
    for (const auto& [word, set] : {std::pair{"item.", RecordSet::Item}, std::pair{"list.", RecordSet::List}}) {
        std::string_view r = rest;
        if (!r.starts_with(word)) continue;
        r.remove_prefix(std::string_view(word).size());
        if (!TakeIndex(r)) break;
        place.set = set;
        place.record = std::string(rest.substr(0, rest.size() - r.size()));
        if (set == RecordSet::List && r.starts_with("item.")) {
            std::string_view e = r.substr(5);
            if (TakeIndex(e)) {
                place.set = RecordSet::Entry;
                r = e;
            }
        }
        place.field = key.substr(key.size() - r.size());
        return place;
    }
    place.field = key;
    return place;
}

const FieldDef* FieldOf(const KeyPlace& place, RecordSets* sets, std::span<const FieldDef> fields) {
    if (!place.set) {
        for (const FieldDef& f : fields)
            if (Lower(f.key) == Lower(place.field)) return &f;
        return nullptr;
    }
    if (!sets || !sets->Has(*place.set)) return nullptr;
    // A blank record of the set lends its field table; the table outlives it.
    const RecordCopy blank = sets->Blank({*place.set});
    if (!blank) return nullptr;
    return blank.Find(place.field);
}

bool SoundValue(const platform::ProfileFile& file, const std::string& section, const std::string& key,
                const KeyPlace& place, const FieldDef* field) {
    if (field) return field->encoding == FieldEncoding::String || file.ReadStruct(section, key, field->size).has_value();
    if (Lower(place.field).starts_with("str")) return true;
    const std::string value = file.Get(section, key).value_or("");
    return value.size() >= 4 && value.size() % 2 == 0 && file.ReadStruct(section, key, value.size() / 2 - 1).has_value();
}

}  // namespace

std::optional<std::string> DamagedKey(const platform::ProfileFile& file, const std::string& section,
                                      RecordSets* sets, std::span<const FieldDef> fields) {
    if (!file.Get(section, "Version").value_or("").starts_with("2")) return "Version";
    std::set<std::string> records;
    for (const std::string& key : file.Keys(section)) {
        const std::string lower = Lower(key);
        if (lower == "version") continue;
        if (lower == "itemcount" || lower == "listcount") {
            const auto bytes = file.ReadStruct(section, key, 4);
            if (!bytes) return key;
            const uint32_t count = uint32_t((*bytes)[0]) | uint32_t((*bytes)[1]) << 8 | uint32_t((*bytes)[2]) << 16 |
                                   uint32_t((*bytes)[3]) << 24;
            if (count > kMaxRecords) return key;
            continue;
        }
        const KeyPlace place = Place(key);
        if (!SoundValue(file, section, key, place, FieldOf(place, sets, fields))) return key;
        if (!place.record.empty()) records.insert(place.record);
    }
    // A record the count promises but the file lacks would be skipped.
    for (const auto& [countKey, word] : {std::pair{"ItemCount", "Item."}, std::pair{"ListCount", "List."}}) {
        const auto bytes = file.ReadStruct(section, countKey, 4);
        const size_t count = bytes ? (uint32_t((*bytes)[0]) | uint32_t((*bytes)[1]) << 8) : 0;
        for (size_t i = 0; i < count; ++i) {
            const std::string prefix = std::string(word) + std::to_string(i) + "-";
            if (!records.count(Lower(prefix))) return prefix;
        }
    }
    return std::nullopt;
}

}  // namespace qm::core
