#pragma once
// The check an imported settings section must pass before anything of it is
// applied: what a module's load would silently skip or replace by a default
// (a damaged value, a count beyond what a table holds, a record the count
// promises but the file lacks) makes the section unusable instead.
#include <optional>
#include <span>
#include <string>

#include "core/settings_fields.h"

namespace qm::platform {
class ProfileFile;
}

namespace qm::core {

class RecordSets;

// The first damaged key of `section` in `file` ("Version" when the section
// is not in the current form), or nothing when the whole section is sound.
// Field tables, where known, give each value's exact size: `sets` those of a
// module's records (by key prefix), `fields` those of a section without
// prefixes (the Core settings). Keys of no known field are still checked by
// form: texts ("Str..." fields) are free, every other value is the hex form
// with its checksum.
std::optional<std::string> DamagedKey(const platform::ProfileFile& file, const std::string& section,
                                      RecordSets* sets, std::span<const FieldDef> fields = {});

}  // namespace qm::core
