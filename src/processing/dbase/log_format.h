#pragma once
// Log lines and log file names. Both formats come from settings and scripts,
// so they are checked before use: a format is taken only when its
// conversions are the expected ones, in order (a name format may stop early,
// e.g. one file a day); otherwise the default stands in.
#include <filesystem>
#include <optional>
#include <string>

#include "core/event_record.h"
#include "core/paths.h"
#include "platform/clock.h"
#include "platform/utf16.h"

namespace qm::processing {

bool IsValidLogFormat(std::string_view format);
bool IsValidLogNameFormat(std::string_view format);
using core::IsPlainFileName;

// The event's text as a log line holds it: the raw text, or for an event
// without one (the program's own) the message behind a priority, since a
// line read back is parsed like a datagram and needs one to be taken and to
// keep its severity.
std::string LoggedText(const core::EventRecord& event);
// One log line, in program text (UTF-8), without its line end.
std::string FormatLogLine(std::string_view logFormat, const core::EventRecord& event);
// The line as stored: UTF-16LE with a single 0x000A unit at its end.
void AppendStoredLine(std::string& out, std::string_view line);
// The lines of stored content, in order, as program text (UTF-8), each
// without its 0x000A unit; text after the last one is an unfinished line and
// is left out. `each(std::string)` returns false to stop early.
template <typename F>
void ForEachStoredLine(std::string_view content, F&& each) {
    size_t begin = 0;
    for (size_t i = 0; i + 1 < content.size(); i += 2) {
        if (content[i] != '\n' || content[i + 1] != '\0') continue;
        const size_t from = begin;
        begin = i + 2;
        if (!each(platform::Utf16LEBytesToUtf8(content.substr(from, i - from)))) return;
    }
}
// FormatLogLine + AppendStoredLine, with a fast road for the default format,
// which is what almost every log is written in.
void AppendLogLine(std::string& out, std::string_view logFormat, const core::EventRecord& event);
// The file name for a write at `now`; the default format when the target's is unusable.
std::string LogFileName(std::string_view nameFormat, const platform::SystemTime& now);
// The name format that names a target's files: its own, or the default when its own is unusable.
std::string_view UsableLogNameFormat(std::string_view nameFormat);

}  // namespace qm::processing
