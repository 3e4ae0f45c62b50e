// The header reader on any message text: every field it names lies inside
// the message ahead of the body, holds no control character, and an RFC 5424
// header's fields come in the order it writes them.
#include <cstdint>
#include <string_view>

#include "core/syslog_header.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view message(reinterpret_cast<const char*>(data), size);
    const qm::core::SyslogHeader h = qm::core::ParseSyslogHeader(message);
    QM_FUZZ_CHECK(h.bodyAt <= message.size());
    bool any = false;
    const qm::core::HeaderSpan spans[] = {h.host, h.time, h.app, h.procId, h.msgId, h.data};
    for (const qm::core::HeaderSpan& span : spans) {
        if (span.size == 0) continue;
        QM_FUZZ_CHECK(size_t{span.at} + span.size <= h.bodyAt);
        QM_FUZZ_CHECK(span.In(message).size() == span.size);
        // Only structured data's quoted values may hold any byte.
        for (size_t i = span.at; &span != &spans[5] && i < size_t{span.at} + span.size; ++i)
            QM_FUZZ_CHECK(static_cast<unsigned char>(message[i]) >= ' ' && message[i] != 127);
        any = true;
    }
    // RFC 3164 forms may put the host before the time; RFC 5424 has one order.
    size_t last = 0;
    if (h.form == qm::core::HeaderForm::kRfc5424) {
        for (const qm::core::HeaderSpan& span : {h.time, h.host, h.app, h.procId, h.msgId, h.data}) {
            if (span.size == 0) continue;
            QM_FUZZ_CHECK(span.at >= last);
            last = span.at + span.size;
        }
    }
    if (h.form == qm::core::HeaderForm::kNone) QM_FUZZ_CHECK(h.bodyAt == 0 && !any);
    return 0;
}
