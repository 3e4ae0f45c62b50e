#include <cinttypes>
#include <cstdio>

#include "platform/codepage.h"
#include "polling/poll_output.h"
#include "polling/snmp/snmp_poll.h"

namespace qm::polling::snmp {

namespace {

using core::Reading;

int Divisor(uint8_t correct) {
    if (correct & kCorrectDiv10) return 10;
    if (correct & kCorrectDiv100) return 100;
    if (correct & kCorrectDiv1000) return 1000;
    return 0;
}

template <typename... A>
std::string Format(const char* format, A... args) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, args...);
    return buf;
}

ValueText Signed(int32_t v, const OidEntry& e, std::string_view marker) {
    ValueText out;
    out.breach = BreachesLimits(v, e);
    const int div = Divisor(e.correct);
    std::string text = div ? Format("%.1f", static_cast<double>(v) / div) : Format("%d", v);
    if (out.breach) text += marker;
    out.text = std::move(text);
    out.reading = core::Reading::I32(v);
    return out;
}

ValueText Unsigned32(uint32_t v, const OidEntry& e, std::string_view marker) {
    ValueText out;
    out.breach = (e.enableMax && v >= static_cast<uint32_t>(e.maxVal)) ||
                 (e.enableMin && v <= static_cast<uint32_t>(e.minVal));
    const int div = Divisor(e.correct);
    std::string text = div ? Format("%.1f", static_cast<double>(v) / div) : Format("%u", v);
    if (out.breach) text += marker;
    out.text = std::move(text);
    out.reading = core::Reading::U32(v);
    return out;
}

ValueText Unsigned64(uint64_t v, const OidEntry& e, std::string_view marker) {
    ValueText out;
    // The limits widened with their sign, then compared unsigned.
    const auto widen = [](int32_t limit) { return static_cast<uint64_t>(static_cast<int64_t>(limit)); };
    out.breach = (e.enableMax && v >= widen(e.maxVal)) || (e.enableMin && v <= widen(e.minVal));
    const int div = Divisor(e.correct);
    std::string text = div ? Format("%.1f", static_cast<double>(v) / div) : Format("%" PRIu64, v);
    if (out.breach) text += marker;
    out.text = std::move(text);
    out.reading = core::Reading::U64(v);
    return out;
}

std::string TimeTicksText(uint32_t ticks) {
    const uint32_t s = ticks / 100;
    const uint32_t h = s / 3600 % 24, m = s / 60 % 60, sec = s % 60;
    if (s < 86400) return Format("%.2u:%.2u:%.2u", h, m, sec);
    return Format("%u day %.2u:%.2u:%.2u", s / 86400, h, m, sec);
}

}  // namespace

ValueText MakeValueText(const SnmpValue& value, const OidEntry& entry, std::string_view marker) {
    switch (value.type) {
        case kTypeInteger:
            return Signed(static_cast<int32_t>(value.number), entry, marker);
        case kTypeOctetString: {
            if (value.bytes.empty()) return {};
            if (Divisor(entry.correct) == 0 && (entry.correct & kCorrectHex)) {
                std::string text;
                for (unsigned char b : value.bytes) text += Format(text.empty() ? "%.2X" : "-%.2X", b);
                return {std::move(text), false, std::nullopt};
            }
            if (Divisor(entry.correct) || (entry.correct & kCorrectToInt))
                return Signed(ReadDeviceDecimal(value.bytes), entry, marker);
            return {DefuseDeviceText(platform::AnsiToUtf8(value.bytes)), false, std::nullopt};
        }
        case kTypeIpAddress: {
            std::string text;
            for (unsigned char b : value.bytes) text += Format(text.empty() ? "%u" : ".%u", unsigned{b});
            if (text.empty()) return {};
            return {std::move(text), false, std::nullopt};
        }
        case kTypeCounter32:
        case kTypeGauge32:
        case kTypeUInteger32:
            return Unsigned32(static_cast<uint32_t>(value.number), entry, marker);
        case kTypeTimeTicks:
            return {TimeTicksText(static_cast<uint32_t>(value.number)), false,
                    core::Reading::U32(static_cast<uint32_t>(value.number))};
        case kTypeCounter64:
            return Unsigned64(value.number, entry, marker);
        default:
            return {};
    }
}

}  // namespace qm::polling::snmp
