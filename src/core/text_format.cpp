#include "core/text_format.h"

#include <algorithm>
#include <cstdio>

#include "platform/utf16.h"

namespace qm::core {

namespace {

enum class Length { Default, Short, Long64 };

struct Conversion {
    std::string flags;
    std::string width;
    std::string precision;  // without the dot; `hasPrecision` tells an empty one
    bool hasPrecision = false;
    Length length = Length::Default;
    char letter = 0;
};

// Parses the conversion after a '%' at `pos`; advances `pos` past it.
std::optional<Conversion> ParseConversion(std::string_view f, size_t& pos) {
    Conversion c;
    while (pos < f.size() && std::string_view("-+ #0").find(f[pos]) != std::string_view::npos) c.flags += f[pos++];
    while (pos < f.size() && f[pos] >= '0' && f[pos] <= '9') c.width += f[pos++];
    if (c.width.size() > 4) return std::nullopt;  // no text of ours pads beyond 9999
    if (pos < f.size() && f[pos] == '.') {
        c.hasPrecision = true;
        ++pos;
        while (pos < f.size() && f[pos] >= '0' && f[pos] <= '9') c.precision += f[pos++];
        if (c.precision.size() > 4) return std::nullopt;
    }
    // Length modifiers, including the Windows I64/I32 forms the texts use.
    if (f.substr(pos, 3) == "I64") {
        c.length = Length::Long64;
        pos += 3;
    } else if (f.substr(pos, 3) == "I32") {
        pos += 3;
    } else if (f.substr(pos, 2) == "ll") {
        c.length = Length::Long64;
        pos += 2;
    } else if (pos < f.size() && (f[pos] == 'l' || f[pos] == 'h' || f[pos] == 'w' || f[pos] == 'z')) {
        if (f[pos] == 'h') c.length = Length::Short;
        if (f[pos] == 'z') c.length = Length::Long64;
        ++pos;
    }
    if (pos >= f.size()) return std::nullopt;
    c.letter = f[pos++];
    return c;
}

std::optional<ArgKind> KindOf(char letter) {
    switch (letter) {
        case 'd': case 'i': case 'u': case 'x': case 'X': case 'o': case 'c': return ArgKind::Integer;
        case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': return ArgKind::Float;
        case 's': case 'S': return ArgKind::String;
        default: return std::nullopt;
    }
}

std::string FormatInteger(const Conversion& c, const FormatArg& a) {
    if (c.letter == 'c') {
        // A character code: program text is UTF-8, so encode it as such.
        std::u16string one(1, static_cast<char16_t>(a.bits));
        return platform::Utf16ToUtf8(one);
    }
    const bool signedConv = c.letter == 'd' || c.letter == 'i';
    std::string conversion = "%" + c.flags + c.width + (c.hasPrecision ? "." + c.precision : "") + "ll" + c.letter;
    // Without I64 the value is as wide as the C int it stood for, so -1 with %u reads 4294967295.
    long long sv = static_cast<long long>(a.bits);
    unsigned long long uv = a.bits;
    if (c.length == Length::Default) {
        sv = static_cast<int32_t>(a.bits);
        uv = static_cast<uint32_t>(a.bits);
    } else if (c.length == Length::Short) {
        sv = static_cast<int16_t>(a.bits);
        uv = static_cast<uint16_t>(a.bits);
    }
    char buf[128];
    int n = signedConv ? std::snprintf(buf, sizeof buf, conversion.c_str(), sv) : std::snprintf(buf, sizeof buf, conversion.c_str(), uv);
    return n < 0 ? std::string() : std::string(buf, std::min<size_t>(size_t(n), sizeof buf - 1));
}

std::string FormatFloat(const Conversion& c, const FormatArg& a) {
    std::string conversion = "%" + c.flags + c.width + (c.hasPrecision ? "." + c.precision : "") + c.letter;
    char buf[512];
    int n = std::snprintf(buf, sizeof buf, conversion.c_str(), a.real);
    return n < 0 ? std::string() : std::string(buf, std::min<size_t>(size_t(n), sizeof buf - 1));
}

std::string FormatString(const Conversion& c, const FormatArg& a) {
    // Width and precision count characters (UTF-16 units), never bytes, so a
    // Cyrillic text is neither cut in the middle of a letter nor padded short.
    std::string text(a.text);
    if (c.hasPrecision) text = platform::TruncateUtf16(text, c.precision.empty() ? 0 : std::stoul(c.precision));
    if (!c.width.empty()) {
        const size_t width = std::stoul(c.width);
        const size_t len = platform::Utf16Length(text);
        if (len < width) {
            std::string pad(width - len, ' ');
            text = c.flags.find('-') != std::string::npos ? text + pad : pad + text;
        }
    }
    return text;
}

}  // namespace

std::optional<std::vector<ArgKind>> FormatSignature(std::string_view format) {
    std::vector<ArgKind> kinds;
    for (size_t pos = 0; pos < format.size();) {
        if (format[pos++] != '%') continue;
        if (pos < format.size() && format[pos] == '%') {
            ++pos;
            continue;
        }
        std::optional<Conversion> c = ParseConversion(format, pos);
        if (!c) return std::nullopt;
        std::optional<ArgKind> kind = KindOf(c->letter);
        if (!kind) return std::nullopt;
        kinds.push_back(*kind);
    }
    return kinds;
}

bool FormatTakesPrefixOf(std::string_view format, std::span<const ArgKind> expected) {
    const std::optional<std::vector<ArgKind>> kinds = FormatSignature(format);
    return kinds && kinds->size() <= expected.size() && std::equal(kinds->begin(), kinds->end(), expected.begin());
}

std::optional<std::string> FormatText(std::string_view format, std::span<const FormatArg> args, bool allowUnusedArgs) {
    std::string out;
    out.reserve(format.size() + 16 * args.size());
    size_t next = 0;
    for (size_t pos = 0; pos < format.size();) {
        const char ch = format[pos++];
        if (ch != '%') {
            out += ch;
            continue;
        }
        if (pos < format.size() && format[pos] == '%') {
            out += '%';
            ++pos;
            continue;
        }
        std::optional<Conversion> c = ParseConversion(format, pos);
        if (!c) return std::nullopt;
        std::optional<ArgKind> kind = KindOf(c->letter);
        if (!kind || next >= args.size() || args[next].kind != *kind) return std::nullopt;
        const FormatArg& a = args[next++];
        switch (*kind) {
            case ArgKind::Integer: out += FormatInteger(*c, a); break;
            case ArgKind::Float: out += FormatFloat(*c, a); break;
            case ArgKind::String: out += FormatString(*c, a); break;
        }
    }
    if (next != args.size() && !allowUnusedArgs) return std::nullopt;
    return out;
}

}  // namespace qm::core
