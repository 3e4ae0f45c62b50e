#pragma once
// The records of the rules module: rules, match lists and the severity colour
// scheme, with their settings keys and legacy record layouts.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/record_table.h"
#include "core/settings_fields.h"

namespace qm::processing {

// Flag bits of `Param`.
enum RuleParam : uint16_t {
    kWholeString1 = 0x8000,  // condition 1 compares whole strings, else searches
    kWholeString2 = 0x4000,
    kUseList1 = 0x2000,      // condition 1 tests the list `InListID1`
    kUseList2 = 0x1000,
    kDoNotAdd = 0x0800,      // a matching event stays out of the window
    kContinue = 0x0400,      // after a match the window tries its next rule
    kTextAction = 0x0200,
    kColorAction = 0x0100,
    kCutText = 0x0080,       // the text action cuts `StrOutText` out of the message
    kStartProgram = 0x0040,
    kNoWindow = 0x0020,      // no console window for the program
};

// How condition 2 combines with condition 1 (`InMatch`).
enum InMatchMode : uint8_t { kCond2Unused = 0, kAnd = 1, kOr = 2, kExcept = 3 };

// Condition kinds (`InCond1`, `InCond2`).
enum ConditionKind : uint8_t {
    kCondSender = 0,
    kCondMessage = 1,
    kCondSeverityFirst = 2,  // 2..9: severity 0..7
    kCondSeverityLast = 9,
    kCondSeverityUnknown = 10,
    kCondSystem = 11,
    kCondExternal = 12,
    kCondInternal = 13,
    kCondArchive = 14,
    // The syslog header's fields, tested with a pattern or a list as the
    // sender and the message are.
    kCondHost = 15,
    kCondApp = 16,
    kCondMsgId = 17,
};

// What the text action changes (`OutTextMode`).
enum OutTextMode : uint8_t { kOutSender = 0, kOutMessage = 1 };

// Capacities in UTF-16 units, terminator included.
constexpr size_t kRuleNameCapacity = 32;
constexpr size_t kPatternCapacity = 64;
constexpr size_t kOutTextCapacity = 64;
constexpr size_t kStartCmdCapacity = 1024;
constexpr size_t kListNameCapacity = 32;
constexpr size_t kEntryCapacity = 128;

// A list is searched entry by entry on every match; a count beyond this in a
// file is corrupt data, not a list anybody made.
constexpr size_t kMaxListEntries = 65536;

constexpr size_t kLegacyRuleSize = 2560;
constexpr size_t kLegacyListSize = 88;
constexpr size_t kLegacyEntrySize = 256;
constexpr size_t kLegacyListEntryCountOffset = 80;

// 0x00BBGGRR each.
struct RuleColors {
    uint32_t background = 0;
    uint32_t text = 0;
    bool operator==(const RuleColors&) const = default;
};

struct Rule {
    uint8_t enable = 0;
    std::string name;  // `StrName`
    uint64_t uid = 0;
    uint16_t param = 0;
    uint8_t inMatch = kCond2Unused;
    uint8_t inCond1 = kCondSender;
    std::string strInCond1;
    uint64_t inListId1 = 0;
    uint8_t inCond2 = kCondSender;
    std::string strInCond2;
    uint64_t inListId2 = 0;
    RuleColors outColor;
    std::string strOutText;
    uint8_t outTextMode = kOutSender;
    std::string startCmd;

    bool Has(uint16_t bits) const { return (param & bits) != 0; }
    bool operator==(const Rule&) const = default;
    static const core::FieldTable<Rule>& Fields();
};

// One entry of a match list, as a record of its own so the field machinery
// reads, writes and edits it like everything else.
struct ListEntry {
    std::string value;  // `StrValue`
    static const core::FieldTable<ListEntry>& Fields();
};

struct MatchList {
    uint8_t enable = 0;
    uint64_t uid = 0;
    std::string name;  // `StrName`
    std::vector<std::string> entries;  // `List.%u-item.%u-StrValue`; `ListSize` is their count

    bool operator==(const MatchList&) const = default;
    static const core::FieldTable<MatchList>& Fields();
};

// Ten colours: severities Emergency..Debug at 0..7, System events at 8,
// everything else at 9.
constexpr size_t kSchemeEntries = 10;
constexpr size_t kSchemeSystem = 8;
constexpr size_t kSchemeOther = 9;

// A type of its own so that its stored form (40 bytes) belongs to it alone.
struct ColorArray : std::array<uint32_t, kSchemeEntries> {};

struct ColorScheme {
    ColorArray text;
    ColorArray background;

    static ColorScheme Defaults();
    bool operator==(const ColorScheme&) const = default;
    static const core::FieldTable<ColorScheme>& Fields();
};

using RuleTable = core::RecordTable<Rule>;
using ListTable = core::RecordTable<MatchList>;

struct RulesSettings {
    RuleTable rules;
    ListTable lists;
    ColorScheme scheme = ColorScheme::Defaults();
};

void LoadRulesSettings(const core::SettingsSection& section, RulesSettings& out);
// Into a section already emptied and stamped with `Version`.
void SaveRulesSettings(core::SettingsSection& section, const RulesSettings& settings);

// Texts cut to what their fields hold, as the stored form would keep them.
void FitToCapacity(Rule& rule);
void FitToCapacity(MatchList& list);

}  // namespace qm::processing

namespace qm::core {

template <>
struct BlobCodec<processing::RuleColors> {
    static constexpr size_t kSize = 8;
    static void Encode(const processing::RuleColors& c, uint8_t* out);
    static void Decode(const uint8_t* in, processing::RuleColors& c);
};

template <>
struct BlobCodec<processing::ColorArray> : U32ArrayCodec<processing::kSchemeEntries> {};

}  // namespace qm::core
