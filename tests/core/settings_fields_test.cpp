#include "support/temp_dir.h"
#include "core/settings_fields.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <stdexcept>

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

template <>
struct BlobCodec<Triple> {
    static constexpr size_t kSize = 12;
    static void Encode(const Triple& t, uint8_t* out) {
        const uint32_t v[3] = {t.a, t.b, t.c};
        for (size_t i = 0; i < 12; ++i) out[i] = static_cast<uint8_t>(v[i / 4] >> (8 * (i % 4)));
    }
    static void Decode(const uint8_t* in, Triple& t) {
        uint32_t v[3] = {0, 0, 0};
        for (size_t i = 0; i < 12; ++i) v[i / 4] |= uint32_t(in[i]) << (8 * (i % 4));
        t = Triple{v[0], v[1], v[2]};
    }
};

namespace {

namespace fs = std::filesystem;

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

// Legacy layout: 38 bytes, the text last; the triple has no legacy place.
const FieldTable<Item>& ItemFields() {
    static const FieldTable<Item> table = [] {
        FieldTable<Item> t;
        t.Struct<&Item::enabled>("Enabled", 0)
            .Struct<&Item::level>("Level", 1)
            .Struct<&Item::offset>("Offset", 4)
            .Struct<&Item::stamp>("Stamp", 8)
            .StructAt<&Item::ports, 0>("Port.0", 16)
            .StructAt<&Item::ports, 1>("Port.1", 18)
            .StructAt<&Item::ports, 2>("Port.2", 20)
            .Text<&Item::name>("Name", 8, 22)
            .Struct<&Item::triple>("Triple");
        return t;
    }();
    return table;
}
constexpr size_t kItemLegacySize = 38;

Item Sample() {
    Item r;
    r.enabled = true;
    r.level = 200;
    r.offset = -123456;
    r.stamp = 0xFEDCBA9876543210ull;
    r.ports = {514, 0, 65535};
    r.name = "Ёлка";
    r.triple = {1, 0x80000000u, 0xDEADBEEF};
    return r;
}

Item Other() {
    Item r;
    r.level = 9;
    r.offset = 77;
    r.stamp = 1;
    r.ports = {1, 2, 3};
    r.name = "other";
    r.triple = {7, 8, 9};
    return r;
}

using TempDir = qm::testing::TempDir;

std::vector<uint8_t> LegacyBytes(const Item& r) {
    std::vector<uint8_t> b(kItemLegacySize, 0xEE);
    b[0] = r.enabled ? 1 : 0;
    b[1] = r.level;
    for (size_t i = 0; i < 4; ++i) b[4 + i] = static_cast<uint8_t>(uint32_t(r.offset) >> (8 * i));
    for (size_t i = 0; i < 8; ++i) b[8 + i] = static_cast<uint8_t>(r.stamp >> (8 * i));
    for (size_t p = 0; p < 3; ++p) {
        b[16 + 2 * p] = static_cast<uint8_t>(r.ports[p]);
        b[17 + 2 * p] = static_cast<uint8_t>(r.ports[p] >> 8);
    }
    std::fill(b.begin() + 22, b.end(), 0);
    const std::string u = platform::Utf8ToUtf16LEBytes(r.name);
    std::copy_n(u.begin(), std::min<size_t>(u.size(), 16), b.begin() + 22);
    return b;
}

TEST(SettingsFields, RecordsRoundTripUnderTheirPrefix) {
    TempDir dir;
    const fs::path path = dir.path() / "items.ini";
    {
        platform::ProfileFile file;
        SaveRecord(file, "items", "Item.3-", ItemFields(), Sample());
        SaveRecord(file, "items", "Item.4-", ItemFields(), Other());
        ASSERT_TRUE(file.Save(path));
    }
    const platform::ProfileFile file = platform::ProfileFile::Load(path);
    const std::vector<std::string> keys = file.Keys("items");
    for (const char* key : {"Item.3-Enabled", "Item.3-Level", "Item.3-Offset", "Item.3-Stamp", "Item.3-Port.0",
                            "Item.3-Port.2", "Item.3-Name", "Item.3-Triple", "Item.4-Name"}) {
        EXPECT_NE(std::find(keys.begin(), keys.end(), key), keys.end()) << key;
    }
    EXPECT_EQ(keys.size(), 2 * ItemFields().fields.size());
    // Numbers are stored little-endian with their checksum byte.
    EXPECT_EQ(file.Get("items", "Item.3-Port.0"), "020204");
    EXPECT_EQ(file.Get("items", "Item.3-Enabled"), "0101");
    EXPECT_EQ(file.Get("items", "Item.3-Name"), "Ёлка");

    Item a, b;
    LoadRecord(file, "items", "Item.3-", ItemFields(), a);
    LoadRecord(file, "items", "Item.4-", ItemFields(), b);
    EXPECT_EQ(a, Sample());
    EXPECT_EQ(b, Other());
}

TEST(SettingsFields, MissingOrCorruptNumbersKeepTheRecordsValue) {
    platform::ProfileFile file;
    SaveRecord(file, "items", "Item.1-", ItemFields(), Sample());
    const uint8_t two[2] = {1, 2};
    file.WriteStruct("items", "Item.1-Level", two);         // wrong size
    file.WriteString("items", "Item.1-Offset", "0100000002"); // wrong checksum
    file.WriteString("items", "Item.1-Stamp", "not hex at all");

    Item r = Other();
    LoadRecord(file, "items", "Item.1-", ItemFields(), r);
    EXPECT_EQ(r.level, Other().level);
    EXPECT_EQ(r.offset, Other().offset);
    EXPECT_EQ(r.stamp, Other().stamp);
    EXPECT_EQ(r.ports, Sample().ports);
    EXPECT_EQ(r.triple, Sample().triple);

    // Nothing stored under another prefix: the numbers stay.
    r = Other();
    LoadRecord(file, "items", "Item.2-", ItemFields(), r);
    EXPECT_EQ(r.level, Other().level);
    EXPECT_EQ(r.ports, Other().ports);
    EXPECT_EQ(r.triple, Other().triple);
}

TEST(SettingsFields, LongTextIsCutToCapacityWithoutSplittingACharacter) {
    // Capacity 8 units, terminator included: seven units are kept.
    struct Case {
        std::string in, out;
    };
    const std::string grin = "\xF0\x9F\x98\x80";
    const Case cases[] = {
        {"abcdefg", "abcdefg"},
        {"abcdefgh", "abcdefg"},
        {"abcdef" + grin, "abcdef"},
        {"abcde" + grin + "x", "abcde" + grin},
        {"абвгдежзий", "абвгдеж"},
    };
    for (const Case& c : cases) {
        platform::ProfileFile file;
        Item r;
        r.name = c.in;
        SaveRecord(file, "items", "", ItemFields(), r);
        EXPECT_EQ(file.Get("items", "Name"), c.out) << c.in;
        Item back;
        LoadRecord(file, "items", "", ItemFields(), back);
        EXPECT_EQ(back.name, c.out) << c.in;
    }
}

TEST(SettingsFields, LegacyBytesDecodeFieldsThatFit) {
    Item r = Other();
    DecodeLegacyRecord(LegacyBytes(Sample()), ItemFields(), r);
    Item expected = Sample();
    expected.triple = Other().triple;  // not part of the legacy record
    EXPECT_EQ(r, expected);

    // Cut short: a field that would run past the end keeps its value.
    const std::vector<uint8_t> full = LegacyBytes(Sample());
    auto decodePrefix = [&](size_t n) {
        Item out = Other();
        DecodeLegacyRecord(std::span(full.data(), n), ItemFields(), out);
        return out;
    };
    r = decodePrefix(0);
    EXPECT_EQ(r, Other());
    r = decodePrefix(1);
    EXPECT_TRUE(r.enabled);
    EXPECT_EQ(r.level, Other().level);
    r = decodePrefix(7);
    EXPECT_EQ(r.level, Sample().level);
    EXPECT_EQ(r.offset, Other().offset);
    r = decodePrefix(21);
    EXPECT_EQ(r.stamp, Sample().stamp);
    EXPECT_EQ(r.ports[1], Sample().ports[1]);
    EXPECT_EQ(r.ports[2], Other().ports[2]);
    r = decodePrefix(22);
    EXPECT_EQ(r.ports[2], Sample().ports[2]);
    EXPECT_EQ(r.name, Other().name);
    r = decodePrefix(kItemLegacySize - 1);
    EXPECT_EQ(r.name, Other().name);
    r = decodePrefix(kItemLegacySize);
    EXPECT_EQ(r.name, Sample().name);
}

TEST(SettingsFields, LegacyTextEndsAtItsTerminatorOrCapacity) {
    Item r;
    r.name = "abcdefgh";  // all eight units used, no terminator
    std::vector<uint8_t> bytes = LegacyBytes(r);
    Item out;
    DecodeLegacyRecord(bytes, ItemFields(), out);
    EXPECT_EQ(out.name, "abcdefg");

    // Whatever follows a terminator is not part of the text.
    bytes[22 + 2 * 3] = 0;
    bytes[23 + 2 * 3] = 0;
    DecodeLegacyRecord(bytes, ItemFields(), out);
    EXPECT_EQ(out.name, "abc");

    bytes[22] = bytes[23] = 0;
    out.name = "kept?";
    DecodeLegacyRecord(bytes, ItemFields(), out);
    EXPECT_EQ(out.name, "");
}

TEST(SettingsFields, FindsFieldsByNameIgnoringCase) {
    const FieldTable<Item>& t = ItemFields();
    ASSERT_NE(t.Find("enabled"), nullptr);
    EXPECT_EQ(t.Find("enabled")->key, "Enabled");
    ASSERT_NE(t.Find("PORT.2"), nullptr);
    EXPECT_EQ(t.Find("PORT.2")->key, "Port.2");
    EXPECT_EQ(t.Find("Port"), nullptr);
    EXPECT_EQ(t.Find("Port.22"), nullptr);
    EXPECT_EQ(t.Find(""), nullptr);
}

TEST(SettingsFields, FieldTextRoundTrips) {
    const FieldTable<Item>& t = ItemFields();
    const Item sample = Sample();
    // Every field's text, set into an empty record, gives the same value back.
    Item copy;
    for (const FieldDef& f : t.fields) {
        const std::string text = FieldToText(f, &sample);
        EXPECT_TRUE(FieldFromText(f, text, &copy)) << f.key << " " << text;
        EXPECT_EQ(FieldToText(f, &copy), text) << f.key;
    }
    EXPECT_EQ(copy, sample);

    EXPECT_EQ(FieldToText(*t.Find("Enabled"), &sample), "1");
    EXPECT_EQ(FieldToText(*t.Find("Level"), &sample), "200");
    EXPECT_EQ(FieldToText(*t.Find("Stamp"), &sample), "18364758544493064720");
    EXPECT_EQ(FieldToText(*t.Find("Port.2"), &sample), "65535");
    EXPECT_EQ(FieldToText(*t.Find("Name"), &sample), "Ёлка");
    EXPECT_EQ(FieldToText(*t.Find("Triple"), &sample), "01000000" "00000080" "EFBEADDE");

    Item r;
    ASSERT_TRUE(FieldFromText(*t.Find("Triple"), "0A000000" "0B000000" "0c0000ff", &r));
    EXPECT_EQ(r.triple, (Triple{10, 11, 0xFF00000C}));
    ASSERT_TRUE(FieldFromText(*t.Find("Name"), "abcdefghij", &r));
    EXPECT_EQ(r.name, "abcdefg");
    ASSERT_TRUE(FieldFromText(*t.Find("Offset"), "2147483647", &r));
    EXPECT_EQ(r.offset, INT32_MAX);
}

TEST(SettingsFields, NegativeNumberTextRoundTrips) {
    const FieldDef& offset = *ItemFields().Find("Offset");
    Item r;
    ASSERT_TRUE(FieldFromText(offset, "-5", &r));
    EXPECT_EQ(r.offset, -5);
    EXPECT_EQ(FieldToText(offset, &r), "-5");
    r.offset = INT32_MIN;
    EXPECT_EQ(FieldToText(offset, &r), "-2147483648");
}

TEST(SettingsFields, FieldFromTextRejectsBadInputAndKeepsTheValue) {
    const FieldTable<Item>& t = ItemFields();
    const Item before = Sample();
    Item r = before;
    for (const char* bad : {"", "-", "abc", "12x", " 12", "12 ", "0x10", "1.5", "--3"}) {
        EXPECT_FALSE(FieldFromText(*t.Find("Offset"), bad, &r)) << bad;
        EXPECT_FALSE(FieldFromText(*t.Find("Stamp"), bad, &r)) << bad;
    }
    for (const char* bad : {"", "0A000000", "0A000000" "0B000000" "0C00000", "0A000000" "0B000000" "0C0000000",
                            "0A000000" "0B000000" "0C0000G0", "0A000000" "0B000000" "0C00 000", "0A000000" "+B000000" "0C000000"}) {
        EXPECT_FALSE(FieldFromText(*t.Find("Triple"), bad, &r)) << bad;
    }
    // Values the field cannot hold are refused, not wrapped.
    EXPECT_FALSE(FieldFromText(*t.Find("Level"), "256", &r));
    EXPECT_FALSE(FieldFromText(*t.Find("Level"), "-1", &r));
    EXPECT_FALSE(FieldFromText(*t.Find("Offset"), "2147483648", &r));
    EXPECT_FALSE(FieldFromText(*t.Find("Offset"), "-2147483649", &r));
    EXPECT_FALSE(FieldFromText(*t.Find("Port.0"), "65536", &r));
    EXPECT_EQ(r, before);
    EXPECT_TRUE(FieldFromText(*t.Find("Offset"), "-2147483648", &r));
    EXPECT_TRUE(FieldFromText(*t.Find("Port.0"), "65535", &r));
}

}  // namespace
}  // namespace qm::core
