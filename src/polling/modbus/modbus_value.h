#pragma once
// What one register entry's raw reading becomes: its text in the output
// format, whether it breaches the entry's limits, and the reading for the
// value collector. Pure.
#include <optional>
#include <string>
#include <string_view>

#include "polling/modbus/modbus_frame.h"
#include "polling/modbus/modbus_settings.h"
#include "core/value_collector.h"

namespace qm::polling::modbus {

struct EntryValue {
    std::optional<std::string> text;  // nothing: the placeholder becomes the breach marker
    bool warning = false;             // a breach, or no text
    std::optional<core::Reading> reading;   // kind 2 (signed, float) or 4 (unsigned)
};

// `raw` nothing: the count asked for gives no value. `marker` ends the text
// of a breach.
EntryValue ConvertValue(const RegisterEntry& entry, std::optional<RawValue> raw, std::string_view marker);

}  // namespace qm::polling::modbus
