#pragma once
// Settings of the event database: what is written, when, and to which files.
#include <cstdint>
#include <string>

#include "core/config.h"
#include "core/record_table.h"
#include "core/settings_fields.h"
#include "core/table_module.h"

namespace qm::processing {

constexpr const char* kDefaultLogFormat = "%s|a2;%s;%u %u %u %u %u %u %u;";
constexpr const char* kDefaultLogNameFormat = "log_%.2u%.2u%.2u_%.2u%.2u%.2u.log";
constexpr const char* kDefaultLastLog = "log_last.log";
constexpr size_t kDbaseTextCapacity = 64;  // UTF-16 units with terminator
// A shorter wake-up period would only make the worker spin.
constexpr uint32_t kMinDbaseTimeoutMs = 10;

struct DbaseCommon {
    std::string lastLogFile = kDefaultLastLog;
    std::string logFormat = kDefaultLogFormat;
    uint8_t eventParam = 0x38;  // event type bits that are written
    uint32_t timeout = 10000;   // ms between wake-ups of the worker
    uint32_t msgLimit = 8000;   // queue size that starts a write

    static const core::FieldTable<DbaseCommon>& Fields();
};

// The bounds of the rotation and retention fields.
constexpr uint32_t kMaxRotateSizeMb = 1048576;  // 1 TB
constexpr uint32_t kMaxKeepFiles = 100000;
constexpr uint32_t kMaxKeepDays = 36500;

struct LogTarget {
    uint8_t enable = 1;
    bool primary = false;  // the target numbered 0 when loaded; not stored
    std::string name;
    std::string logNameFormat = kDefaultLogNameFormat;
    // Rotation and retention, all off by default: a target without them
    // names a file per write and deletes nothing, as it always did.
    uint32_t rotateSize = 0;     // MB; a new file once the current one holds this much
    uint8_t rotateMidnight = 0;  // a new file on each new local day
    uint32_t keepFiles = 0;      // the newest files kept, the rest deleted
    uint32_t keepDays = 0;       // files last written longer ago are deleted

    static const core::FieldTable<LogTarget>& Fields();
};

using DbaseSettings = core::TableSettings<DbaseCommon, LogTarget>;

constexpr size_t kLegacyDbaseCommonSize = 268;
constexpr size_t kLegacyTargetSize = 258;

inline const core::TableLayout kDbaseLayout{kLegacyDbaseCommonSize, kLegacyTargetSize};

// The target every database has when its section names none.
LogTarget DefaultTarget();

}  // namespace qm::processing
