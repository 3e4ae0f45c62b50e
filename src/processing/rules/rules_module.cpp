#include "processing/rules/rules_module.h"

#include <algorithm>

#include "core/core_context.h"
#include "platform/process.h"

namespace qm::processing {

using platform::Blocking;
using platform::GuardedLock;

std::unique_ptr<core::Module> CreateRulesModule(core::CoreContext& core) { return std::make_unique<RulesModule>(core); }

RulesModule::RulesModule(core::CoreContext& core) : Module(core, core::kModuleRules, "mod_rules") {}

void RulesModule::Load(const core::SettingsSection& section) {
    LoadRulesSettings(section, settings_);
    // Records from an older file may have been saved before they had a UID;
    // windows and conditions can only refer to them once they have one.
    for (auto& slot : settings_.rules) AssignUid(slot.record);
    for (auto& slot : settings_.lists) AssignUid(slot.record);
    listIndexes_.clear();
    for (size_t i = 0; i < settings_.lists.size(); ++i) Reindex(i);
}

void RulesModule::Reindex(size_t slot) {
    if (listIndexes_.size() <= slot) listIndexes_.resize(slot + 1);
    listIndexes_[slot] = std::make_unique<ListIndex>(settings_.lists[slot].record.entries);
}

void RulesModule::SaveTo(core::SettingsSection& section) { SaveRulesSettings(section, settings_); }

void RulesModule::AssignUid(Rule& rule) const {
    if (rule.uid == 0) rule.uid = core::FreshId(settings_.rules, &Rule::uid, core_.SecondsSinceEpoch());
}

void RulesModule::AssignUid(MatchList& list) const {
    if (list.uid == 0) list.uid = core::FreshId(settings_.lists, &MatchList::uid, core_.SecondsSinceEpoch());
}

std::optional<size_t> RulesModule::AddRule(const Rule& rule) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    if (!lock) return std::nullopt;
    Rule r = rule;
    FitToCapacity(r);
    AssignUid(r);
    return settings_.rules.Add(r);
}

bool RulesModule::ReplaceRule(size_t index, const Rule& rule) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    if (!lock || index >= settings_.rules.size()) return false;
    Rule r = rule;
    FitToCapacity(r);
    AssignUid(r);
    return settings_.rules.Replace(index, r);
}

bool RulesModule::DeleteRule(size_t index, bool deleted) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    return lock && settings_.rules.MarkDeleted(index, deleted);
}

std::optional<RulesModule::RuleSlot> RulesModule::RuleAt(size_t index) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    if (!lock || index >= settings_.rules.size()) return std::nullopt;
    return settings_.rules[index];
}

size_t RulesModule::RuleCount() {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::Yes);
    return settings_.rules.size();
}

std::optional<size_t> RulesModule::AddList(const MatchList& list) {
    if (list.entries.size() > kMaxListEntries) return std::nullopt;
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    if (!lock) return std::nullopt;
    MatchList l = list;
    FitToCapacity(l);
    AssignUid(l);
    const std::optional<size_t> slot = settings_.lists.Add(l);
    if (slot) Reindex(*slot);
    return slot;
}

bool RulesModule::ReplaceList(size_t index, const MatchList& list) {
    if (list.entries.size() > kMaxListEntries) return false;
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    if (!lock || index >= settings_.lists.size()) return false;
    MatchList l = list;
    FitToCapacity(l);
    AssignUid(l);
    if (!settings_.lists.Replace(index, l)) return false;
    Reindex(index);
    return true;
}

bool RulesModule::DeleteList(size_t index, bool deleted) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    return lock && settings_.lists.MarkDeleted(index, deleted);
}

std::optional<RulesModule::ListSlot> RulesModule::ListAt(size_t index) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    if (!lock || index >= settings_.lists.size()) return std::nullopt;
    return settings_.lists[index];
}

size_t RulesModule::ListCount() {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::Yes);
    return settings_.lists.size();
}

bool RulesModule::SetScheme(const ColorScheme& scheme) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    if (!lock) return false;
    settings_.scheme = scheme;
    return true;
}

ColorScheme RulesModule::Scheme() {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::Yes);
    return settings_.scheme;
}

const Rule* RulesModule::FindLiveRule(uint64_t uid) const {
    for (const auto& slot : settings_.rules) {
        if (!slot.deleted && slot.record.enable && slot.record.uid == uid) return &slot.record;
    }
    return nullptr;
}

bool RulesModule::Matches(const Rule& rule, const core::EventRecord& event) const {
    return MatchRule(rule, event, settings_.lists, listIndexes_);
}

std::optional<Rule> RulesModule::FindRule(uint64_t uid) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::Yes);
    const Rule* rule = FindLiveRule(uid);
    if (!rule) return std::nullopt;
    return *rule;
}

std::optional<Rule> RulesModule::MatchedCopy(uint64_t uid, const core::EventRecord& event, bool doNotAdd) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::Yes);
    const Rule* rule = FindLiveRule(uid);
    if (!rule || rule->Has(kDoNotAdd) != doNotAdd || !Matches(*rule, event)) return std::nullopt;
    return *rule;
}

bool RulesModule::DoNotAdd(const core::EventRecord& event, std::span<const uint64_t> ruleSelection) {
    for (uint64_t uid : ruleSelection) {
        GuardedLock lock(Lock(), core_.counters.locks, Blocking::Yes);
        const Rule* rule = FindLiveRule(uid);
        if (rule && rule->Has(kDoNotAdd) && Matches(*rule, event)) return true;
    }
    return false;
}

RuleOutcome RulesModule::Apply(const core::EventRecord& event, std::span<const uint64_t> ruleSelection) {
    RuleOutcome outcome;
    for (uint64_t uid : ruleSelection) {
        const std::optional<Rule> rule = MatchedCopy(uid, event, false);
        if (!rule) continue;
        ++outcome.rulesMatched;
        ApplyTextAndColor(*rule, event, outcome);
        // The program gets the event's own texts, never the replaced ones,
        // as separate arguments without a shell; a failed start is silent.
        if (WantsStart(*rule, event) && platform::StartDetached(StartArguments(*rule, event)).error == 0) {
            ++outcome.programsStarted;
        }
        if (!rule->Has(kContinue)) break;
    }
    return outcome;
}

}  // namespace qm::processing
