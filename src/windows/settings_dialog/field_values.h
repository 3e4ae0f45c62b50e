#pragma once
// The settings dialog's rules for one field's value, without Qt: its label,
// the text a control shows for it and the check of a typed value before
// anything reaches the module (range, text capacity in UTF-16 units, the
// text forms the field table allows, a program path), with a message that
// names the field and says why. Also the one way a dialog action meets a
// module: a try that tells a busy module from a refusal.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/record_sets.h"
#include "windows/settings_dialog/record_page_layout.h"

namespace qm::core {
struct CoreContext;
struct CoreCounters;
}  // namespace qm::core

namespace qm::windows::qt {

// The field's label text (its string without a closing colon, else its key).
std::string FieldLabel(const core::CoreContext& core, const core::FieldDef& field);

// The field's label with the unit its control shows it in ("Receive
// time-out, ms"; option bits typed as a number say "hex").
std::string FieldCaption(const core::CoreContext& core, const FieldHint& hint, const core::FieldDef& field);

// The control a field gets: named bits as check boxes, named values as a
// list, a rectangle as x, y, width and height, else by its kind. A
// read-only field keeps its control, disabled.
enum class FieldControl : uint8_t { Line, Flag, Bits, Choice, ListRef, Colours, Rect };
FieldControl ControlFor(const FieldHint& hint, const core::FieldDef& field);

// Option bits as a number are hexadecimal everywhere, in the digits the
// script's echo prints ("C0"): a user comparing the two sees one value.
std::string HexText(uint64_t value);
// What a table cell shows for option bits: the names of those set, then
// any set bit no name covers, in hexadecimal.
std::string BitNames(const core::CoreContext& core, const std::vector<Named>& names, uint64_t value);

// What a line edit shows for the field: the record's text form, except
// Seconds (whole seconds of a millisecond value) and option bits (hex).
std::string ShownText(const FieldHint& hint, const core::FieldDef& field, const void* record);
// The record's text form of what a line edit shows.
std::string StoredText(const FieldHint& hint, const core::FieldDef& field, std::string_view shown);

// The colours of a Colour field, each 0x00BBGGRR (several for a colour array),
// and the field's text form of a set of them.
std::vector<uint32_t> ColoursOf(const core::FieldDef& field, const void* record);
std::string ColoursText(const core::FieldDef& field, const std::vector<uint32_t>& colours);

// A program the rules can start: an existing executable file, given by its
// path or found on PATH. Empty means none.
bool IsProgramPath(std::string_view command);

using FieldTexts = std::vector<std::pair<std::string, std::string>>;  // key, text in the record's form

// Sets every value on the record, or none: the first value refused gives
// its message and leaves the record as it was. Read-only fields (by the
// page's hints) are refused unless `godMode`.
std::optional<std::string> ApplyFieldTexts(const core::CoreContext& core, const PageLayout& page, core::RecordSet set,
                                           const FieldTexts& texts, bool godMode, core::RecordCopy& record);

// Values proposed for a new record of the set; a new list also gets the
// proposed entries, each made from `blankEntry`.
void ApplyProposals(const PageLayout& page, core::RecordSet set, const core::RecordCopy& blankEntry,
                    core::RecordCopy& record);

enum class Outcome : uint8_t { Done, Busy, Refused };
// Runs one module operation (which tries the module's lock three times)
// and tells a busy module (a collision was counted meanwhile) from a refusal.
Outcome Attempt(core::CoreCounters& counters, const std::function<bool()>& operation);

}  // namespace qm::windows::qt

namespace qm::windows::qt {
// The text of a named value or bit.
std::string NamedText(const core::CoreContext& core, const Named& named);
}  // namespace qm::windows::qt
