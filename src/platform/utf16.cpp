#include "platform/utf16.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qm::platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

struct Decoded {
    char32_t cp;
    size_t length;  // bytes consumed; 1 for an invalid byte
    bool valid;
};

// Strict decoding: a bad sequence consumes only its first byte, so each of
// the following bytes gets its own chance (and its own U+FFFD if bad).
Decoded DecodeUtf8(std::string_view s, size_t i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) return {b0, 1, true};
    const Decoded bad{kReplacement, 1, false};
    size_t trail;
    char32_t cp;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        trail = 1;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        trail = 2;
        cp = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        trail = 3;
        cp = b0 & 0x07;
    } else {
        return bad;
    }
    if (s.size() - i <= trail) return bad;
    for (size_t k = 1; k <= trail; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return bad;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (trail == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return bad;
    if (trail == 3 && (cp < 0x10000 || cp > 0x10FFFF)) return bad;
    return {cp, trail + 1, true};
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

template <typename Sink>
void ForEachUnit(std::string_view utf8, Sink&& sink) {
    for (size_t i = 0; i < utf8.size();) {
        const Decoded d = DecodeUtf8(utf8, i);
        if (d.cp >= 0x10000) {
            const char32_t v = d.cp - 0x10000;
            sink(static_cast<char16_t>(0xD800 | (v >> 10)));
            sink(static_cast<char16_t>(0xDC00 | (v & 0x3FF)));
        } else {
            sink(static_cast<char16_t>(d.cp));
        }
        i += d.length;
    }
}

// unitAt(k) yields the k-th of count UTF-16 units.
template <typename UnitAt>
std::string DecodeUtf16(size_t count, UnitAt&& unitAt) {
    std::string out;
    out.reserve(count);
    for (size_t k = 0; k < count; ++k) {
        const char16_t u = unitAt(k);
        if (u >= 0xD800 && u <= 0xDBFF && k + 1 < count) {
            const char16_t low = unitAt(k + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (low - 0xDC00));
                ++k;
                continue;
            }
        }
        AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : char32_t(u));
    }
    return out;
}

}  // namespace

size_t AsciiPrefix(std::string_view s) {
    size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        uint64_t word;
        std::memcpy(&word, s.data() + i, 8);
        if (word & 0x8080808080808080ull) break;
    }
    while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80) ++i;
    return i;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    ForEachUnit(utf8, [&](char16_t u) { out += u; });
    return out;
}

std::string Utf16ToUtf8(std::u16string_view u16) {
    return DecodeUtf16(u16.size(), [&](size_t k) { return u16[k]; });
}

void AppendUtf16LEBytes(std::string& out, std::string_view utf8) {
    // Log lines are mostly ASCII, and every line the log writer stores goes
    // through here: the ASCII run at the front is widened sixteen bytes at a
    // time, and only what follows its first other byte is decoded.
    const size_t start = out.size();
    out.resize(start + utf8.size() * 2);
    char* w = out.data() + start;
    const char* r = utf8.data();
    const size_t n = utf8.size();
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + i));
        if (_mm_movemask_epi8(v) != 0) break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(w + 2 * i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(w + 2 * i + 16), _mm_unpackhi_epi8(v, zero));
    }
#endif
    for (; i < n && static_cast<unsigned char>(r[i]) < 0x80; ++i) {
        w[2 * i] = r[i];
        w[2 * i + 1] = '\0';
    }
    if (i == n) return;
    out.resize(start + 2 * i);
    ForEachUnit(utf8.substr(i), [&](char16_t u) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    });
}

std::string Utf8ToUtf16LEBytes(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size() * 2);
    AppendUtf16LEBytes(out, utf8);
    return out;
}

std::string Utf16LEBytesToUtf8(std::string_view bytes) {
    std::string out = DecodeUtf16(bytes.size() / 2, [&](size_t k) {
        return static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * k]) |
                                     (static_cast<unsigned char>(bytes[2 * k + 1]) << 8));
    });
    if (bytes.size() % 2 != 0) AppendUtf8(out, kReplacement);
    return out;
}

size_t Utf8SequenceLength(std::string_view bytes) {
    if (bytes.empty()) return 0;
    const Decoded d = DecodeUtf8(bytes, 0);
    return d.valid ? d.length : 0;
}

bool IsValidUtf8(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        i += AsciiPrefix(bytes.substr(i));
        if (i == bytes.size()) break;
        // Most lines are ASCII: skip it without decoding.
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        const Decoded d = DecodeUtf8(bytes, i);
        if (!d.valid) return false;
        i += d.length;
    }
    return true;
}

std::string SanitizeUtf8(std::string_view bytes, std::string_view replacement) {
    std::string out;
    out.reserve(bytes.size());
    size_t runStart = 0;  // valid bytes are copied in runs rather than re-encoded
    for (size_t i = 0; i < bytes.size();) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        const Decoded d = DecodeUtf8(bytes, i);
        if (!d.valid) {
            out.append(bytes.substr(runStart, i - runStart));
            out.append(replacement);
            runStart = i + 1;
        }
        i += d.length;
    }
    out.append(bytes.substr(runStart));
    return out;
}

size_t Utf16Length(std::string_view utf8) {
    size_t units = 0;
    for (size_t i = 0; i < utf8.size();) {
        const Decoded d = DecodeUtf8(utf8, i);
        units += d.cp >= 0x10000 ? 2 : 1;
        i += d.length;
    }
    return units;
}

std::string TruncateUtf16(std::string_view utf8, size_t maxUnits) {
    size_t units = 0;
    size_t i = 0;
    while (i < utf8.size()) {
        const Decoded d = DecodeUtf8(utf8, i);
        const size_t need = d.cp >= 0x10000 ? 2 : 1;
        if (maxUnits - units < need) break;
        units += need;
        i += d.length;
    }
    return std::string(utf8.substr(0, i));
}

}  // namespace qm::platform
