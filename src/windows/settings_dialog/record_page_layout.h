#pragma once
// What the settings dialog's record pages show, as data: one entry per
// topic, naming the module, the record sets it edits and the few fields that
// want more than their kind's plain control (names instead of numbers, bit
// texts, seconds, list references, values proposed for new records). The
// generic page builds everything else from the modules' field tables, so a
// module's page is one entry here. No Qt in this file.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/record_sets.h"

namespace qm::windows::qt {

enum class FieldLook : uint8_t {
    Plain,     // the control of its kind (named bits and values included)
    Choice,    // a drop-down list of named values
    Bits,      // named option bits as check boxes
    Seconds,   // stored in milliseconds, shown in whole seconds
    ListRef,   // the UID of one of the module's lists, chosen by its name
    ReadOnly,  // editable only in GodMode
};

// A named value or bit, as the field tables name them.
using Named = core::FieldName;

struct FieldHint {
    core::RecordSet set = core::RecordSet::Item;
    std::string key;
    FieldLook look = FieldLook::Plain;
    std::vector<Named> names;  // Choice and Bits
};

struct Proposal {
    core::RecordSet set = core::RecordSet::Item;
    std::string key;
    std::string value;  // in the field's text form (as RecordCopy::Set takes it)
};

struct PageLayout {
    uint32_t title = 0;  // string id of the page's title
    uint16_t module = 0;
    bool common = false;
    bool items = false;
    bool lists = false;  // lists with their entries
    bool service = false;  // start and stop buttons
    std::optional<uint8_t> windowType;  // window pages: the type they add and whose own settings they edit
    bool everyWindow = false;            // ... listing every window, not only the entries of that type
    std::string listUidKey = "ID";     // the lists' own UID field, which ListRef fields name
    std::string listNameKey = "StrName";
    std::vector<FieldHint> hints;
    std::vector<Proposal> proposals;
    std::vector<std::vector<Proposal>> proposedEntries;  // a new list's first entries
};

// Some bits of one field of a window's own settings, under one heading of
// its settings panel; their names are the field table's.
struct OptionGroup {
    uint32_t title = 0;  // string id of the heading
    std::string key;     // the field of the type's settings
    uint64_t bits = 0;   // which of its named bits
};

// An event list's options and event types as its panel groups them.
const std::vector<OptionGroup>& EventListOptionGroups();

// Every record page, in the order the dialog lists them.
const std::vector<PageLayout>& RecordPageLayouts();

// The hint for a field of a set (Plain when none); fields that hold identities
// or layout the program keeps (UIDs, IDs, counts, types, rectangles) are
// ReadOnly everywhere.
FieldHint HintFor(const PageLayout& page, core::RecordSet set, std::string_view key);
// The same, completed from the field's table: a field the page says nothing
// special about shows its named bits or values, and a page's Bits or Choice
// without names of its own takes the field's.
FieldHint HintFor(const PageLayout& page, core::RecordSet set, const core::FieldDef& field);

}  // namespace qm::windows::qt
