#pragma once
// One narrow door into a module's records for whoever edits them from
// outside (the script's command handlers, the settings dialog): copies come
// out and go back whole, each under the module's lock taken with three tries,
// so a busy module answers "not now" instead of blocking its caller. The
// records travel type-erased with their field tables, so the editor needs to
// know nothing of a module but the names of its fields.
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/record_table.h"
#include "core/settings_fields.h"

namespace qm::core {

class RecordCopy {
public:
    RecordCopy() = default;
    template <typename R>
    static RecordCopy Of(R record, bool deleted = false) {
        RecordCopy c;
        c.holder_ = std::make_unique<Model<R>>(std::move(record));
        c.deleted = deleted;
        return c;
    }
    RecordCopy(const RecordCopy& other)
        : deleted(other.deleted), entries(other.entries), holder_(other.holder_ ? other.holder_->Clone() : nullptr) {}
    RecordCopy& operator=(const RecordCopy& other) {
        if (this != &other) *this = RecordCopy(other);
        return *this;
    }
    RecordCopy(RecordCopy&&) noexcept = default;
    RecordCopy& operator=(RecordCopy&&) noexcept = default;

    explicit operator bool() const { return holder_ != nullptr; }
    void* Data() { return holder_->Data(); }
    const void* Data() const { return holder_->Data(); }
    std::span<const FieldDef> Fields() const { return holder_->Fields(); }
    template <typename R>
    bool Holds() const {
        return holder_ && Fields().data() == R::Fields().fields.data();
    }
    template <typename R>
    const R& As() const {
        return static_cast<const Model<R>&>(*holder_).value;
    }
    const FieldDef* Find(std::string_view key) const;
    // A field's value as text, and a value for it from text (refused, the
    // record unchanged, when the field has no such value): for editors that
    // know a record only by its field names.
    std::optional<std::string> Get(std::string_view key) const;
    bool Set(std::string_view key, std::string_view text);

    // Every described field zero (numbers) or empty (texts); what no field
    // describes keeps the record type's own default.
    void Zero();

    // The record's deletion mark (kept in its table slot, not in the record).
    bool deleted = false;
    // A list's entries, which travel with it: a list is copied out and
    // handed back together with its entries, as one change.
    std::vector<RecordCopy> entries;

private:
    struct Concept {
        virtual ~Concept() = default;
        virtual void* Data() = 0;
        virtual std::span<const FieldDef> Fields() const = 0;
        virtual std::unique_ptr<Concept> Clone() const = 0;
    };
    template <typename R>
    struct Model final : Concept {
        explicit Model(R r) : value(std::move(r)) {}
        void* Data() override { return &value; }
        std::span<const FieldDef> Fields() const override { return R::Fields().fields; }
        std::unique_ptr<Concept> Clone() const override { return std::make_unique<Model>(value); }
        R value;
    };
    std::unique_ptr<Concept> holder_;
};

// The kinds of record a module may keep: its common block (one record), its
// items, its lists, and each list's entries.
enum class RecordSet : uint8_t { Common, Item, List, Entry };

struct SetRef {
    RecordSet set = RecordSet::Item;
    size_t list = 0;  // Entry: the slot of the list the entries belong to
};

class RecordSets {
public:
    virtual ~RecordSets() = default;
    virtual bool Has(RecordSet set) const = 0;
    // Every slot in order, deleted ones included (with their mark); the
    // common block as one record. Nothing when the lock could not be taken
    // in three tries (the collision is counted) or there is no such set.
    virtual std::optional<std::vector<RecordCopy>> Copy(SetRef set) = 0;
    // A record of the set's type with every described field zero.
    virtual RecordCopy Blank(SetRef set) const = 0;
    // Adds a record (the common block: sets it). False when the module
    // refused it, the set is full, or the module was busy.
    virtual bool Add(SetRef set, const RecordCopy& record) = 0;
    // Replaces the record at `index` (the common block: 0), its deletion mark
    // included. Refused also when the slot no longer holds `original` (the
    // record the edit was copied from): someone changed it meanwhile.
    virtual bool Replace(SetRef set, size_t index, const RecordCopy& record, const RecordCopy& original) = 0;
    // Why the module refuses `record` in slot `index` (a new record: none)
    // for a reason of its own beyond the fields' rules, such as a second
    // host with one address, as a text for the user; empty when it has none.
    // Editors ask after a refusal, so that they can say why.
    virtual std::string Refusal(SetRef, const RecordCopy&, std::optional<size_t>) { return {}; }

    // The script engine's common cases.
    std::optional<RecordCopy> CopyCommon();
    std::optional<std::vector<RecordCopy>> CopyItems() { return Copy({RecordSet::Item}); }
    RecordCopy BlankItem() const { return Blank({RecordSet::Item}); }
    bool SetCommon(const RecordCopy& common) { return Add({RecordSet::Common}, common); }
    bool AddItem(const RecordCopy& item) { return Add({RecordSet::Item}, item); }
    bool ReplaceItem(size_t index, const RecordCopy& item, const RecordCopy& original) {
        return Replace({RecordSet::Item}, index, item, original);
    }
};

// For modules implementing RecordSets over their tables, with the lock held:
// copies of every slot, and whether a slot still holds `original`.
template <typename T>
std::vector<RecordCopy> CopySlots(const RecordTable<T>& table) {
    std::vector<RecordCopy> out;
    out.reserve(table.size());
    for (const auto& slot : table) out.push_back(RecordCopy::Of(slot.record, slot.deleted));
    return out;
}
// Every described field, the deletion mark and the entries equal.
bool SameRecord(const RecordCopy& a, const RecordCopy& b);
template <typename T>
bool SlotHolds(const RecordTable<T>& table, size_t index, const RecordCopy& original) {
    return index < table.size() && SameRecord(RecordCopy::Of(table[index].record, table[index].deleted), original);
}

}  // namespace qm::core
