#include "core/record_sets.h"

#include <algorithm>
#include <cctype>

namespace qm::core {

const FieldDef* RecordCopy::Find(std::string_view key) const {
    for (const FieldDef& f : Fields()) {
        if (f.key.size() == key.size() &&
            std::equal(key.begin(), key.end(), f.key.begin(),
                       [](char a, char b) { return std::tolower(uint8_t(a)) == std::tolower(uint8_t(b)); }))
            return &f;
    }
    return nullptr;
}

void RecordCopy::Zero() {
    for (const FieldDef& f : Fields()) {
        if (f.encoding == FieldEncoding::String) {
            f.text(Data())->clear();
        } else {
            const std::vector<uint8_t> zeros(f.size, 0);
            f.decode(Data(), zeros.data());
        }
    }
}

bool SameRecord(const RecordCopy& a, const RecordCopy& b) {
    if (a.deleted != b.deleted || a.Fields().data() != b.Fields().data()) return false;
    std::vector<uint8_t> x, y;
    for (const FieldDef& f : a.Fields()) {
        if (f.encoding == FieldEncoding::String) {
            if (*f.text(const_cast<void*>(a.Data())) != *f.text(const_cast<void*>(b.Data()))) return false;
            continue;
        }
        x.assign(f.size, 0);
        y.assign(f.size, 0);
        f.encode(a.Data(), x.data());
        f.encode(b.Data(), y.data());
        if (x != y) return false;
    }
    return true;
}

int64_t FieldNumber(const FieldDef& f, const void* record) {
    if (f.encoding != FieldEncoding::Struct || f.size > 8) return 0;
    uint8_t bytes[8] = {};
    f.encode(record, bytes);
    uint64_t v = 0;
    for (size_t i = 0; i < f.size; ++i) v |= uint64_t(bytes[i]) << (8 * i);
    if (f.isSigned && f.size < 8 && (bytes[f.size - 1] & 0x80)) v |= ~uint64_t(0) << (8 * f.size);
    return static_cast<int64_t>(v);
}

void SetFieldNumber(const FieldDef& f, int64_t value, void* record) {
    if (f.encoding != FieldEncoding::Struct || f.size > 8) return;
    uint8_t bytes[8] = {};
    const uint64_t v = static_cast<uint64_t>(value);
    for (size_t i = 0; i < f.size; ++i) bytes[i] = static_cast<uint8_t>(v >> (8 * i));
    f.decode(record, bytes);
}

}  // namespace qm::core
