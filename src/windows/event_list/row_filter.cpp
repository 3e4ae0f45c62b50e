#include "windows/event_list/row_filter.h"

namespace qm::windows {

std::optional<RowFilter> RowFilter::Make(const FilterTerms& terms, std::string* error) {
    std::optional<platform::TextPattern> text;
    if (!terms.text.empty()) {
        text = platform::TextPattern::Compile(terms.text, terms.regex, terms.matchCase, error);
        if (!text) return std::nullopt;
    }
    // Senders and hosts are names and addresses: a part of one, any case.
    std::optional<platform::TextPattern> source;
    if (!terms.source.empty()) source = platform::TextPattern::Compile(terms.source, false, false);
    return RowFilter(terms, std::move(text), std::move(source));
}

bool RowFilter::Matches(const FilterSubject& row) const {
    // The cheap test first: most filtered rows fail on their level.
    if (terms_.severityAtLeast != kAnySeverity && row.severity > terms_.severityAtLeast) return false;
    if (source_ && !source_->FoundIn(row.senderShown) && !source_->FoundIn(row.senderAddress) &&
        !source_->FoundIn(row.host))
        return false;
    return !text_ || text_->FoundIn(row.message);
}

}  // namespace qm::windows
