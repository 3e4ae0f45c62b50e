#include "platform/single_byte_charset.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <set>
#include <utility>

#include "platform/utf16.h"

namespace qm::platform {

namespace {

constexpr char32_t kUndefined = 0xFFFFFFFF;
constexpr char32_t kPrivateUseBase = 0xF700;

char32_t CodePointOf(std::string_view sequence) {
    const auto b = [&](size_t i) { return char32_t(static_cast<unsigned char>(sequence[i])); };
    switch (sequence.size()) {
        case 1: return b(0);
        case 2: return ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
        case 3: return ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
        default: return ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
    }
}

// What one byte decodes to on its own: a character, kUndefined when the
// charset has none for it, nothing when the byte needs more bytes after it.
std::optional<char32_t> DecodeOneByte(iconv_t cd, unsigned char byte) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char in = static_cast<char>(byte);
    char* inPtr = &in;
    size_t inLeft = 1;
    char out[32];
    char* outPtr = out;
    size_t outLeft = sizeof out;
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1))
        return errno == EINVAL ? std::nullopt : std::optional(kUndefined);
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    const std::string_view text(out, size_t(outPtr - out));
    // No output means a shift byte of a stateful charset: not single-byte.
    if (text.empty()) return std::nullopt;
    // Several characters (a decomposed letter) cannot come back to one byte.
    if (Utf8SequenceLength(text) != text.size()) return kUndefined;
    return CodePointOf(text);
}

}  // namespace

std::unique_ptr<SingleByteCharset> SingleByteCharset::Build(const std::string& name) {
    const iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
    std::array<char32_t, 256> codePoints{};
    std::set<char32_t> taken;
    bool singleByte = true;
    for (unsigned b = 0; b < 256 && singleByte; ++b) {
        const std::optional<char32_t> cp = DecodeOneByte(cd, static_cast<unsigned char>(b));
        if (!cp) singleByte = false;
        else if (*cp != kUndefined && !taken.insert(*cp).second) codePoints[b] = kUndefined;  // a second byte for it
        else codePoints[b] = *cp;
    }
    iconv_close(cd);
    if (!singleByte) return nullptr;
    for (unsigned b = 0; b < 256; ++b) {
        if (codePoints[b] != kUndefined) continue;
        char32_t cp = b;
        if (taken.count(cp)) {
            cp = kPrivateUseBase + b;
            while (taken.count(cp)) ++cp;
        }
        taken.insert(cp);
        codePoints[b] = cp;
    }
    return std::make_unique<SingleByteCharset>(name, codePoints);
}

std::unique_ptr<SingleByteCharset> SingleByteCharset::Latin1() {
    std::array<char32_t, 256> codePoints{};
    for (unsigned b = 0; b < 256; ++b) codePoints[b] = b;
    return std::make_unique<SingleByteCharset>("ISO-8859-1", codePoints);
}

SingleByteCharset::SingleByteCharset(std::string name, const std::array<char32_t, 256>& codePoints)
    : name_(std::move(name)) {
    encode_.reserve(256);
    for (unsigned b = 0; b < 256; ++b) {
        const char32_t cp = codePoints[b];
        Utf8Char& c = decode_[b];
        if (cp < 0x80) {
            c.bytes[0] = static_cast<char>(cp);
            c.length = 1;
        } else if (cp < 0x800) {
            c.bytes[0] = static_cast<char>(0xC0 | (cp >> 6));
            c.bytes[1] = static_cast<char>(0x80 | (cp & 0x3F));
            c.length = 2;
        } else if (cp < 0x10000) {
            c.bytes[0] = static_cast<char>(0xE0 | (cp >> 12));
            c.bytes[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            c.bytes[2] = static_cast<char>(0x80 | (cp & 0x3F));
            c.length = 3;
        } else {
            c.bytes[0] = static_cast<char>(0xF0 | (cp >> 18));
            c.bytes[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            c.bytes[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            c.bytes[3] = static_cast<char>(0x80 | (cp & 0x3F));
            c.length = 4;
        }
        encode_.emplace_back(cp, static_cast<unsigned char>(b));
    }
    std::sort(encode_.begin(), encode_.end());
}

std::string SingleByteCharset::Decode(std::string_view bytes) const {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char byte : bytes) {
        const Utf8Char& c = decode_[static_cast<unsigned char>(byte)];
        out.append(c.bytes, c.length);
    }
    return out;
}

std::string SingleByteCharset::Encode(std::string_view utf8) const {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const size_t n = Utf8SequenceLength(utf8.substr(i));
        const char32_t cp = n ? CodePointOf(utf8.substr(i, n)) : kUndefined;
        const auto it = std::lower_bound(encode_.begin(), encode_.end(), std::make_pair(cp, static_cast<unsigned char>(0)));
        out += it != encode_.end() && it->first == cp ? static_cast<char>(it->second) : '?';
        i += n ? n : 1;
    }
    return out;
}

}  // namespace qm::platform
