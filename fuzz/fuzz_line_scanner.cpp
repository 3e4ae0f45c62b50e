// The intake's line parser on any datagram: priority, message, relay suffix,
// and the text conversions the event record makes of what it found.
#include <cstdint>
#include <string>

#include "core/line_scanner.h"
#include "fuzz_support.h"
#include "platform/codepage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string line(reinterpret_cast<const char*>(data), size);
    const std::optional<qm::core::ScannedLine> scanned = qm::core::ScanLine(line);
    if (!scanned) return 0;
    const char* begin = line.data();
    const char* end = begin + line.size();
    const auto inside = [&](std::string_view v) { return v.empty() || (v.data() >= begin && v.data() + v.size() <= end); };

    QM_FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
    QM_FUZZ_CHECK(scanned->severity <= 7 && scanned->facility <= 127);
    QM_FUZZ_CHECK(inside(scanned->raw) && inside(scanned->message) && inside(scanned->suffix.sender));
    QM_FUZZ_CHECK(scanned->raw.empty() || scanned->raw.data() == begin);
    // The message is the raw text's tail: the record cuts it out of the converted raw text.
    const std::string_view raw = scanned->raw;
    const std::string_view message = scanned->message;
    if (!message.empty()) {
        QM_FUZZ_CHECK(!raw.empty() && message.data() + message.size() == raw.data() + raw.size());
        const std::string rawText = qm::platform::AnsiToUtf8(raw);
        const std::string messageText = qm::platform::AnsiToUtf8(message);
        const std::string headText = qm::platform::AnsiToUtf8(raw.substr(0, raw.size() - message.size()));
        QM_FUZZ_CHECK(rawText == headText + messageText);
    }
    if (scanned->relayed && scanned->suffix.hasSender) (void)qm::platform::AnsiToUtf8(scanned->suffix.sender);
    return 0;
}
