#include "core/syslog_header.h"

#include <algorithm>
#include <array>
#include <optional>

namespace qm::core {
namespace {

constexpr size_t kNotFound = std::string_view::npos;
constexpr size_t kSpanLimit = 0xFFFF;
constexpr size_t kTagLimit = 48;   // RFC 5424's APP-NAME; RFC 3164 says 32, devices send more
constexpr size_t kPidLimit = 128;
constexpr size_t kHostLimit = 255;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsPrintable(char c) { return c > ' ' && c < 127; }

HeaderSpan Span(size_t at, size_t size) {
    if (size == 0 || at + size > kSpanLimit) return {};
    return {static_cast<uint16_t>(at), static_cast<uint16_t>(size)};
}

// `n` digits at `at`.
bool Digits(std::string_view m, size_t at, size_t n) {
    if (at + n > m.size()) return false;
    for (size_t i = 0; i < n; ++i)
        if (!IsDigit(m[at + i])) return false;
    return true;
}

bool At(std::string_view m, size_t at, char c) { return at < m.size() && m[at] == c; }

size_t SkipSpaces(std::string_view m, size_t at) {
    while (at < m.size() && m[at] == ' ') ++at;
    return at;
}

// hh:mm:ss with an optional fraction; the end, or kNotFound.
size_t MatchClock(std::string_view m, size_t at) {
    if (!Digits(m, at, 2) || !At(m, at + 2, ':') || !Digits(m, at + 3, 2) || !At(m, at + 5, ':') ||
        !Digits(m, at + 6, 2))
        return kNotFound;
    at += 8;
    if (At(m, at, '.') && Digits(m, at + 1, 1)) {
        ++at;
        while (at < m.size() && IsDigit(m[at])) ++at;
    }
    return at;
}

// RFC 3339 as RFC 5424 and rsyslog's forwarding templates write it, also
// with a space instead of the 'T' as some appliances do.
size_t MatchIsoTime(std::string_view m, size_t at) {
    if (!Digits(m, at, 4) || !At(m, at + 4, '-') || !Digits(m, at + 5, 2) || !At(m, at + 7, '-') ||
        !Digits(m, at + 8, 2) || !(At(m, at + 10, 'T') || At(m, at + 10, ' ')))
        return kNotFound;
    at = MatchClock(m, at + 11);
    if (at == kNotFound) return kNotFound;
    if (At(m, at, 'Z')) return at + 1;
    if ((At(m, at, '+') || At(m, at, '-')) && Digits(m, at + 1, 2)) {
        if (At(m, at + 3, ':') && Digits(m, at + 4, 2)) return at + 6;
        if (Digits(m, at + 3, 2)) return at + 5;
    }
    return at;
}

// "Mmm dd hh:mm:ss", the day space-padded or not, with an optional year
// before the clock and fraction after it (network gear adds both), and the
// marks '*' (clock not synchronised) or '.' some devices put in front.
size_t MatchBsdTime(std::string_view m, size_t at) {
    static constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (at + 3 > m.size()) return kNotFound;
    bool month = false;
    for (std::string_view name : kMonths) month = month || m.substr(at, 3) == name;
    if (!month || !At(m, at + 3, ' ')) return kNotFound;
    at += 4;
    if (At(m, at, ' ')) ++at;
    if (!Digits(m, at, 1)) return kNotFound;
    at += Digits(m, at + 1, 1) ? 2 : 1;
    if (!At(m, at, ' ')) return kNotFound;
    ++at;
    if (Digits(m, at, 4) && At(m, at + 4, ' ')) at += 5;
    return MatchClock(m, at);
}

size_t MatchTime(std::string_view m, size_t at) {
    const size_t from = (At(m, at, '*') || At(m, at, '.')) ? at + 1 : at;
    size_t end = MatchIsoTime(m, from);
    if (end == kNotFound) end = MatchBsdTime(m, from);
    // The stamp must end its word; a trailing colon belongs to some devices' form.
    if (end == kNotFound || !(end == m.size() || m[end] == ' ' || m[end] == ':')) return kNotFound;
    return end;
}

// The end of the word at `at`, or kNotFound past `limit` bytes: header words
// are short, and a long message without spaces is not scanned to its end.
size_t WordEnd(std::string_view m, size_t at, size_t limit) {
    const size_t stop = std::min(m.size(), at + limit + 1);
    const size_t q = m.substr(0, stop).find(' ', at);
    if (q == kNotFound) return stop - at > limit ? kNotFound : stop;
    return q;
}

// A host name word: no control characters (names in UTF-8 are let through).
bool HostWord(std::string_view m, size_t at, size_t end) {
    for (size_t q = at; q < end; ++q)
        if (static_cast<unsigned char>(m[q]) < ' ' || m[q] == 127) return false;
    return end > at;
}

// A tag: TAG: or TAG[PID]: followed by a space or the end. Senders that
// leave the colon out are understood only with a PID after a time stamp:
// a plain word there is as likely the first word of the message.
struct Tag {
    HeaderSpan app, procId;
    size_t end = kNotFound;  // past the tag and its colon
};

Tag MatchTag(std::string_view m, size_t at, bool colonOptional) {
    Tag tag;
    size_t q = at;
    while (q < m.size() && q - at <= kTagLimit && IsPrintable(m[q]) && m[q] != ':' && m[q] != '[') ++q;
    if (q == at || q - at > kTagLimit) return tag;
    tag.app = Span(at, q - at);
    if (At(m, q, '[')) {
        const size_t pidAt = q + 1;
        size_t close = pidAt;
        while (close < m.size() && close - pidAt <= kPidLimit && IsPrintable(m[close]) && m[close] != ']') ++close;
        if (!At(m, close, ']') || close - pidAt > kPidLimit) return Tag();
        tag.procId = Span(pidAt, close - pidAt);
        q = close + 1;
    }
    const bool colon = At(m, q, ':');
    if (colon) ++q;
    if (q < m.size() && m[q] != ' ') return Tag();
    if (!colon && !(colonOptional && tag.procId.size != 0)) return Tag();
    tag.end = q;
    return tag;
}

// The body begins after one separating space.
uint32_t BodyFrom(std::string_view m, size_t at) {
    return static_cast<uint32_t>(At(m, at, ' ') ? at + 1 : at);
}

std::optional<SyslogHeader> Parse5424(std::string_view m) {
    size_t p = 0;
    while (p < m.size() && p < 3 && IsDigit(m[p])) ++p;
    if (p == 0 || m[0] == '0' || !At(m, p, ' ')) return std::nullopt;
    ++p;

    // TIMESTAMP HOSTNAME APP-NAME PROCID MSGID, each a word of printable
    // ASCII within RFC 5424's lengths; "-" is the nil value.
    static constexpr std::array<size_t, 5> kLimits = {40, kHostLimit, kTagLimit, kPidLimit, 32};
    std::array<HeaderSpan, 5> fields;
    for (size_t i = 0; i < kLimits.size(); ++i) {
        const size_t end = WordEnd(m, p, kLimits[i]);
        if (end == kNotFound || end == p) return std::nullopt;
        for (size_t q = p; q < end; ++q)
            if (!IsPrintable(m[q])) return std::nullopt;
        const bool nil = end - p == 1 && m[p] == '-';
        if (i == 0 && !nil && MatchIsoTime(m, p) != end) return std::nullopt;
        if (!nil) fields[i] = Span(p, end - p);
        if (end == m.size()) {
            // A header cut short after MSGID still names its fields.
            if (i + 1 < kLimits.size()) return std::nullopt;
            p = end;
        } else {
            p = end + 1;
        }
    }
    SyslogHeader h;
    h.form = HeaderForm::kRfc5424;
    h.time = fields[0];
    h.host = fields[1];
    h.app = fields[2];
    h.procId = fields[3];
    h.msgId = fields[4];

    if (At(m, p, '-')) {
        ++p;
    } else if (At(m, p, '[')) {
        // SD-ELEMENTs follow one another without spaces; a ']' or '"'
        // inside a quoted value is escaped with a backslash.
        const size_t dataAt = p;
        size_t q = p;
        bool open = false;
        while (At(m, q, '[')) {
            bool quoted = false;
            for (++q; q < m.size(); ++q) {
                if (quoted) {
                    if (m[q] == '\\') ++q;
                    else if (m[q] == '"') quoted = false;
                } else if (m[q] == '"') {
                    quoted = true;
                } else if (m[q] == ']') {
                    break;
                }
            }
            if (q >= m.size()) {
                open = true;
                break;
            }
            ++q;
        }
        if (open) {
            // An element left open: the text is no structured data; it is body.
            h.bodyAt = static_cast<uint32_t>(dataAt);
            return h;
        }
        h.data = Span(dataAt, q - dataAt);
        p = q;
    }
    size_t body = BodyFrom(m, p);
    if (m.substr(body).starts_with("\xEF\xBB\xBF")) body += 3;
    h.bodyAt = static_cast<uint32_t>(body);
    return h;
}

SyslogHeader Parse3164(std::string_view m) {
    SyslogHeader h;
    size_t p = SkipSpaces(m, 0);
    // A sequence number ("123: ") as switches number their messages.
    size_t q = p;
    while (q < m.size() && IsDigit(m[q])) ++q;
    if (q > p && At(m, q, ':') && At(m, q + 1, ' ')) p = SkipSpaces(m, q + 1);

    size_t timeEnd = MatchTime(m, p);
    if (timeEnd == kNotFound) {
        // The host before the time stamp ("host: *Mar 1 …"), as some switches
        // name themselves.
        const size_t word = WordEnd(m, p, kHostLimit + 1);
        if (word != kNotFound && word > p + 1 && m[word - 1] == ':' && HostWord(m, p, word - 1)) {
            const size_t next = SkipSpaces(m, word);
            timeEnd = MatchTime(m, next);
            if (timeEnd != kNotFound) {
                h.host = Span(p, word - 1 - p);
                p = next;
            }
        }
    }
    if (timeEnd != kNotFound) {
        const size_t timeAt = (At(m, p, '*') || At(m, p, '.')) ? p + 1 : p;
        h.time = Span(timeAt, timeEnd - timeAt);
        h.form = HeaderForm::kRfc3164;
        p = timeEnd;
        if (At(m, p, ':')) ++p;
        p = SkipSpaces(m, p);
        if (h.host.size == 0) {
            // HOSTNAME, unless the word is already the tag (a sender that
            // leaves its name out).
            const Tag tag = MatchTag(m, p, false);
            if (tag.end == kNotFound) {
                const size_t word = WordEnd(m, p, kHostLimit);
                if (word != kNotFound && HostWord(m, p, word)) {
                    h.host = Span(p, word - p);
                    p = SkipSpaces(m, word);
                }
            }
        }
    }
    const Tag tag = MatchTag(m, p, h.form == HeaderForm::kRfc3164);
    if (tag.end != kNotFound) {
        h.form = HeaderForm::kRfc3164;
        h.app = tag.app;
        h.procId = tag.procId;
        p = tag.end;
    }
    if (h.form == HeaderForm::kNone) return SyslogHeader();
    h.bodyAt = BodyFrom(m, p);
    return h;
}

}  // namespace

SyslogHeader ParseSyslogHeader(std::string_view message) {
    if (std::optional<SyslogHeader> h = Parse5424(message)) return *h;
    return Parse3164(message);
}

}  // namespace qm::core
