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
#include <vector>

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
    RecordCopy(const RecordCopy& other) : deleted(other.deleted), holder_(other.holder_ ? other.holder_->Clone() : nullptr) {}
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
    const R& As() const {
        return static_cast<const Model<R>&>(*holder_).value;
    }
    const FieldDef* Find(std::string_view key) const;

    // Every described field zero (numbers) or empty (texts); what no field
    // describes keeps the record type's own default.
    void Zero();

    // The record's deletion mark (kept in its table slot, not in the record).
    bool deleted = false;

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

class RecordSets {
public:
    virtual ~RecordSets() = default;
    // Nothing when the lock could not be taken in three tries (the collision
    // is counted).
    virtual std::optional<RecordCopy> CopyCommon() = 0;
    // Every slot in order, deleted ones included (with their mark).
    virtual std::optional<std::vector<RecordCopy>> CopyItems() = 0;
    // A record of the item type with every described field zero.
    virtual RecordCopy BlankItem() const = 0;
    // False when the module refused the record or was busy.
    virtual bool SetCommon(const RecordCopy& common) = 0;
    virtual bool AddItem(const RecordCopy& item) = 0;
    // Refused also when the slot no longer holds `original` (the record the
    // edit was copied from): someone else changed or replaced it meanwhile.
    virtual bool ReplaceItem(size_t index, const RecordCopy& item, const RecordCopy& original) = 0;
};

// Every described field and the deletion mark equal.
bool SameRecord(const RecordCopy& a, const RecordCopy& b);

// A field's number as stored (the low `size` bytes), sign-extended for
// signed fields; and back, cut to the field's width.
int64_t FieldNumber(const FieldDef& field, const void* record);
void SetFieldNumber(const FieldDef& field, int64_t value, void* record);

}  // namespace qm::core
