#include "platform/codepage.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <array>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <optional>
#include <memory>
#include <type_traits>
#include <vector>

#include "platform/single_byte_charset.h"
#include "platform/utf16.h"

namespace qm::platform {

namespace {

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
        out.append(kReplacementUtf8);
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

// Charset numbers: kUtf8Text, then the ANSI charset when iconv has to decode
// it (a multi-byte one), then the single-byte tables in the order they were
// first used. A table stays for the whole run, since records keep its number.
constexpr TextCharset kAnsiByIconv = 1;
constexpr TextCharset kFirstTable = 2;
constexpr size_t kMaxTables = 256 - kFirstTable;

class CharsetRegistry {
public:
    static CharsetRegistry& Instance() {
        static CharsetRegistry registry;
        return registry;
    }

    // The table's number, or nothing when the charset is not single-byte or
    // the numbers are used up.
    std::optional<TextCharset> Register(const std::string& name) {
        std::lock_guard lock(mutex_);
        for (size_t i = 0; i < count_; ++i) {
            if (owned_[i]->Name() == name) return static_cast<TextCharset>(kFirstTable + i);
        }
        if (count_ == kMaxTables) return std::nullopt;
        std::unique_ptr<SingleByteCharset> table = SingleByteCharset::Build(name);
        if (!table && name == "ISO-8859-1") table = SingleByteCharset::Latin1();
        if (!table) return std::nullopt;
        owned_[count_] = std::move(table);
        tables_[count_].store(owned_[count_].get(), std::memory_order_release);
        return static_cast<TextCharset>(kFirstTable + count_++);
    }

    const SingleByteCharset* Table(TextCharset id) const {
        if (id < kFirstTable) return nullptr;
        return tables_[id - kFirstTable].load(std::memory_order_acquire);
    }

    TextCharset Fallback() {
        TextCharset id = fallback_.load(std::memory_order_acquire);
        if (id != 0) return id;
        // First use: the default, or Latin-1, which needs no iconv, when even that is missing.
        std::optional<TextCharset> made = Register(kDefaultFallbackCharset);
        if (!made) made = Register("ISO-8859-1");
        if (!made) made = kFirstTable;  // every number taken: the first table stays
        TextCharset expected = 0;
        fallback_.compare_exchange_strong(expected, *made, std::memory_order_acq_rel);
        return fallback_.load(std::memory_order_acquire);
    }
    void SetFallback(TextCharset id) { fallback_.store(id, std::memory_order_release); }

private:
    std::mutex mutex_;
    std::array<std::unique_ptr<SingleByteCharset>, kMaxTables> owned_;  // written under mutex_
    std::array<std::atomic<const SingleByteCharset*>, kMaxTables> tables_{};
    size_t count_ = 0;
    std::atomic<TextCharset> fallback_{0};  // 0: not chosen yet
};

struct AnsiDecoding {
    bool utf8 = false;
    TextCharset charset = kUtf8Text;  // a table, or kAnsiByIconv
};

// Every received line goes through here: look at the locale's charset once.
const AnsiDecoding& Ansi() {
    static const AnsiDecoding ansi = [] {
        AnsiDecoding a;
        a.utf8 = IsUtf8Charset(AnsiCharset());
        if (a.utf8) return a;
        a.charset = CharsetRegistry::Instance().Register(AnsiCharset()).value_or(kAnsiByIconv);
        return a;
    }();
    return ansi;
}

// Text in a multi-byte ANSI charset, or nothing when a byte does not decode.
std::optional<std::string> IconvExactly(iconv_t cd, std::string_view input) {
    bool failed = false;
    std::string out = IconvAll(cd, input, input.size() * 2, [&failed](std::string_view rest, std::string&) {
        failed = true;
        return rest.size();
    });
    if (failed) return std::nullopt;
    return out;
}

// True when `bytes` decode with the multi-byte ANSI charset and the text
// encodes back to the same bytes (some charsets have two spellings of a character).
bool AnsiRoundTrips(std::string_view bytes) {
    if (bytes.empty()) return true;
    iconv_t in = Converter("UTF-8", AnsiCharset().c_str());
    if (!in) return false;
    const std::optional<std::string> text = IconvExactly(in, bytes);
    if (!text) return false;
    iconv_t out = Converter(AnsiCharset().c_str(), "UTF-8");
    if (!out) return false;
    const std::optional<std::string> back = IconvExactly(out, *text);
    return back && *back == bytes;
}

}  // namespace

bool SetFallbackCharset(const std::string& name) {
    CharsetRegistry& registry = CharsetRegistry::Instance();
    const std::optional<TextCharset> id = registry.Register(name);
    if (!id) return false;
    registry.SetFallback(*id);
    return true;
}

std::string FallbackCharset() {
    CharsetRegistry& registry = CharsetRegistry::Instance();
    return registry.Table(registry.Fallback())->Name();
}

TextCharset ChooseCharset(std::initializer_list<std::string_view> parts) {
    const AnsiDecoding& ansi = Ansi();
    if (ansi.utf8) {
        bool valid = true;
        for (std::string_view part : parts) valid = valid && IsValidUtf8(part);
        if (valid) return kUtf8Text;
    } else if (ansi.charset != kAnsiByIconv) {
        return ansi.charset;
    } else {
        bool exact = true;
        for (std::string_view part : parts) exact = exact && AnsiRoundTrips(part);
        if (exact) return kAnsiByIconv;
    }
    return CharsetRegistry::Instance().Fallback();
}

std::string DecodeWith(std::string_view bytes, TextCharset charset) {
    if (bytes.empty()) return {};
    if (charset == kUtf8Text) return SanitizeUtf8(bytes);
    if (charset == kAnsiByIconv) return ConvertToUtf8(bytes, AnsiCharset().c_str());
    if (const SingleByteCharset* table = CharsetRegistry::Instance().Table(charset)) return table->Decode(bytes);
    return SanitizeUtf8(bytes);
}

std::string EncodeAsReceived(std::string_view text, TextCharset charset) {
    if (text.empty()) return {};
    if (charset == kUtf8Text) return std::string(text);
    if (charset == kAnsiByIconv) return ConvertFromUtf8(text, AnsiCharset().c_str());
    if (const SingleByteCharset* table = CharsetRegistry::Instance().Table(charset)) return table->Encode(text);
    return std::string(text);
}

std::string_view CharsetName(TextCharset charset) {
    if (charset == kAnsiByIconv) return AnsiCharset();
    if (const SingleByteCharset* table = CharsetRegistry::Instance().Table(charset)) return table->Name();
    return "UTF-8";
}

ReceivedText DecodeReceived(std::string_view bytes) {
    ReceivedText out;
    out.charset = ChooseCharset({bytes});
    out.text = DecodeWith(bytes, out.charset);
    return out;
}

std::string AnsiToUtf8(std::string_view bytes) { return DecodeReceived(bytes).text; }

std::string Utf8ToAnsi(std::string_view text) {
    if (Ansi().utf8) return text.empty() ? std::string() : SanitizeUtf8(text, "?");
    return ConvertFromUtf8(text, AnsiCharset().c_str());
}

std::string ConvertToUtf8(std::string_view bytes, const char* charset) {
    if (!charset) charset = AnsiCharset().c_str();
    if (bytes.empty()) return {};
    if (IsUtf8Charset(charset)) return SanitizeUtf8(bytes);
    iconv_t cd = Converter("UTF-8", charset);
    if (!cd) return SanitizeUtf8(bytes);
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
