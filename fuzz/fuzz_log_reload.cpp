// Reading back a log file (the temporary buffer file at start): UTF-16LE
// lines split at the unit 0x000A, each converted and parsed by the intake
// like a received datagram. A line written from what was read must read
// back with the same sender and time.
#include <cstdint>
#include <string>

#include "core/line_scanner.h"
#include "fuzz_support.h"
#include "platform/codepage.h"
#include "processing/dbase/dbase_settings.h"
#include "processing/dbase/log_format.h"

using namespace qm;

namespace {

// The record the intake would make, as far as the log line uses it.
std::optional<core::EventRecord> Parse(std::string text) {
    const std::optional<core::ScannedLine> line = core::ScanLine(text);
    if (!line) return std::nullopt;
    core::EventRecord e;
    e.SetTexts(platform::AnsiToUtf8(line->raw), "");
    e.sender = "127.0.0.1";
    if (line->relayed && line->suffix.hasSender) e.sender = platform::AnsiToUtf8(line->suffix.sender);
    if (line->relayed && line->suffix.hasTime) {
        const core::RelaySuffix& s = line->suffix;
        e.time.day = static_cast<uint16_t>(s.day);
        e.time.month = static_cast<uint16_t>(s.month);
        e.time.year = static_cast<uint16_t>(s.year);
        e.time.hour = static_cast<uint16_t>(s.hour);
        e.time.minute = static_cast<uint16_t>(s.minute);
        e.time.second = static_cast<uint16_t>(s.second);
        e.time.milliseconds = static_cast<uint16_t>(s.millisecond);
    }
    return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    size_t lines = 0;
    processing::ForEachStoredLine(content, [&](const std::string& line) {
        ++lines;
        QM_FUZZ_CHECK(line.find('\n') == std::string::npos);
        const std::string text = platform::Utf8ToAnsi(line);
        if (text.empty()) return true;
        const std::optional<core::EventRecord> first = Parse(text);
        if (!first) return true;
        // Written again in the default format and read back.
        std::string stored;
        processing::AppendLogLine(stored, processing::kDefaultLogFormat, *first);
        size_t again = 0;
        processing::ForEachStoredLine(stored, [&](const std::string& written) {
            ++again;
            const std::optional<core::EventRecord> second = Parse(platform::Utf8ToAnsi(written));
            // An event without raw text ("<13", blanks) is stored as a bare
            // suffix, which the intake refuses; the reload says so on stderr.
            if (first->Raw().empty()) return true;
            QM_FUZZ_CHECK(second.has_value());
            // A raw text that keeps a '|' (a line ending in one: no suffix
            // began) reads back cut at that bar, as any forwarded line would.
            if (first->Raw().find('|') == std::string::npos) {
                QM_FUZZ_CHECK(second->Raw() == first->Raw());
                QM_FUZZ_CHECK(second->sender == first->sender);
                QM_FUZZ_CHECK(second->time.day == first->time.day && second->time.year == first->time.year &&
                              second->time.milliseconds == first->time.milliseconds);
            }
            return true;
        });
        QM_FUZZ_CHECK(again == 1);
        return true;
    });
    QM_FUZZ_CHECK(lines <= size / 2);
    return 0;
}
