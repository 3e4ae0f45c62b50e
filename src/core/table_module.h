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
        FitToRanges(C::Fields(), common);
        Check(common);
        platform::GuardedLock lock(Lock(), core_.counters.locks, platform::Blocking::No);
        if (!lock) return false;
        settings_.common = std::move(common);
        return true;
    }
    std::optional<C> Common() {
        platform::GuardedLock lock(Lock(), core_.counters.locks, platform::Blocking::Yes);
        return settings_.common;
    }
    // Index of the new record; nothing at 500 records or when the lock is busy.
    std::optional<size_t> AddRecord(R record) {
        FitToRanges(R::Fields(), record);
        Check(record);
        platform::GuardedLock lock(Lock(), core_.counters.locks, platform::Blocking::No);
        if (!lock) return std::nullopt;
        return settings_.records.Add(record);
    }
    bool ReplaceRecord(size_t index, R record) {
        FitToRanges(R::Fields(), record);
        Check(record);
        platform::GuardedLock lock(Lock(), core_.counters.locks, platform::Blocking::No);
        return lock && settings_.records.Replace(index, record);
    }
    bool DeleteRecord(size_t index, bool deleted = true) {
        platform::GuardedLock lock(Lock(), core_.counters.locks, platform::Blocking::No);
        return lock && settings_.records.MarkDeleted(index, deleted);
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
    std::optional<RecordCopy> CopyCommon() override {
        platform::GuardedLock lock(Lock(), core_.counters.locks, platform::Blocking::No);
        if (!lock) return std::nullopt;
        return RecordCopy::Of(settings_.common);
    }
    std::optional<std::vector<RecordCopy>> CopyItems() override {
        platform::GuardedLock lock(Lock(), core_.counters.locks, platform::Blocking::No);
        if (!lock) return std::nullopt;
        std::vector<RecordCopy> items;
        items.reserve(settings_.records.size());
        for (const auto& slot : settings_.records) items.push_back(RecordCopy::Of(slot.record, slot.deleted));
        return items;
    }
    RecordCopy BlankItem() const override {
        RecordCopy blank = RecordCopy::Of(R{});
        blank.Zero();
        return blank;
    }
    bool SetCommon(const RecordCopy& common) override { return SetCommon(common.As<C>()); }
    bool AddItem(const RecordCopy& item) override {
        const std::optional<size_t> index = AddRecord(item.As<R>());
        return index && (!item.deleted || DeleteRecord(*index));
    }
    bool ReplaceItem(size_t index, const RecordCopy& item, const RecordCopy& original) override {
        R record = item.As<R>();
        FitToRanges(R::Fields(), record);
        Check(record);
        platform::GuardedLock lock(Lock(), core_.counters.locks, platform::Blocking::No);
        if (!lock || index >= settings_.records.size()) return false;
        const auto& slot = settings_.records[index];
        if (!SameRecord(RecordCopy::Of(slot.record, slot.deleted), original)) return false;
        return settings_.records.Replace(index, record) && settings_.records.MarkDeleted(index, item.deleted);
    }

protected:
    // Settings from the dialog and from scripts pass through these first,
    // after the ranges of their field tables.
    virtual void Check(C&) const {}
    virtual void Check(R&) const {}
    virtual void AfterLoad() {}

    TableSettings<C, R> settings_;

private:
    const TableLayout layout_;
};

}  // namespace qm::core
