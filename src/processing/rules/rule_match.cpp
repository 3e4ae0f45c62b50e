#include "processing/rules/rule_match.h"

#include <algorithm>

#include "platform/socket_address.h"

namespace qm::processing {

namespace {

// Texts are UTF-8 here and UTF-16 in the stored form. For well-formed text,
// byte equality and byte substring occurrence agree with the same tests on
// UTF-16 code units (a UTF-8 pattern can only be found at character
// boundaries), so nothing is converted on this path.
bool Occurs(std::string_view subject, std::string_view pattern, bool whole) {
    return whole ? subject == pattern : subject.find(pattern) != std::string_view::npos;
}

// An IPv6 address has many spellings ("2001:DB8:0::7" is "2001:db8::7"),
// and the sender text has the shortest; a whole-text pattern that is an
// address matches that address however the rule's author wrote it.
bool SameIpv6Address(std::string_view sender, std::string_view pattern) {
    if (pattern.find(':') == std::string_view::npos || sender.find(':') == std::string_view::npos) return false;
    const auto a = platform::SocketAddress::Parse(sender, 0);
    const auto b = a ? platform::SocketAddress::Parse(pattern, 0) : std::nullopt;
    return b && *a == *b;
}

struct FoundList {
    const MatchList* list = nullptr;
    const ListIndex* index = nullptr;
};

std::string_view TextOf(uint8_t kind, const core::EventRecord& event) {
    switch (kind) {
        case kCondSender: return event.sender;
        case kCondMessage: return event.Message();
        case kCondHost: return event.Host();
        case kCondApp: return event.App();
        default: return event.MsgId();
    }
}

bool Condition(uint8_t kind, const std::string& pattern, FoundList found, bool whole,
               const core::EventRecord& event) {
    switch (kind) {
        case kCondSender:
        case kCondMessage:
        case kCondHost:
        case kCondApp:
        case kCondMsgId: {
            const std::string_view subject = TextOf(kind, event);
            // An event without the text has nothing to test, not an empty text.
            if (subject.empty()) return false;
            if (found.index) return whole ? found.index->AnyEquals(subject) : found.index->AnyOccursIn(subject);
            if (found.list) {
                return std::any_of(found.list->entries.begin(), found.list->entries.end(),
                                   [&](const std::string& entry) { return Occurs(subject, entry, whole); });
            }
            if (!pattern.empty() && pattern.front() == '*') return true;
            if (Occurs(subject, pattern, whole)) return true;
            return whole && kind == kCondSender && SameIpv6Address(subject, pattern);
        }
        case kCondSeverityUnknown:
            return event.severity == core::kNoSeverity;
        case kCondSystem:
            return (event.type & core::kEventSystem) != 0;
        case kCondExternal:
            return (event.type & core::kEventExternal) != 0;
        case kCondInternal:
            return (event.type & core::kEventInternal) != 0;
        case kCondArchive:
            return (event.type & core::kEventArchive) != 0;
        default:
            if (kind >= kCondSeverityFirst && kind <= kCondSeverityLast) return event.severity == uint32_t(kind - kCondSeverityFirst);
            return false;
    }
}

}  // namespace

const MatchList* FindList(const ListTable& lists, uint64_t uid) {
    for (const auto& slot : lists) {
        if (!slot.deleted && slot.record.enable && slot.record.uid == uid) return &slot.record;
    }
    return nullptr;
}

bool MatchRule(const Rule& rule, const core::EventRecord& event, const ListTable& lists, ListIndexes indexes) {
    FoundList list1;
    FoundList list2;
    if (rule.Has(kUseList1 | kUseList2)) {
        const bool want1 = rule.Has(kUseList1);
        const bool want2 = rule.Has(kUseList2);
        for (size_t i = 0; i < lists.size(); ++i) {
            const auto& slot = lists[i];
            if (slot.deleted || !slot.record.enable) continue;
            const ListIndex* index = i < indexes.size() ? indexes[i].get() : nullptr;
            if (want1 && !list1.list && slot.record.uid == rule.inListId1) list1 = {&slot.record, index};
            if (want2 && !list2.list && slot.record.uid == rule.inListId2) list2 = {&slot.record, index};
            if ((!want1 || list1.list) && (!want2 || list2.list)) break;
        }
    }
    const bool c1 = Condition(rule.inCond1, rule.strInCond1, list1, rule.Has(kWholeString1), event);
    if (rule.inMatch == kCond2Unused) return c1;
    // Condition 2 only when its value can still change the result.
    switch (rule.inMatch) {
        case kAnd:
            return c1 && Condition(rule.inCond2, rule.strInCond2, list2, rule.Has(kWholeString2), event);
        case kOr:
            return c1 || Condition(rule.inCond2, rule.strInCond2, list2, rule.Has(kWholeString2), event);
        case kExcept:
            return c1 && !Condition(rule.inCond2, rule.strInCond2, list2, rule.Has(kWholeString2), event);
        default:
            return false;
    }
}

std::string CutText(std::string_view message, std::string_view cut) {
    // An empty text occurs everywhere: cutting it would never advance.
    if (cut.empty()) return std::string(message);
    std::string out;
    out.reserve(message.size());
    size_t from = 0;
    for (size_t at; (at = message.find(cut, from)) != std::string_view::npos; from = at + cut.size()) {
        out.append(message, from, at - from);
        out.push_back(' ');
    }
    out.append(message, from);
    return out;
}

void ApplyTextAndColor(const Rule& rule, const core::EventRecord& event, RuleOutcome& outcome) {
    if (rule.Has(kTextAction)) {
        if (rule.outTextMode == kOutSender) {
            outcome.sender = rule.strOutText;
        } else if (rule.outTextMode == kOutMessage) {
            if (!rule.Has(kCutText)) {
                outcome.message = rule.strOutText;
            } else if (!rule.strOutText.empty()) {
                // Always from the event's own message, never an earlier rule's text.
                outcome.message = CutText(event.Message(), rule.strOutText);
            }
        }
    }
    if (rule.Has(kColorAction)) outcome.colors = rule.outColor;
}

bool WantsStart(const Rule& rule, const core::EventRecord& event) {
    constexpr uint32_t kFromOutside = core::kEventExternal | core::kEventInternal;
    constexpr uint32_t kNever = core::kEventSystem | core::kEventArchive;
    return rule.Has(kStartProgram) && !rule.startCmd.empty() && (event.type & kFromOutside) &&
           !(event.type & kNever);
}

std::vector<std::string> StartArguments(const Rule& rule, const core::EventRecord& event) {
    auto passable = [](std::string text) {
        std::replace(text.begin(), text.end(), '\0', ' ');
        return text;
    };
    return {passable(rule.startCmd), std::to_string(event.sequence),
            std::to_string(static_cast<int32_t>(event.severity)), passable(event.sender), passable(std::string(event.Message()))};
}

size_t SchemeIndex(const core::EventRecord& event) {
    if (event.type & core::kEventSystem) return kSchemeSystem;
    return event.severity <= 7 ? event.severity : kSchemeOther;
}

ColorChoice ChooseColors(const std::optional<RuleColors>& ruleColors, const core::EventRecord& event,
                         bool schemeOption, const ColorScheme& scheme, const std::array<uint32_t, 6>& listColors) {
    if (ruleColors) return {ColorSource::Rule, 0, *ruleColors};
    if (schemeOption) {
        const size_t i = SchemeIndex(event);
        return {ColorSource::Scheme, i, RuleColors{scheme.background[i], scheme.text[i]}};
    }
    return {ColorSource::List, 0, RuleColors{listColors[0], listColors[1]}};
}

}  // namespace qm::processing
