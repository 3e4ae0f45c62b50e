#pragma once
// Splits the syslog header that follows the priority into fields (RFC 5424,
// RFC 3164 and the forms devices really send), so windows, rules and the
// JSON feed can show and select by host, application and the like.
//
// The fields are places in the message text, not copies: a record keeps its
// text once however many fields it has, and a message without a header costs
// nothing but this small block.
#include <cstdint>
#include <string_view>

namespace qm::core {

// Where a field lies in the message; `size` 0 means the message has none.
struct HeaderSpan {
    uint16_t at = 0;
    uint16_t size = 0;
    std::string_view In(std::string_view message) const {
        return size == 0 || size_t{at} + size > message.size() ? std::string_view() : message.substr(at, size);
    }
};

enum class HeaderForm : uint8_t {
    kNone,     // nothing recognised: the whole message is the body
    kRfc3164,  // BSD form: TIMESTAMP HOSTNAME TAG[PID]: MSG and its variants
    kRfc5424,  // VERSION TIMESTAMP HOSTNAME APP-NAME PROCID MSGID SD MSG
};

struct SyslogHeader {
    HeaderForm form = HeaderForm::kNone;
    HeaderSpan time;   // the sender's own time stamp, as it wrote it
    HeaderSpan host;
    HeaderSpan app;    // RFC 5424 APP-NAME, the RFC 3164 tag
    HeaderSpan procId;
    HeaderSpan msgId;
    HeaderSpan data;   // RFC 5424 structured data, the brackets included
    uint32_t bodyAt = 0;  // MSG runs from here to the end of the message
};

// Best effort: never fails, and a message that fits no form is all body.
// RFC 5424's nil value "-" reads as an absent field; a UTF-8 byte-order mark
// before MSG is not part of the body. Fields that would lie past 64 KiB into
// the message are left out.
SyslogHeader ParseSyslogHeader(std::string_view message);

}  // namespace qm::core
