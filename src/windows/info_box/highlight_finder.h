#pragma once
// Which stretches of an info box's text its highlighting rules mark. Each
// enabled rule searches the text from the start for its start marker, then
// for its end marker after it; the text between the two is an occurrence.
// Occurrences are numbered from 0; those numbered at least the rule's first
// occurrence and, with a limit that is not negative, below the limit are
// marked. The search is exact (case-sensitive). A rule with an empty start or
// end marker marks nothing.
#include <cstddef>
#include <string_view>
#include <vector>

#include "windows/info_content.h"

namespace qm::windows {

// One marked stretch, in two measures of the same text: bytes of the UTF-8
// text, and UTF-16 code units of that text converted by platform::Utf8ToUtf16
// (what a QString made with QString::fromUtf16 of that conversion indexes).
struct TextSpan {
    size_t begin = 0;
    size_t end = 0;
    size_t unitBegin = 0;
    size_t unitEnd = 0;

    bool operator==(const TextSpan&) const = default;
};

struct HighlightSpan {
    size_t rule = 0;  // index into InfoContent::highlights: its format applies
    TextSpan span;
};

// The marked occurrences of one rule, in text order (nothing when disabled).
std::vector<TextSpan> FindOccurrences(std::string_view text, const HighlightRule& rule);

// Every rule's spans, rule 0 first: where spans of two rules overlap, the
// later rule's format is applied last and wins.
std::vector<HighlightSpan> FindHighlights(const InfoContent& content);

}  // namespace qm::windows
