#include "core/record_sets.h"

#include <algorithm>
#include <cctype>

namespace qm::core {

const FieldDef* RecordCopy::Find(std::string_view key) const {
    for (const FieldDef& f : Fields()) {
        if (SameIgnoringCase(f.key, key)) return &f;
    }
    return nullptr;
}

std::optional<std::string> RecordCopy::Get(std::string_view key) const {
    const FieldDef* f = Find(key);
    if (!f) return std::nullopt;
    return FieldToText(*f, Data());
}

bool RecordCopy::Set(std::string_view key, std::string_view text) {
    const FieldDef* f = Find(key);
    return f && FieldFromText(*f, text, Data());
}

std::optional<RecordCopy> RecordSets::CopyCommon() {
    std::optional<std::vector<RecordCopy>> common = Copy({RecordSet::Common});
    if (!common || common->empty()) return std::nullopt;
    return std::move(common->front());
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
    if (a.deleted != b.deleted || a.Fields().data() != b.Fields().data() || a.entries.size() != b.entries.size())
        return false;
    for (size_t i = 0; i < a.entries.size(); ++i)
        if (!SameRecord(a.entries[i], b.entries[i])) return false;
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

}  // namespace qm::core
