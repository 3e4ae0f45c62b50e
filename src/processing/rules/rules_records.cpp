// The rules module seen through the record-set interface: what the settings
// dialog edits, by field names, under the same lock and UID rules as the
// module's own operations.
#include "core/core_context.h"
#include "processing/rules/rules_module.h"

namespace qm::processing {

using core::RecordCopy;
using core::RecordSet;
using core::SetRef;
using platform::Blocking;
using platform::GuardedLock;

std::optional<std::vector<RecordCopy>> RulesModule::Copy(SetRef set) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    if (!lock) return std::nullopt;
    switch (set.set) {
        case RecordSet::Common:
            return std::vector<RecordCopy>{RecordCopy::Of(settings_.scheme)};
        case RecordSet::Item:
            return core::CopySlots(settings_.rules);
        case RecordSet::List:
            return core::CopySlots(settings_.lists);
        case RecordSet::Entry: {
            if (set.list >= settings_.lists.size()) return std::nullopt;
            std::vector<RecordCopy> out;
            for (const std::string& value : settings_.lists[set.list].record.entries)
                out.push_back(RecordCopy::Of(ListEntry{value}));
            return out;
        }
    }
    return std::nullopt;
}

RecordCopy RulesModule::Blank(SetRef set) const {
    RecordCopy blank;
    switch (set.set) {
        case RecordSet::Common: blank = RecordCopy::Of(ColorScheme{}); break;
        case RecordSet::Item: blank = RecordCopy::Of(Rule{}); break;
        case RecordSet::List: blank = RecordCopy::Of(MatchList{}); break;
        case RecordSet::Entry: blank = RecordCopy::Of(ListEntry{}); break;
    }
    blank.Zero();
    return blank;
}

bool RulesModule::Add(SetRef set, const RecordCopy& record) {
    if (set.set == RecordSet::Common && record.Holds<ColorScheme>()) return SetScheme(record.As<ColorScheme>());
    if (set.set == RecordSet::Item && record.Holds<Rule>()) {
        const std::optional<size_t> index = AddRule(record.As<Rule>());
        return index && (!record.deleted || DeleteRule(*index));
    }
    if (set.set == RecordSet::List && record.Holds<MatchList>()) {
        const std::optional<size_t> index = AddList(record.As<MatchList>());
        return index && (!record.deleted || DeleteList(*index));
    }
    if (set.set != RecordSet::Entry || !record.Holds<ListEntry>() || record.deleted) return false;
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    if (!lock || set.list >= settings_.lists.size()) return false;
    MatchList& list = settings_.lists[set.list].record;
    if (list.entries.size() >= kMaxListEntries) return false;
    list.entries.push_back(record.As<ListEntry>().value);
    FitToCapacity(list);
    Reindex(set.list);
    return true;
}

bool RulesModule::Replace(SetRef set, size_t index, const RecordCopy& record, const RecordCopy& original) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    if (!lock) return false;
    switch (set.set) {
        case RecordSet::Common:
            if (index != 0 || !record.Holds<ColorScheme>() || !SameRecord(RecordCopy::Of(settings_.scheme), original))
                return false;
            settings_.scheme = record.As<ColorScheme>();
            return true;
        case RecordSet::Item: {
            if (!record.Holds<Rule>() || !core::SlotHolds(settings_.rules, index, original)) return false;
            Rule rule = record.As<Rule>();
            FitToCapacity(rule);
            AssignUid(rule);
            return settings_.rules.Replace(index, rule) && settings_.rules.MarkDeleted(index, record.deleted);
        }
        case RecordSet::List: {
            if (!record.Holds<MatchList>() || !core::SlotHolds(settings_.lists, index, original)) return false;
            MatchList list = record.As<MatchList>();
            if (list.entries.size() > kMaxListEntries) return false;
            FitToCapacity(list);
            AssignUid(list);
            if (!settings_.lists.Replace(index, list) || !settings_.lists.MarkDeleted(index, record.deleted)) return false;
            Reindex(index);
            return true;
        }
        case RecordSet::Entry: {
            if (!record.Holds<ListEntry>() || set.list >= settings_.lists.size()) return false;
            MatchList& list = settings_.lists[set.list].record;
            if (index >= list.entries.size() || !SameRecord(RecordCopy::Of(ListEntry{list.entries[index]}), original))
                return false;
            if (record.deleted) list.entries.erase(list.entries.begin() + static_cast<std::ptrdiff_t>(index));
            else list.entries[index] = record.As<ListEntry>().value;
            FitToCapacity(list);
            Reindex(set.list);
            return true;
        }
    }
    return false;
}

}  // namespace qm::processing
