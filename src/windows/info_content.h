#pragma once
// What a caller hands to an info box: title, body, status texts and up to
// three highlighting rules. The body is always shown as plain text: it can
// hold network data and script output, so no markup in it is interpreted.
#include <array>
#include <cstdint>
#include <string>

namespace qm::windows {

// The formatting a highlighting rule gives to what it marks.
struct CharFormat {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool hasColor = false;
    uint32_t color = 0;  // 0x00BBGGRR, as the settings keep colours
};

struct HighlightRule {
    bool enabled = false;
    CharFormat format;
    std::string startMarker;
    std::string endMarker;
    int32_t firstOccurrence = 0;  // occurrences are counted from 0
    int32_t limit = -1;           // negative: no limit
};

struct InfoContent {
    std::string title;
    std::string text;
    bool wordWrap = true;
    int32_t icon = -1;  // negative: none
    std::array<std::string, 4> status;
    std::array<HighlightRule, 3> highlights;
};

}  // namespace qm::windows
