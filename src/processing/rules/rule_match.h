#pragma once
// What a rule does to one event: the match of its conditions against the
// event and the effect of its actions, kept apart from the module so that a
// caller holding a rule copy needs nothing else.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/event_record.h"
#include "processing/rules/list_index.h"
#include "processing/rules/rules_settings.h"

namespace qm::processing {

// The first list with this UID that is neither marked for deletion nor disabled.
const MatchList* FindList(const ListTable& lists, uint64_t uid);

// Prepared forms of the lists, by slot number; a list without one (past the
// end, or null) is searched entry by entry, with the same result.
using ListIndexes = std::span<const std::unique_ptr<ListIndex>>;

// True when the rule's conditions hold for the event. The rule's own
// deletion mark and enable flag are the caller's business (look-up by UID).
bool MatchRule(const Rule& rule, const core::EventRecord& event, const ListTable& lists, ListIndexes indexes = {});

// The message with every occurrence of `cut` replaced by one space, searched
// left to right without overlaps; an empty `cut` changes nothing.
std::string CutText(std::string_view message, std::string_view cut);

// What the window shows for an event after its rules have run.
struct RuleOutcome {
    std::optional<std::string> sender;   // replaces the sender column (no name look-up then)
    std::optional<std::string> message;  // replaces the message column
    std::optional<RuleColors> colors;    // the rule's own colours, a fixed copy
    unsigned programsStarted = 0;
    unsigned rulesMatched = 0;           // rules whose actions ran
};

// The text and colour actions of a matched rule, over what earlier rules gave.
void ApplyTextAndColor(const Rule& rule, const core::EventRecord& event, RuleOutcome& outcome);

// True when the rule starts a program for this event: the flag, a program
// named, and an event from the network or a poller.
bool WantsStart(const Rule& rule, const core::EventRecord& event);
// The program's argument vector: StartCmd, sequence number, severity, sender
// and message, each one argument however it is spelt. A NUL byte, which an
// argument cannot carry, is passed as a space.
std::vector<std::string> StartArguments(const Rule& rule, const core::EventRecord& event);

// Where an event's colours come from when no rule gave any.
enum class ColorSource : uint8_t { Rule, Scheme, List };

struct ColorChoice {
    ColorSource source = ColorSource::List;
    // Scheme: the scheme index (0..9). List: 0, the list colours
    // `ListColor.0` (background) and `ListColor.1` (text). A window keeps the
    // index, not the values, so that a later change of the scheme or the
    // list colours repaints the row; rule colours stay as they were copied.
    size_t index = 0;
    RuleColors colors;
};

// 8 for System events whatever their severity, the severity for 0..7, else 9.
size_t SchemeIndex(const core::EventRecord& event);

ColorChoice ChooseColors(const std::optional<RuleColors>& ruleColors, const core::EventRecord& event,
                         bool schemeOption, const ColorScheme& scheme, const std::array<uint32_t, 6>& listColors);

}  // namespace qm::processing
