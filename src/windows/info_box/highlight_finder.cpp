#include "windows/info_box/highlight_finder.h"

#include "platform/utf16.h"

namespace qm::windows {

namespace {

// Byte offsets to UTF-16 offsets, walking forward only: each call measures
// just the text since the previous one.
class UnitCounter {
public:
    explicit UnitCounter(std::string_view text) : text_(text) {}
    size_t At(size_t byte) {
        units_ += platform::Utf16Length(text_.substr(byte_, byte - byte_));
        byte_ = byte;
        return units_;
    }

private:
    std::string_view text_;
    size_t byte_ = 0;
    size_t units_ = 0;
};

}  // namespace

std::vector<TextSpan> FindOccurrences(std::string_view text, const HighlightRule& rule) {
    std::vector<TextSpan> spans;
    // An empty marker is found everywhere and would never move the search on.
    if (!rule.enabled || rule.startMarker.empty() || rule.endMarker.empty()) return spans;
    if (rule.limit >= 0 && rule.limit <= rule.firstOccurrence) return spans;
    UnitCounter units(text);
    size_t from = 0;
    for (int64_t number = 0; rule.limit < 0 || number < rule.limit; ++number) {
        const size_t start = text.find(rule.startMarker, from);
        if (start == std::string_view::npos) break;
        const size_t begin = start + rule.startMarker.size();
        const size_t end = text.find(rule.endMarker, begin);
        if (end == std::string_view::npos) break;
        from = end + rule.endMarker.size();
        if (number < rule.firstOccurrence) continue;
        TextSpan span{begin, end, 0, 0};
        span.unitBegin = units.At(begin);
        span.unitEnd = units.At(end);
        spans.push_back(span);
    }
    return spans;
}

std::vector<HighlightSpan> FindHighlights(const InfoContent& content) {
    std::vector<HighlightSpan> out;
    for (size_t rule = 0; rule < content.highlights.size(); ++rule) {
        for (const TextSpan& span : FindOccurrences(content.text, content.highlights[rule])) out.push_back(HighlightSpan{rule, span});
    }
    return out;
}

}  // namespace qm::windows
