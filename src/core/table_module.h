#pragma once
// A module whose settings are a common block and a table of records: loading
// and saving both forms, and the record operations the settings dialog and
// the command handlers use, each under the module's lock (changes by the
// three-try protocol, reads waiting).
#include <optional>
#include <string>

#include "core/core_context.h"
#include "core/module.h"
#include "core/record_sets.h"
#include "core/table_settings.h"

namespace qm::core {

template <typename C, typename R>
struct TableSettings {
    C common;
    RecordTable<R> records;
};

template <typename C, typename R>
class TableModule : public Module, public RecordSets {
public:
    TableModule(CoreContext& core, uint16_t id, std::string section, TableLayout layout)
        : Module(core, id, std::move(section)), layout_(layout) {}

    void Load(const SettingsSection& section) override {
        LoadCommonAndRecords(section, layout_, settings_.common, settings_.records);
        AfterLoad();
    }
    void SaveTo(SettingsSection& section) override {
        SaveCommonAndRecords(section, settings_.common, settings_.records);
    }

    bool SetCommon(C common) {
        ApplyFieldRules(C::Fields(), common);
        platform::GuardedLock lock(Lock(), core_.counters.locks, platform::Blocking::No);
        if (!lock) return false;
        settings_.common = std::move(common);
        return true;
    }
    std::optional<C> Common() {
        platform::GuardedLock lock(Lock(), core_.counters.locks, platform::Blocking::Yes);
        return settings_.common;
    }
    // Index of the new record; nothing at 500 records, when the lock is
    // busy or when the module refuses the record (Conflict).
    std::optional<size_t> AddRecord(R record) {
        ApplyFieldRules(R::Fields(), record);
        platform::GuardedLock lock(Lock(), core_.counters.locks, platform::Blocking::No);
        if (!lock || !Conflict(record, std::nullopt).empty()) return std::nullopt;
        return settings_.records.Add(record);
    }
    bool ReplaceRecord(size_t index, R record) {
        ApplyFieldRules(R::Fields(), record);
        platform::GuardedLock lock(Lock(), core_.counters.locks, platform::Blocking::No);
        if (!lock || index >= settings_.records.size()) return false;
        return Live(index, record, settings_.records[index].deleted) && settings_.records.Replace(index, record);
    }
    bool DeleteRecord(size_t index, bool deleted = true) {
        platform::GuardedLock lock(Lock(), core_.counters.locks, platform::Blocking::No);
        if (!lock || index >= settings_.records.size()) return false;
        return Live(index, settings_.records[index].record, deleted) && settings_.records.MarkDeleted(index, deleted);
    }
    std::optional<R> Record(size_t index) {
        platform::GuardedLock lock(Lock(), core_.counters.locks, platform::Blocking::Yes);
        if (index >= settings_.records.size()) return std::nullopt;
        return settings_.records[index].record;
    }
    size_t RecordCount() {
        platform::GuardedLock lock(Lock(), core_.counters.locks, platform::Blocking::Yes);
        return settings_.records.size();
    }

    RecordSets* Records() override { return this; }
    bool Has(RecordSet set) const override { return set == RecordSet::Common || set == RecordSet::Item; }
    std::optional<std::vector<RecordCopy>> Copy(SetRef set) override {
        if (!Has(set.set)) return std::nullopt;
        platform::GuardedLock lock(Lock(), core_.counters.locks, platform::Blocking::No);
        if (!lock) return std::nullopt;
        if (set.set == RecordSet::Common) return std::vector<RecordCopy>{RecordCopy::Of(settings_.common)};
        return CopySlots(settings_.records);
    }
    RecordCopy Blank(SetRef set) const override {
        RecordCopy blank = set.set == RecordSet::Common ? RecordCopy::Of(C{}) : RecordCopy::Of(R{});
        blank.Zero();
        return blank;
    }
    bool Add(SetRef set, const RecordCopy& record) override {
        if (set.set == RecordSet::Common && record.Holds<C>()) return SetCommon(record.As<C>());
        if (set.set != RecordSet::Item || !record.Holds<R>()) return false;
        const R item = Ruled(record.As<R>());
        platform::GuardedLock lock(Lock(), core_.counters.locks, platform::Blocking::No);
        // A record added with its deletion mark stands in for nobody.
        if (!lock || (!record.deleted && !Conflict(item, std::nullopt).empty())) return false;
        const std::optional<size_t> index = settings_.records.Add(item);
        return index && (!record.deleted || settings_.records.MarkDeleted(*index));
    }
    bool Replace(SetRef set, size_t index, const RecordCopy& record, const RecordCopy& original) override {
        if (set.set == RecordSet::Common) {
            if (index != 0 || !record.Holds<C>()) return false;
            C common = Ruled(record.As<C>());
            platform::GuardedLock lock(Lock(), core_.counters.locks, platform::Blocking::No);
            if (!lock || !SameRecord(RecordCopy::Of(settings_.common), original)) return false;
            settings_.common = std::move(common);
            return true;
        }
        if (set.set != RecordSet::Item || !record.Holds<R>()) return false;
        const R item = Ruled(record.As<R>());
        platform::GuardedLock lock(Lock(), core_.counters.locks, platform::Blocking::No);
        if (!lock || !SlotHolds(settings_.records, index, original) || !Live(index, item, record.deleted)) return false;
        return settings_.records.Replace(index, item) && settings_.records.MarkDeleted(index, record.deleted);
    }
    std::string Refusal(SetRef set, const RecordCopy& record, std::optional<size_t> index) override {
        if (set.set != RecordSet::Item || !record.Holds<R>() || record.deleted) return {};
        platform::GuardedLock lock(Lock(), core_.counters.locks, platform::Blocking::No);
        return lock ? Conflict(Ruled(record.As<R>()), index) : std::string();
    }

protected:
    virtual void AfterLoad() {}
    // With the lock held: why `record` may not stand in slot `index` (a new
    // record: none) beside the table's other live records, as a text for
    // the user; empty when it may.
    virtual std::string Conflict(const R&, std::optional<size_t>) const { return {}; }

    TableSettings<C, R> settings_;

private:
    // Whether slot `index` may hold `record` with this deletion mark: a
    // marked record conflicts with nothing.
    bool Live(size_t index, const R& record, bool deleted) const {
        return deleted || Conflict(record, index).empty();
    }

    const TableLayout layout_;
};

}  // namespace qm::core
