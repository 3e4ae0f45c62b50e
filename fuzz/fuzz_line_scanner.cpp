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
    // The message is the raw text's tail: the record decodes the whole line
    // in one charset and cuts the message out of the decoded raw text, so
    // decoding the parts on their own must give the same.
    const std::string_view raw = scanned->raw;
    const std::string_view message = scanned->message;
    const std::string_view sender = scanned->relayed && scanned->suffix.hasSender ? scanned->suffix.sender : std::string_view();
    const qm::platform::TextCharset charset = qm::platform::ChooseCharset({raw, sender});
    if (!message.empty()) {
        QM_FUZZ_CHECK(!raw.empty() && message.data() + message.size() == raw.data() + raw.size());
        const std::string rawText = qm::platform::DecodeWith(raw, charset);
        const std::string messageText = qm::platform::DecodeWith(message, charset);
        const std::string headText = qm::platform::DecodeWith(raw.substr(0, raw.size() - message.size()), charset);
        QM_FUZZ_CHECK(rawText == headText + messageText);
    }
    // And every byte comes back as it was received, as the relay sends it.
    QM_FUZZ_CHECK(qm::platform::EncodeAsReceived(qm::platform::DecodeWith(raw, charset), charset) == raw);
    return 0;
}
