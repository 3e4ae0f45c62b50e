#pragma once
// Which rows of an event list a filter lets through: a text in the message
// (plain, or a regular expression; with or without regard to case), a
// lowest severity, and a part of the sender or of the host. A filter only
// hides rows; the window keeps every row it took.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/text_pattern.h"

namespace qm::windows {

// Severities are shown from 0 (Emergency) down to this; without a limit every
// row passes, also one whose severity was not decoded.
constexpr uint32_t kAnySeverity = UINT32_MAX;

// What the filter bar holds.
struct FilterTerms {
    std::string text;
    bool regex = false;
    bool matchCase = false;
    uint32_t severityAtLeast = kAnySeverity;  // the least severe level shown (0..7)
    std::string source;  // a part of the sender (as shown or as its address) or of the host

    // False when the filter would let every row through.
    bool Active() const { return !text.empty() || severityAtLeast != kAnySeverity || !source.empty(); }
    bool operator==(const FilterTerms&) const = default;
};

// What of a row the filter looks at.
struct FilterSubject {
    std::string_view message;  // the message column as shown
    uint32_t severity = 0;
    std::string_view senderShown;    // the sender column (a rule's text or a name)
    std::string_view senderAddress;  // the event's sender
    std::string_view host;           // the syslog header's host
};

class RowFilter {
public:
    // Nothing, and why in words, when the text is an expression that does
    // not compile.
    static std::optional<RowFilter> Make(const FilterTerms& terms, std::string* error = nullptr);

    const FilterTerms& Terms() const { return terms_; }
    bool Matches(const FilterSubject& row) const;

private:
    RowFilter(FilterTerms terms, std::optional<platform::TextPattern> text, std::optional<platform::TextPattern> source)
        : terms_(std::move(terms)), text_(std::move(text)), source_(std::move(source)) {}

    FilterTerms terms_;
    std::optional<platform::TextPattern> text_;    // none: every message
    std::optional<platform::TextPattern> source_;  // none: every sender
};

}  // namespace qm::windows
