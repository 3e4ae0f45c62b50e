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
#include "windows/qt/record_page_layout.h"

namespace qm::core {
struct CoreContext;
struct CoreCounters;
}  // namespace qm::core

namespace qm::windows::qt {

// The field's label text (its string without a closing colon, else its key).
std::string FieldLabel(const core::CoreContext& core, const core::FieldDef& field);

// What a control shows for the field: the record's text form, except
// Seconds (whole seconds of a millisecond value).
std::string ShownText(const FieldHint& hint, const core::FieldDef& field, const void* record);
// The record's text form of what a control shows.
std::string StoredText(const FieldHint& hint, std::string_view shown);

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
