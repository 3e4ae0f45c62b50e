#include "windows/event_list/row_filter.h"

namespace qm::windows {

std::optional<RowFilter> RowFilter::Make(const RowFilterSpec& spec, std::string* error) {
    std::optional<platform::TextPattern> text;
    if (!spec.text.empty()) {
        text = platform::TextPattern::Compile(spec.text, spec.regex, spec.matchCase, error);
        if (!text) return std::nullopt;
    }
    // Senders and hosts are names and addresses: a part of one, any case.
    std::optional<platform::TextPattern> source;
    if (!spec.source.empty()) source = platform::TextPattern::Compile(spec.source, false, false);
    return RowFilter(spec, std::move(text), std::move(source));
}

bool RowFilter::Matches(const FilterSubject& row) const {
    // The cheap test first: most filtered rows fail on their level.
    if (spec_.severityAtLeast != kAnySeverity && row.severity > spec_.severityAtLeast) return false;
    if (source_ && !source_->FoundIn(row.senderShown) && !source_->FoundIn(row.senderAddress) &&
        !source_->FoundIn(row.host))
        return false;
    return !text_ || text_->FoundIn(row.message);
}

}  // namespace qm::windows
