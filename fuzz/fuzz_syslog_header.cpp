// The header reader on any message text: every field it names lies inside
// the message, in the order the header writes them, ahead of the body.
#include <cstdint>
#include <string_view>

#include "core/syslog_header.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view message(reinterpret_cast<const char*>(data), size);
    const qm::core::SyslogHeader h = qm::core::ParseSyslogHeader(message);
    QM_FUZZ_CHECK(h.bodyAt <= message.size());
    size_t last = 0;
    for (const qm::core::HeaderSpan& span : {h.time, h.host, h.app, h.procId, h.msgId, h.data}) {
        if (span.size == 0) continue;
        QM_FUZZ_CHECK(span.at >= last && size_t{span.at} + span.size <= h.bodyAt);
        QM_FUZZ_CHECK(span.In(message).size() == span.size);
        last = span.at + span.size;
    }
    if (h.form == qm::core::HeaderForm::kNone) QM_FUZZ_CHECK(h.bodyAt == 0 && last == 0);
    return 0;
}
