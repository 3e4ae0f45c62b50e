#include "platform/codepage.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <cerrno>
#include <memory>
#include <type_traits>
#include <vector>

namespace qm::platform {

namespace {

constexpr std::string_view kReplacementChar = "\xEF\xBF\xBD";  // U+FFFD

// Charset names come in many spellings ("UTF-8", "utf8", "ISO_8859-1");
// compare them on letters and digits only, ignoring case.
bool IsCharsetNamed(std::string_view name, std::string_view canonical) {
    size_t j = 0;
    for (char ch : name) {
        auto c = static_cast<unsigned char>(ch);
        if (!std::isalnum(c)) continue;
        if (j == canonical.size() || std::tolower(c) != canonical[j]) return false;
        ++j;
    }
    return j == canonical.size();
}

bool IsUtf8Charset(std::string_view name) { return IsCharsetNamed(name, "utf8"); }

bool IsAsciiCharset(std::string_view name) {
    return IsCharsetNamed(name, "ansix341968") || IsCharsetNamed(name, "ascii") ||
           IsCharsetNamed(name, "usascii");
}

// Length of the well-formed UTF-8 sequence at the start of s, or 0 if there
// is none. Overlong forms, surrogates and code points above U+10FFFF are not
// well-formed.
size_t Utf8SequenceLength(std::string_view s) {
    auto at = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char lead = at(0);
    if (lead < 0x80) return 1;
    size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        len = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        len = 3;
        if (lead == 0xE0) lo = 0xA0;
        if (lead == 0xED) hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        len = 4;
        if (lead == 0xF0) lo = 0x90;
        if (lead == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (s.size() < len || at(1) < lo || at(1) > hi) return 0;
    for (size_t i = 2; i < len; ++i) {
        if ((at(i) & 0xC0) != 0x80) return 0;
    }
    return len;
}

// Each byte that does not begin a well-formed sequence is replaced on its
// own, so a damaged character costs only its own bytes, never the rest.
std::string SanitizeUtf8(std::string_view s, std::string_view replacement) {
    std::string out;
    out.reserve(s.size());
    size_t runStart = 0;
    size_t i = 0;
    while (i < s.size()) {
        if (static_cast<unsigned char>(s[i]) < 0x80) {
            ++i;
            continue;
        }
        if (size_t n = Utf8SequenceLength(s.substr(i))) {
            i += n;
            continue;
        }
        out.append(s.data() + runStart, i - runStart);
        out.append(replacement);
        runStart = ++i;
    }
    out.append(s.data() + runStart, s.size() - runStart);
    return out;
}

std::string Utf8ToAscii(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        size_t n = Utf8SequenceLength(s.substr(i));
        out += n == 1 ? s[i] : '?';
        i += n ? n : 1;
    }
    return out;
}

struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvPtr = std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvCloser>;

// An iconv_t carries conversion state and must not be shared between
// threads; opening one per call costs more than most conversions, so each
// thread keeps the few it has used.
class ConverterCache {
public:
    // nullptr when iconv does not know one of the charsets.
    iconv_t Get(const char* to, const char* from) {
        for (auto& e : entries_) {
            if (e.to == to && e.from == from) {
                if (e.cd) iconv(e.cd.get(), nullptr, nullptr, nullptr, nullptr);
                return e.cd.get();
            }
        }
        if (entries_.size() >= kMaxEntries) entries_.erase(entries_.begin());
        iconv_t cd = iconv_open(to, from);
        IconvPtr handle(cd == reinterpret_cast<iconv_t>(-1) ? nullptr : cd);
        // Failures are remembered too, so a misconfigured charset is not
        // looked up again for every message.
        entries_.push_back({to, from, std::move(handle)});
        return entries_.back().cd.get();
    }

private:
    static constexpr size_t kMaxEntries = 8;
    struct Entry {
        std::string to;
        std::string from;
        IconvPtr cd;
    };
    std::vector<Entry> entries_;
};

iconv_t Converter(const char* to, const char* from) {
    thread_local ConverterCache cache;
    return cache.Get(to, from);
}

// Puts the charset back into its initial shift state; only stateful
// charsets write anything here.
void FinishShiftState(iconv_t cd, std::string& out) {
    char buf[64];
    char* o = buf;
    size_t oLeft = sizeof buf;
    iconv(cd, nullptr, nullptr, &o, &oLeft);
    out.append(buf, static_cast<size_t>(o - buf));
}

// Runs iconv over all of `input`; where it stops on a byte it cannot take,
// `onBadInput` appends a stand-in and returns how many input bytes to skip.
template <typename OnBadInput>
std::string IconvAll(iconv_t cd, std::string_view input, size_t reserve, OnBadInput onBadInput) {
    std::string out;
    out.reserve(reserve);
    char* in = const_cast<char*>(input.data());  // iconv's signature predates const
    size_t inLeft = input.size();
    char buf[1024];
    while (inLeft > 0) {
        char* o = buf;
        size_t oLeft = sizeof buf;
        size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        int err = errno;
        out.append(buf, static_cast<size_t>(o - buf));
        if (r != static_cast<size_t>(-1) || (err == E2BIG && o != buf)) continue;
        size_t n = onBadInput(std::string_view(in, inLeft), out);
        in += n;
        inLeft -= n;
    }
    FinishShiftState(cd, out);
    return out;
}

std::string IconvToUtf8(iconv_t cd, std::string_view bytes) {
    // EILSEQ, or EINVAL for a sequence cut off at the end of the data.
    return IconvAll(cd, bytes, bytes.size() + bytes.size() / 2, [](std::string_view, std::string& out) {
        out.append(kReplacementChar);
        return size_t(1);
    });
}

// Writes '?' as the target charset spells it, in its current shift state.
void AppendQuestionMark(iconv_t cd, std::string& out) {
    char q = '?';
    char* in = &q;
    size_t inLeft = 1;
    char buf[16];
    char* o = buf;
    size_t oLeft = sizeof buf;
    if (iconv(cd, &in, &inLeft, &o, &oLeft) != static_cast<size_t>(-1)) {
        out.append(buf, static_cast<size_t>(o - buf));
    }
}

std::string IconvFromUtf8(iconv_t cd, std::string_view text) {
    // iconv says EILSEQ both for a character the charset lacks and for bytes
    // that are not UTF-8: the former is skipped whole, the latter one byte at a time.
    return IconvAll(cd, text, text.size(), [cd](std::string_view rest, std::string& out) {
        size_t n = Utf8SequenceLength(rest);
        AppendQuestionMark(cd, out);
        return n == 0 ? size_t(1) : n;
    });
}

struct LocaleFreer {
    void operator()(std::remove_pointer_t<locale_t>* loc) const { freelocale(loc); }
};

std::string DetectAnsiCharset() {
    // newlocale reads LC_ALL / LC_CTYPE / LANG exactly as
    // setlocale(LC_CTYPE, "") would, but into a private object, so the
    // global locale that the rest of the program (and its libraries) see
    // stays as it is.
    std::unique_ptr<std::remove_pointer_t<locale_t>, LocaleFreer> loc(
        newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr)));
    // A service started by init or systemd usually has no LANG and so runs
    // under the C locale, whose charset is ASCII; the same happens when the
    // configured locale is not installed. Decoding as ASCII would turn every
    // byte above 0x7F into U+FFFD, while decoding as UTF-8 leaves ASCII text
    // exactly as it is and also shows the text of the many senders that
    // write UTF-8.
    if (!loc) return "UTF-8";
    const char* codeset = nl_langinfo_l(CODESET, loc.get());
    if (!codeset || !*codeset || IsAsciiCharset(codeset)) return "UTF-8";
    return codeset;
}

}  // namespace

const std::string& AnsiCharset() {
    static const std::string charset = DetectAnsiCharset();
    return charset;
}

namespace {
// Every received line goes through here: decide once whether the charset is UTF-8.
bool AnsiIsUtf8() {
    static const bool utf8 = IsUtf8Charset(AnsiCharset());
    return utf8;
}
}  // namespace

std::string AnsiToUtf8(std::string_view bytes) {
    if (AnsiIsUtf8()) return bytes.empty() ? std::string() : SanitizeUtf8(bytes, kReplacementChar);
    return ConvertToUtf8(bytes, AnsiCharset().c_str());
}

std::string Utf8ToAnsi(std::string_view text) {
    if (AnsiIsUtf8()) return text.empty() ? std::string() : SanitizeUtf8(text, "?");
    return ConvertFromUtf8(text, AnsiCharset().c_str());
}

std::string ConvertToUtf8(std::string_view bytes, const char* charset) {
    if (!charset) charset = AnsiCharset().c_str();
    if (bytes.empty()) return {};
    if (IsUtf8Charset(charset)) return SanitizeUtf8(bytes, kReplacementChar);
    iconv_t cd = Converter("UTF-8", charset);
    if (!cd) return SanitizeUtf8(bytes, kReplacementChar);
    return IconvToUtf8(cd, bytes);
}

std::string ConvertFromUtf8(std::string_view text, const char* charset) {
    if (!charset) charset = AnsiCharset().c_str();
    if (text.empty()) return {};
    if (IsUtf8Charset(charset)) return SanitizeUtf8(text, "?");
    iconv_t cd = Converter(charset, "UTF-8");
    if (!cd) return Utf8ToAscii(text);
    return IconvFromUtf8(cd, text);
}

}  // namespace qm::platform
