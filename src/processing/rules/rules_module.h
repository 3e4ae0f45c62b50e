#pragma once
// The rules module (module id 0, section mod_rules): the rule table, the match
// lists and the severity colour scheme. Rules act only through the event list
// windows, each of which applies its own ordered selection of rule UIDs.
//
// Lock order for a window: its own lock first, then this module's. DoNotAdd
// and Apply take this module's lock once per rule of the selection, for the
// look-up and the match only; actions run on a copy of the rule without it.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "core/event_record.h"
#include "core/module.h"
#include "core/record_sets.h"
#include "processing/rules/rule_match.h"
#include "processing/rules/rules_settings.h"

namespace qm::processing {

class RulesModule : public core::Module, public core::RecordSets {
public:
    using RuleSlot = RuleTable::Slot;
    using ListSlot = ListTable::Slot;

    explicit RulesModule(core::CoreContext& core);

    void Load(const core::SettingsSection& section) override;
    void SaveTo(core::SettingsSection& section) override;

    // Record operations for the settings dialog and the command handlers.
    // Each tries the module lock three times; a record whose UID is 0 is
    // given a new one, distinct from every UID in its table and never 0.
    // Texts are cut to what their fields hold.
    std::optional<size_t> AddRule(const Rule& rule);
    bool ReplaceRule(size_t index, const Rule& rule);
    bool DeleteRule(size_t index, bool deleted = true);
    std::optional<RuleSlot> RuleAt(size_t index);
    size_t RuleCount();

    std::optional<size_t> AddList(const MatchList& list);
    bool ReplaceList(size_t index, const MatchList& list);
    bool DeleteList(size_t index, bool deleted = true);
    std::optional<ListSlot> ListAt(size_t index);
    size_t ListCount();

    bool SetScheme(const ColorScheme& scheme);
    // The live scheme; waits for the lock, as the event workers do.
    ColorScheme Scheme();

    // The rules (items), the lists, each list's entries and the colour
    // scheme (the common block), for editors that know them by field names.
    // An entry's deletion mark removes it from its list.
    core::RecordSets* Records() override { return this; }
    bool Has(core::RecordSet) const override { return true; }
    std::optional<std::vector<core::RecordCopy>> Copy(core::SetRef set) override;
    core::RecordCopy Blank(core::SetRef set) const override;
    bool Add(core::SetRef set, const core::RecordCopy& record) override;
    bool Replace(core::SetRef set, size_t index, const core::RecordCopy& record,
                 const core::RecordCopy& original) override;

    // The first rule with this UID that is live and enabled, copied.
    std::optional<Rule> FindRule(uint64_t uid);

    // True when a do-not-add rule of the selection matches: the event is
    // kept out of the window. Other rules play no part here.
    bool DoNotAdd(const core::EventRecord& event, std::span<const uint64_t> ruleSelection);
    // Runs the selection's other rules in order: text, colour and start
    // actions of each matching rule, until one without "continue" matches.
    RuleOutcome Apply(const core::EventRecord& event, std::span<const uint64_t> ruleSelection);

    // For callers that already hold Lock(): the live, enabled rule with this
    // UID (valid while the lock is held), and the match against this
    // module's lists.
    const Rule* FindLiveRule(uint64_t uid) const;
    bool Matches(const Rule& rule, const core::EventRecord& event) const;

private:
    void AssignUid(Rule& rule) const;
    void AssignUid(MatchList& list) const;
    // The rule to act on for one UID of a selection, copied under the lock
    // when it matches and its do-not-add flag is as wanted.
    std::optional<Rule> MatchedCopy(uint64_t uid, const core::EventRecord& event, bool doNotAdd);
    // Prepares the list in this slot for matching, after every change of it.
    void Reindex(size_t slot);

    RulesSettings settings_;
    std::vector<std::unique_ptr<ListIndex>> listIndexes_;  // by list slot
};

std::unique_ptr<core::Module> CreateRulesModule(core::CoreContext& core);

}  // namespace qm::processing
