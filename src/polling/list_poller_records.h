#pragma once
// The record sets of a list poller (see list_poller.h): copies out and
// records back, each under the module lock taken with three tries.
#include "polling/list_poller.h"

namespace qm::polling {

template <typename Shape>
std::optional<std::vector<core::RecordCopy>> ListPoller<Shape>::Copy(core::SetRef set) {
    platform::GuardedLock lock(Lock(), core_.counters.locks, platform::Blocking::No);
    if (!lock) return std::nullopt;
    switch (set.set) {
        case core::RecordSet::Common: return std::vector<core::RecordCopy>{core::RecordCopy::Of(settings_.common)};
        case core::RecordSet::Item: return core::CopySlots(settings_.items);
        case core::RecordSet::List: {
            std::vector<core::RecordCopy> out;
            for (size_t i = 0; i < settings_.lists.size(); ++i) out.push_back(ListCopy(settings_.lists[i]));
            return out;
        }
        case core::RecordSet::Entry: {
            if (set.list >= settings_.lists.size()) return std::nullopt;
            std::vector<core::RecordCopy> out;
            for (const Entry& e : settings_.lists[set.list].record.entries) out.push_back(core::RecordCopy::Of(e));
            return out;
        }
    }
    return std::nullopt;
}

template <typename Shape>
core::RecordCopy ListPoller<Shape>::Blank(core::SetRef set) const {
    core::RecordCopy blank;
    switch (set.set) {
        case core::RecordSet::Common: blank = core::RecordCopy::Of(Common{}); break;
        case core::RecordSet::Item: blank = core::RecordCopy::Of(Item{}); break;
        case core::RecordSet::List: blank = core::RecordCopy::Of(List{}); break;
        case core::RecordSet::Entry: blank = core::RecordCopy::Of(Entry{}); break;
    }
    blank.Zero();
    return blank;
}

template <typename Shape>
bool ListPoller<Shape>::Add(core::SetRef set, const core::RecordCopy& record) {
    using platform::Blocking;
    using platform::GuardedLock;
    switch (set.set) {
        case core::RecordSet::Common: {
            if (!record.Holds<Common>()) return false;
            const Common common = core::Ruled(record.As<Common>());
            GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
            if (!lock) return false;
            settings_.common = common;
            return true;
        }
        case core::RecordSet::Item: {
            if (!record.Holds<Item>()) return false;
            const Item item = core::Ruled(record.As<Item>());
            GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
            if (!lock) return false;
            const std::optional<size_t> index = settings_.items.Add(item);
            return index && (!record.deleted || settings_.items.MarkDeleted(*index));
        }
        case core::RecordSet::List: {
            std::optional<List> given = ListOf(record);
            if (!given) return false;
            List& list = *given;
            FitList(list);
            GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
            if (!lock) return false;
            // Chosen before a free slot is taken over, so the new list never
            // gets the ID of the marked one it displaces; an ID that another
            // list has is refused, as items would find only one of the two.
            if (list.id == 0) list.id = FreshListId();
            else if (core::IdTaken(settings_.lists, &List::id, list.id)) return false;
            const std::optional<size_t> index = settings_.lists.Add(list);
            return index && (!record.deleted || settings_.lists.MarkDeleted(*index));
        }
        case core::RecordSet::Entry: {
            if (!record.Holds<Entry>() || record.deleted) return false;
            const Entry entry = core::Ruled(record.As<Entry>());
            GuardedLock lock(Lock(), core_.counters.locks, Blocking::No);
            if (!lock || set.list >= settings_.lists.size()) return false;
            List& list = settings_.lists[set.list].record;
            if (list.entries.size() >= kMaxListEntries) return false;
            list.entries.push_back(entry);
            list.listSize = static_cast<uint32_t>(list.entries.size());
            return true;
        }
    }
    return false;
}

template <typename Shape>
bool ListPoller<Shape>::Replace(core::SetRef set, size_t index, const core::RecordCopy& record,
                                const core::RecordCopy& original) {
    platform::GuardedLock lock(Lock(), core_.counters.locks, platform::Blocking::No);
    if (!lock) return false;
    switch (set.set) {
        case core::RecordSet::Common:
            if (index != 0 || !record.Holds<Common>() ||
                !core::SameRecord(core::RecordCopy::Of(settings_.common), original))
                return false;
            settings_.common = core::Ruled(record.As<Common>());
            return true;
        case core::RecordSet::Item:
            if (!record.Holds<Item>() || !core::SlotHolds(settings_.items, index, original)) return false;
            return settings_.items.Replace(index, core::Ruled(record.As<Item>())) &&
                   settings_.items.MarkDeleted(index, record.deleted);
        case core::RecordSet::List: {
            std::optional<List> given = ListOf(record);
            if (!given || index >= settings_.lists.size() ||
                !core::SameRecord(ListCopy(settings_.lists[index]), original))
                return false;
            List& list = *given;
            FitList(list);
            // A new ID is taken as asked, 0 for a fresh one; one that
            // another list has is refused.
            if (list.id == 0) list.id = FreshListId();
            else if (core::IdTaken(settings_.lists, &List::id, list.id, index)) return false;
            return settings_.lists.Replace(index, list) && settings_.lists.MarkDeleted(index, record.deleted);
        }
        case core::RecordSet::Entry: {
            if (!record.Holds<Entry>() || set.list >= settings_.lists.size()) return false;
            std::vector<Entry>& entries = settings_.lists[set.list].record.entries;
            if (index >= entries.size() || !core::SameRecord(core::RecordCopy::Of(entries[index]), original))
                return false;
            if (record.deleted) {
                entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(index));
            } else {
                entries[index] = core::Ruled(record.As<Entry>());
            }
            settings_.lists[set.list].record.listSize = static_cast<uint32_t>(entries.size());
            return true;
        }
    }
    return false;
}

}  // namespace qm::polling
