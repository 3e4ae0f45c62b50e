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

namespace {

// A list's entries travel beside it, as records of their own.
RecordCopy ListCopy(const RulesModule::ListSlot& slot) {
    MatchList bare = slot.record;
    bare.entries.clear();
    RecordCopy copy = RecordCopy::Of(std::move(bare), slot.deleted);
    for (const std::string& value : slot.record.entries) copy.entries.push_back(RecordCopy::Of(ListEntry{value}));
    return copy;
}

// The list a copy describes, or nothing when an entry is not a list entry.
std::optional<MatchList> ListOf(const RecordCopy& copy) {
    if (!copy.Holds<MatchList>() || copy.entries.size() > kMaxListEntries) return std::nullopt;
    MatchList list = copy.As<MatchList>();
    list.entries.clear();
    for (const RecordCopy& entry : copy.entries) {
        if (!entry.Holds<ListEntry>()) return std::nullopt;
        if (!entry.deleted) list.entries.push_back(entry.As<ListEntry>().value);
    }
    return list;
}

}  // namespace

std::optional<std::vector<RecordCopy>> RulesModule::Copy(SetRef set) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    if (!lock) return std::nullopt;
    switch (set.set) {
        case RecordSet::Common:
            return std::vector<RecordCopy>{RecordCopy::Of(settings_.scheme)};
        case RecordSet::Item:
            return core::CopySlots(settings_.rules);
        case RecordSet::List: {
            std::vector<RecordCopy> out;
            for (const ListSlot& slot : settings_.lists) out.push_back(ListCopy(slot));
            return out;
        }
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
    if (set.set == RecordSet::List) {
        const std::optional<MatchList> list = ListOf(record);
        const std::optional<size_t> index = list ? AddList(*list) : std::nullopt;
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
            std::optional<MatchList> given = ListOf(record);
            if (!given || index >= settings_.lists.size() || !SameRecord(ListCopy(settings_.lists[index]), original))
                return false;
            MatchList& list = *given;
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
