#pragma once
// The table shape every module's records share: at most 500 records; a record
// marked for deletion keeps its slot (and its number) until the next save,
// which writes only live records, numbered from 0; an added record takes the
// first free slot before the table grows.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace qm::core {

constexpr size_t kMaxRecords = 500;

template <typename T>
class RecordTable {
public:
    struct Slot {
        T record{};
        bool deleted = false;
    };

    // Index of the added record, or nothing when the table is full.
    std::optional<size_t> Add(const T& record) {
        for (size_t i = 0; i < slots_.size(); ++i) {
            if (slots_[i].deleted && reusable_(i)) {
                slots_[i] = Slot{record, false};
                return i;
            }
        }
        if (slots_.size() >= kMaxRecords) return std::nullopt;
        slots_.push_back(Slot{record, false});
        return slots_.size() - 1;
    }
    bool Replace(size_t index, const T& record) {
        if (index >= slots_.size()) return false;
        slots_[index].record = record;
        return true;
    }
    bool MarkDeleted(size_t index, bool deleted = true) {
        if (index >= slots_.size()) return false;
        slots_[index].deleted = deleted;
        return true;
    }
    void Clear() { slots_.clear(); }

    size_t size() const { return slots_.size(); }
    Slot& operator[](size_t i) { return slots_[i]; }
    const Slot& operator[](size_t i) const { return slots_[i]; }
    auto begin() { return slots_.begin(); }
    auto end() { return slots_.end(); }
    auto begin() const { return slots_.begin(); }
    auto end() const { return slots_.end(); }

    // Live records in order: what a save writes, numbered from 0.
    template <typename F>
    void ForEachLive(F&& f) const {
        size_t number = 0;
        for (const Slot& s : slots_) {
            if (!s.deleted) f(number++, s.record);
        }
    }
    size_t LiveCount() const {
        size_t n = 0;
        for (const Slot& s : slots_) n += s.deleted ? 0 : 1;
        return n;
    }

    // A module whose deleted records may still be running says which slots
    // may be taken over (a stopped one only).
    template <typename F>
    void SetReusable(F&& f) {
        reusable_ = std::forward<F>(f);
    }

private:
    std::vector<Slot> slots_;
    std::function<bool(size_t)> reusable_ = [](size_t) { return true; };
};

// Identities (rule and window UIDs, poller list IDs) are 64-bit numbers kept
// in a field of each record; 0 means "none yet". Marked records count: they
// stay in the table, and items may still name them, until the next save.
constexpr size_t kNoSlot = SIZE_MAX;

// Whether a slot other than `except` holds `value` in its `id` field.
template <typename T>
bool IdTaken(const RecordTable<T>& table, uint64_t T::*id, uint64_t value, size_t except = kNoSlot) {
    for (size_t i = 0; i < table.size(); ++i)
        if (i != except && table[i].record.*id == value) return true;
    return false;
}

// A new identity for a record of `table`: `wanted` (the clock's seconds, the
// form stored files and their readers know) when no slot holds it, else the
// next number nobody has. Two records made within one second, or one in the
// epoch's very first second, would otherwise share a number or get 0.
template <typename T>
uint64_t FreshId(const RecordTable<T>& table, uint64_t T::*id, uint64_t wanted) {
    uint64_t value = wanted == 0 ? 1 : wanted;
    while (value == 0 || IdTaken(table, id, value)) ++value;
    return value;
}

// Gives every record read from a file an identity of its own: a stored 0, or
// one an earlier record already has, becomes a fresh one (the first holder
// keeps its identity and whatever names it). `mended(slot, old)` is told of
// each change.
template <typename T>
void MendIds(RecordTable<T>& table, uint64_t T::*id, uint64_t wanted,
             const std::function<void(size_t, uint64_t)>& mended = {}) {
    for (size_t i = 0; i < table.size(); ++i) {
        uint64_t& value = table[i].record.*id;
        bool taken = value == 0;
        for (size_t j = 0; j < i && !taken; ++j) taken = table[j].record.*id == value;
        if (!taken) continue;
        const uint64_t old = value;
        value = FreshId(table, id, wanted);
        if (mended) mended(i, old);
    }
}

}  // namespace qm::core
