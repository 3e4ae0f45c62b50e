// The SNMP module seen through the record-set interface: the common block,
// the agent items, the OID lists and one list's entries, each under the
// module lock taken by the non-blocking protocol.
#include "polling/snmp/snmp_module.h"

namespace qm::polling::snmp {

using core::RecordCopy;
using core::RecordSet;
using core::SetRef;
using platform::Blocking;
using platform::GuardedLock;

namespace {

// A list's entries travel beside it, as records of their own, so the script
// engine and the editors see and hand back a list with its entries as one change.
RecordCopy ListCopy(const core::RecordTable<OidList>::Slot& slot) {
    OidList bare = slot.record;
    bare.entries.clear();
    RecordCopy copy = RecordCopy::Of(std::move(bare), slot.deleted);
    for (const OidEntry& e : slot.record.entries) copy.entries.push_back(RecordCopy::Of(e));
    return copy;
}

// The list a copy describes, or nothing when an entry is not an OID entry or
// there are more than a list holds.
std::optional<OidList> ListOf(const RecordCopy& copy) {
    if (!copy.Holds<OidList>()) return std::nullopt;
    OidList list = copy.As<OidList>();
    list.entries.clear();
    for (const RecordCopy& entry : copy.entries) {
        if (!entry.Holds<OidEntry>()) return std::nullopt;
        if (!entry.deleted) list.entries.push_back(entry.As<OidEntry>());
    }
    if (list.entries.size() > kMaxOidEntries) return std::nullopt;
    return list;
}

}  // namespace

void SnmpModule::FitList(OidList& list) const {
    core::ApplyFieldRules(OidList::Fields(), list);
    for (OidEntry& e : list.entries) core::ApplyFieldRules(OidEntry::Fields(), e);
    list.listSize = static_cast<uint32_t>(list.entries.size());
}

std::optional<std::vector<RecordCopy>> SnmpModule::Copy(SetRef set) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    if (!lock) return std::nullopt;
    switch (set.set) {
        case RecordSet::Common: return std::vector<RecordCopy>{RecordCopy::Of(settings_.common)};
        case RecordSet::Item: return core::CopySlots(settings_.items);
        case RecordSet::List: {
            std::vector<RecordCopy> out;
            for (size_t i = 0; i < settings_.lists.size(); ++i) out.push_back(ListCopy(settings_.lists[i]));
            return out;
        }
        case RecordSet::Entry: {
            if (set.list >= settings_.lists.size()) return std::nullopt;
            std::vector<RecordCopy> out;
            for (const OidEntry& e : settings_.lists[set.list].record.entries) out.push_back(RecordCopy::Of(e));
            return out;
        }
    }
    return std::nullopt;
}

RecordCopy SnmpModule::Blank(SetRef set) const {
    RecordCopy blank;
    switch (set.set) {
        case RecordSet::Common: blank = RecordCopy::Of(SnmpCommon{}); break;
        case RecordSet::Item: blank = RecordCopy::Of(SnmpAgentItem{}); break;
        case RecordSet::List: blank = RecordCopy::Of(OidList{}); break;
        case RecordSet::Entry: blank = RecordCopy::Of(OidEntry{}); break;
    }
    blank.Zero();
    return blank;
}

bool SnmpModule::Add(SetRef set, const RecordCopy& record) {
    switch (set.set) {
        case RecordSet::Common: {
            if (!record.Holds<SnmpCommon>()) return false;
            const SnmpCommon common = core::Ruled(record.As<SnmpCommon>());
            GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
            if (!lock) return false;
            settings_.common = common;
            return true;
        }
        case RecordSet::Item: {
            if (!record.Holds<SnmpAgentItem>()) return false;
            const SnmpAgentItem item = core::Ruled(record.As<SnmpAgentItem>());
            GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
            if (!lock) return false;
            const std::optional<size_t> index = settings_.items.Add(item);
            return index && (!record.deleted || settings_.items.MarkDeleted(*index));
        }
        case RecordSet::List: {
            std::optional<OidList> given = ListOf(record);
            if (!given) return false;
            OidList& list = *given;
            FitList(list);
            if (list.id == 0) list.id = core_.SecondsSinceEpoch();
            GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
            if (!lock) return false;
            const std::optional<size_t> index = settings_.lists.Add(list);
            return index && (!record.deleted || settings_.lists.MarkDeleted(*index));
        }
        case RecordSet::Entry: {
            if (!record.Holds<OidEntry>() || record.deleted) return false;
            const OidEntry entry = core::Ruled(record.As<OidEntry>());
            GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
            if (!lock || set.list >= settings_.lists.size()) return false;
            OidList& list = settings_.lists[set.list].record;
            if (list.entries.size() >= kMaxOidEntries) return false;
            list.entries.push_back(entry);
            list.listSize = static_cast<uint32_t>(list.entries.size());
            return true;
        }
    }
    return false;
}

bool SnmpModule::Replace(SetRef set, size_t index, const RecordCopy& record, const RecordCopy& original) {
    GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
    if (!lock) return false;
    switch (set.set) {
        case RecordSet::Common:
            if (index != 0 || !record.Holds<SnmpCommon>() || !SameRecord(RecordCopy::Of(settings_.common), original))
                return false;
            settings_.common = core::Ruled(record.As<SnmpCommon>());
            return true;
        case RecordSet::Item:
            if (!record.Holds<SnmpAgentItem>() || !core::SlotHolds(settings_.items, index, original)) return false;
            return settings_.items.Replace(index, core::Ruled(record.As<SnmpAgentItem>())) &&
                   settings_.items.MarkDeleted(index, record.deleted);
        case RecordSet::List: {
            std::optional<OidList> given = ListOf(record);
            if (!given || index >= settings_.lists.size() || !SameRecord(ListCopy(settings_.lists[index]), original))
                return false;
            OidList& list = *given;
            FitList(list);
            // The identity the agents refer to stays.
            list.id = settings_.lists[index].record.id;
            return settings_.lists.Replace(index, list) && settings_.lists.MarkDeleted(index, record.deleted);
        }
        case RecordSet::Entry: {
            if (!record.Holds<OidEntry>() || set.list >= settings_.lists.size()) return false;
            std::vector<OidEntry>& entries = settings_.lists[set.list].record.entries;
            if (index >= entries.size() || !SameRecord(RecordCopy::Of(entries[index]), original)) return false;
            if (record.deleted) {
                entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(index));
            } else {
                entries[index] = core::Ruled(record.As<OidEntry>());
            }
            settings_.lists[set.list].record.listSize = static_cast<uint32_t>(entries.size());
            return true;
        }
    }
    return false;
}

}  // namespace qm::polling::snmp
