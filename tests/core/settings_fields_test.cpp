#include "core/settings_fields.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <span>

#include "platform/profile_file.h"
#include "platform/utf16.h"

namespace qm::core {
namespace {

// A record stored whole, too long to show as a number.
struct Triple {
    uint32_t a = 0, b = 0, c = 0;
    bool operator==(const Triple&) const = default;
};

}  // namespace

// Stored in the host's (little-endian) byte order.
template <>
struct BlobCodec<Triple> {
    static constexpr size_t kSize = 12;
    static void Encode(const Triple& t, uint8_t* out) { std::memcpy(out, &t, kSize); }
    static void Decode(const uint8_t* in, Triple& t) { std::memcpy(&t, in, kSize); }
};

namespace {

struct Item {
    bool enabled = false;
    uint8_t level = 0;
    int32_t offset = 0;
    uint64_t stamp = 0;
    std::array<uint16_t, 3> ports{};
    std::string name;
    Triple triple;
    bool operator==(const Item&) const = default;
};

// Legacy layout: 38 bytes, the text (8 units) last; the triple has no legacy place.
const FieldTable<Item>& Fields() {
    static const FieldTable<Item> table = [] {
        FieldTable<Item> t;
        t.Struct<&Item::enabled>("Enabled", 0).Struct<&Item::level>("Level", 1).Struct<&Item::offset>("Offset", 4);
        t.Struct<&Item::stamp>("Stamp", 8).StructAt<&Item::ports, 0>("Port.0", 16).StructAt<&Item::ports, 1>("Port.1", 18);
        t.StructAt<&Item::ports, 2>("Port.2", 20).Text<&Item::name>("Name", 8, 22).Struct<&Item::triple>("Triple");
        return t;
    }();
    return table;
}
const FieldDef& Field(const char* key) { return *Fields().Find(key); }
constexpr size_t kLegacySize = 38;

// Ā has a zero low byte in UTF-16, which must not end a legacy text.
const Item kSample{true, 200, -123456, 0xFEDCBA9876543210ull, {514, 0, 65535},
                   "ĀЁлка", {1, 0x80000000u, 0xDEADBEEF}};
const Item kOther{false, 9, 77, 1, {1, 2, 3}, "other", {7, 8, 9}};

std::vector<uint8_t> LegacyBytes(const Item& r) {
    std::vector<uint8_t> b(kLegacySize, 0xEE);  // padding left as junk
    std::fill(b.begin() + 22, b.end(), 0);
    b[0] = r.enabled, b[1] = r.level;
    for (size_t i = 0; i < 8; ++i) {
        if (i < 4) b[4 + i] = static_cast<uint8_t>(uint32_t(r.offset) >> (8 * i));
        if (i < 6) b[16 + i] = static_cast<uint8_t>(r.ports[i / 2] >> (8 * (i % 2)));
        b[8 + i] = static_cast<uint8_t>(r.stamp >> (8 * i));
    }
    const std::string u = platform::Utf8ToUtf16LEBytes(r.name);
    std::copy_n(u.begin(), std::min<size_t>(u.size(), 16), b.begin() + 22);
    return b;
}

TEST(SettingsFields, RecordsRoundTripUnderTheirPrefixAndBadNumbersAreSkipped) {
    platform::ProfileFile file;
    SaveRecord(file, "items", "Item.3-", Fields(), kSample);
    SaveRecord(file, "items", "Item.4-", Fields(), kOther);
    EXPECT_EQ(file.Keys("items").size(), 2 * Fields().fields.size());
    // Numbers are stored little-endian with their checksum byte; text as text.
    EXPECT_EQ(file.Get("items", "Item.3-Port.0"), "020204");
    EXPECT_EQ(file.Get("items", "Item.3-Name"), "ĀЁлка");

    Item a, b;
    LoadRecord(file, "items", "Item.3-", Fields(), a);
    LoadRecord(file, "items", "Item.4-", Fields(), b);
    EXPECT_EQ(std::tie(a, b), std::tie(kSample, kOther));

    // Wrong size, wrong checksum, not hex, or nothing under the prefix: the
    // record's number stays while the other fields load.
    const uint8_t two[2] = {1, 2};
    file.WriteStruct("items", "Item.3-Level", two);
    file.WriteString("items", "Item.3-Offset", "0100000002");
    file.WriteString("items", "Item.3-Stamp", "not hex at all");
    Item r = kOther;
    LoadRecord(file, "items", "Item.3-", Fields(), r);
    EXPECT_EQ(std::tuple(r.level, r.offset, r.stamp), std::tuple(kOther.level, kOther.offset, kOther.stamp));
    EXPECT_EQ(std::tuple(r.ports, r.triple), std::tuple(kSample.ports, kSample.triple));
    r = kOther;
    LoadRecord(file, "items", "Item.9-", Fields(), r);
    EXPECT_EQ(std::tuple(r.level, r.stamp, r.ports, r.triple),
              std::tuple(kOther.level, kOther.stamp, kOther.ports, kOther.triple));
}

TEST(SettingsFields, TextIsCutToCapacityWithoutSplittingACharacter) {
    // Capacity 8 units, terminator included: seven are kept, in every way in.
    const std::string grin = "\xF0\x9F\x98\x80";
    const std::pair<std::string, std::string> cases[] = {
        {"abcdefg", "abcdefg"}, {"abcdefgh", "abcdefg"}, {"abcdef" + grin, "abcdef"},
        {"abcde" + grin + "x", "abcde" + grin}, {"абвгдежзий", "абвгдеж"},
    };
    for (const auto& [in, out] : cases) {
        platform::ProfileFile file;
        Item r;
        r.name = in;
        SaveRecord(file, "items", "", Fields(), r);
        Item back, edited;
        LoadRecord(file, "items", "", Fields(), back);
        ASSERT_TRUE(FieldFromText(Field("Name"), in, &edited));
        EXPECT_EQ(std::tuple(*file.Get("items", "Name"), back.name, edited.name), std::tuple(out, out, out)) << in;
    }
}

TEST(SettingsFields, LegacyBytesDecodeOnlyFieldsThatFit) {
    const std::vector<uint8_t> full = LegacyBytes(kSample);
    auto decode = [&](size_t n) {
        Item out = kOther;
        DecodeLegacyRecord(std::span(full.data(), n), Fields(), out);
        return out;
    };
    Item expected = kSample;
    expected.triple = kOther.triple;  // no legacy place
    EXPECT_EQ(decode(kLegacySize), expected);
    EXPECT_EQ(decode(0), kOther);
    // A field running past the end keeps its value; the one before it is read.
    EXPECT_EQ(std::tuple(decode(7).level, decode(7).offset), std::tuple(kSample.level, kOther.offset));
    EXPECT_EQ(std::tuple(decode(21).ports[1], decode(21).ports[2]), std::tuple(kSample.ports[1], kOther.ports[2]));
    EXPECT_EQ(decode(kLegacySize - 1).name, kOther.name);

    // Text ends at its terminator, or one unit short of its capacity.
    Item r;
    r.name = "abcdefgh";
    std::vector<uint8_t> bytes = LegacyBytes(r);
    DecodeLegacyRecord(bytes, Fields(), r);
    EXPECT_EQ(r.name, "abcdefg");
    bytes[28] = bytes[29] = 0;
    DecodeLegacyRecord(bytes, Fields(), r);
    EXPECT_EQ(r.name, "abc");
    bytes[22] = bytes[23] = 0;
    DecodeLegacyRecord(bytes, Fields(), r);
    EXPECT_EQ(r.name, "");
}

TEST(SettingsFields, FieldsFoundByNameAndTheirTextRoundTrips) {
    ASSERT_NE(Fields().Find("PORT.2"), nullptr);  // case does not matter
    EXPECT_EQ(Fields().Find("PORT.2")->key, "Port.2");
    EXPECT_EQ(std::tuple(Fields().Find("Port"), Fields().Find("Port.22")), std::tuple(nullptr, nullptr));

    // Every field's text, set into an empty record, gives the same value back.
    Item copy;
    for (const FieldDef& f : Fields().fields) {
        const std::string text = FieldToText(f, &kSample);
        EXPECT_TRUE(FieldFromText(f, text, &copy)) << f.key << " " << text;
    }
    EXPECT_EQ(copy, kSample);
    EXPECT_EQ(FieldToText(Field("Stamp"), &kSample), "18364758544493064720");
    EXPECT_EQ(FieldToText(Field("Triple"), &kSample), "01000000" "00000080" "EFBEADDE");
    ASSERT_TRUE(FieldFromText(Field("Triple"), "0A000000" "0B000000" "0c0000ff", &copy));
    EXPECT_EQ(copy.triple, (Triple{10, 11, 0xFF00000C}));
    for (const char* text : {"-5", "-2147483648", "2147483647"}) {
        ASSERT_TRUE(FieldFromText(Field("Offset"), text, &copy)) << text;
        EXPECT_EQ(FieldToText(Field("Offset"), &copy), text);
    }
}

TEST(SettingsFields, FieldFromTextRejectsBadOrOutOfRangeInputAndKeepsTheValue) {
    Item r = kSample;
    auto refuse = [&](const char* key, const std::string& text) {
        EXPECT_FALSE(FieldFromText(Field(key), text, &r)) << key << " '" << text << "'";
    };
    for (const char* key : {"Offset", "Stamp"})
        for (const char* bad : {"", "-", "abc", "12x", " 12", "12 ", "0x10", "1.5", "--3"}) refuse(key, bad);
    const std::string ab = "0A000000" "0B000000";
    for (const std::string& bad : {std::string(), ab, ab + "0C00000", ab + "0C0000000", ab + "0C0000G0", ab + "+C000000"})
        refuse("Triple", bad);
    // Refused, not wrapped.
    refuse("Level", "256"), refuse("Level", "-1"), refuse("Port.0", "65536");
    refuse("Offset", "2147483648"), refuse("Offset", "-2147483649");
    EXPECT_EQ(r, kSample);
    EXPECT_TRUE(FieldFromText(Field("Port.0"), "65535", &r));
}

// A record whose fields carry the rules a module relies on: a range with a
// fallback, a signed range brought to its bound, a text with a form check.
struct Ruled {
    uint32_t chunk = 1024;
    int32_t sort = 0;
    std::string format = "%s";
    static const FieldTable<Ruled>& Fields() {
        static const FieldTable<Ruled> t = [] {
            FieldTable<Ruled> f;
            f.Struct<&Ruled::chunk>("Chunk").Range(100, 10240).Fallback(1024);
            f.Struct<&Ruled::sort>("Sort").SignedRange(-4, 4);
            f.Text<&Ruled::format>("Format", 6).Valid([](std::string_view v) { return v.find('%') != v.npos; }, "%s");
            return f;
        }();
        return t;
    }
};

TEST(SettingsFields, FieldRulesAreTheSameFromAFileAndFromAnEditor) {
    // Handed to a module: the fallback, not the nearer bound; signed bounds
    // compared as signed; a text cut to capacity, then checked.
    Ruled r{20000, -9, "no format here"};
    EXPECT_EQ(ApplyFieldRules(Ruled::Fields(), r).size(), 3u);
    EXPECT_EQ(std::tie(r.chunk, r.sort, r.format), std::tuple(1024u, -4, "%s"));
    Ruled kept{100, 4, "ab%cd"};
    EXPECT_TRUE(ApplyFieldRules(Ruled::Fields(), kept).empty());

    // Read from a file: the same values come out.
    platform::ProfileFile file;
    SaveRecord(file, "s", "", Ruled::Fields(), Ruled{99, 5, "%d"});
    file.WriteString("s", "Format", "plain");
    Ruled loaded;
    LoadRecord(file, "s", "", Ruled::Fields(), loaded);
    EXPECT_EQ(std::tie(loaded.chunk, loaded.sort, loaded.format), std::tuple(1024u, 4, "%s"));

    // Given as text: refused, nothing changes.
    Ruled t;
    const auto set = [&](const char* key, const char* text) { return FieldFromText(*Ruled::Fields().Find(key), text, &t); };
    EXPECT_EQ(std::tuple(set("Chunk", "99"), set("Sort", "-5"), set("Format", "plain")), std::tuple(false, false, false));
    EXPECT_EQ(std::tuple(set("Sort", "-4"), set("Format", "%d and more")), std::tuple(true, true));
    EXPECT_EQ(std::tie(t.chunk, t.sort, t.format), std::tuple(1024u, -4, "%d an"));
}

}  // namespace
}  // namespace qm::core
