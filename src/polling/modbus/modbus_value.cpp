#include "polling/modbus/modbus_value.h"

#include <cstdint>
#include <cstdio>

#include "polling/poll_output.h"

namespace qm::polling::modbus {

namespace {

uint32_t Divisor(uint8_t correct) {
    switch (correct) {
        case kCorrectTenth: return 10;
        case kCorrectHundredth: return 100;
        case kCorrectThousandth: return 1000;
        default: return 1;
    }
}

int32_t SignExtended(const RawValue& raw) {
    if (raw.width == 16) return static_cast<int16_t>(static_cast<uint16_t>(raw.bits));
    return static_cast<int32_t>(raw.bits);
}

// One decimal per power of ten of the divisor; a plain reading shows as the
// type shows it.
template <typename Number>
std::string Text(const char* plain, Number q, float divided, uint32_t divisor) {
    char buf[64];
    switch (divisor) {
        case 10: std::snprintf(buf, sizeof buf, "%.1f", static_cast<double>(divided)); break;
        case 100: std::snprintf(buf, sizeof buf, "%.2f", static_cast<double>(divided)); break;
        case 1000: std::snprintf(buf, sizeof buf, "%.3f", static_cast<double>(divided)); break;
        default: std::snprintf(buf, sizeof buf, plain, q); break;
    }
    return buf;
}

}  // namespace

EntryValue ConvertValue(const RegisterEntry& entry, std::optional<RawValue> raw, std::string_view marker) {
    EntryValue out;
    const uint32_t d = Divisor(entry.correct);
    int64_t limited = 0;  // what the limits are compared with
    if (!raw) {
        out.warning = true;
        return out;
    }
    switch (entry.type) {
        case kTypeSigned:
        case kTypeFloat: {
            const int32_t r = SignExtended(*raw);
            // Truncated toward zero, as the integer division does.
            const int32_t q = r / static_cast<int32_t>(d);
            const float divided = static_cast<float>(r) / static_cast<float>(d);
            if (entry.type == kTypeSigned) {
                out.text = Text("%d", q, divided, d);
            } else {
                char buf[64];
                std::snprintf(buf, sizeof buf, "%.2f", static_cast<double>(divided));
                out.text = d == 1 ? std::string(buf) : Text("%d", q, divided, d);
            }
            out.reading = core::Reading::I64(q);
            limited = q;
            break;
        }
        case kTypeUnsigned: {
            const uint32_t r = raw->bits;
            const uint32_t q = r / d;
            out.text = Text("%u", q, static_cast<float>(r) / static_cast<float>(d), d);
            out.reading = core::Reading::U64(q);
            // The limits are signed numbers: the reading is compared as one.
            limited = static_cast<int32_t>(q);
            break;
        }
        default:  // String, or a type no reading is made of
            out.warning = true;
            return out;
    }
    if (BreachesLimits(limited, entry)) {
        *out.text += marker;
        out.warning = true;
    }
    return out;
}

}  // namespace qm::polling::modbus
