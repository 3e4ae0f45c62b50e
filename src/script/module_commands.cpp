#include "script/module_commands.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "core/core_context.h"
#include "platform/utf16.h"
#include "script/script_interpreter.h"
#include "script/statement_lexer.h"

namespace qm::script {

namespace {

std::string ValueText(const core::RecordCopy& record, const PrintedName& printed) {
    char text[32];
    if (printed.key == kDeleteMark) {
        std::snprintf(text, sizeof text, "%d", record.deleted ? 1 : 0);
        return text;
    }
    const core::FieldDef* field = record.Find(printed.key);
    if (field == nullptr) return {};
    if (field->encoding == core::FieldEncoding::String) return *field->text(const_cast<void*>(record.Data()));
    const int64_t n = core::FieldNumber(*field, record.Data());
    switch (printed.form) {
        case PrintForm::Signed: std::snprintf(text, sizeof text, "%d", static_cast<int32_t>(n)); break;
        case PrintForm::Unsigned: std::snprintf(text, sizeof text, "%u", static_cast<uint32_t>(n)); break;
        case PrintForm::Hex: std::snprintf(text, sizeof text, "%X", static_cast<uint32_t>(n)); break;
        case PrintForm::Signed64: std::snprintf(text, sizeof text, "%" PRId64, n); break;
        case PrintForm::Text: return {};
    }
    return text;
}

// A text field of a record, cut to `length` characters and to the field's
// own capacity (which holds its terminator as well); false when there is none.
bool SetText(core::RecordCopy& record, std::string_view key, std::string_view text, size_t length) {
    const core::FieldDef* field = record.Find(key);
    if (field == nullptr || field->encoding != core::FieldEncoding::String) return false;
    const size_t capacity = field->size ? field->size - 1 : 0;
    *field->text(record.Data()) = platform::TruncateUtf16(text, std::min(length, capacity));
    return true;
}

std::string TextOf(const core::RecordCopy& record, std::string_view key) {
    const core::FieldDef* field = record.Find(key);
    if (field == nullptr || field->encoding != core::FieldEncoding::String) return {};
    return *field->text(const_cast<void*>(record.Data()));
}

// Tags are compared and stored at what a tag holds.
constexpr size_t kTagLength = 15;

int64_t CorrectionCode(int64_t n) {
    switch (n) {
        case 1: case 10: return 64;
        case 2: case 100: return 32;
        case 3: case 1000: return 16;
        case -1: return 8;
        case -2: return 4;
        default: return 0;
    }
}

}  // namespace

std::optional<int64_t> ChoiceValue(const WordRule& rule, std::string_view text) {
    text = TrimBlanks(text);
    for (const auto& [name, value] : rule.choices)
        if (SameWord(name, text) || (!text.empty() && std::to_string(value) == text)) return value;
    return std::nullopt;
}

ModuleCommands::ModuleCommands(core::Module& module, core::RecordSets& records, const ModuleWords& words,
                               std::function<void()> refresh)
    : module_(module), records_(records), words_(words), refresh_(std::move(refresh)) {}

void ModuleCommands::Echo(ScriptOutput& out, const std::vector<std::string>& path, const std::optional<std::string>& value) {
    int64_t filter = value ? ReadDecimal(*value) : -1;
    if (!path.empty() && SameWord(path[0], "common")) {
        const std::optional<core::RecordCopy> common = records_.CopyCommon();
        if (!common) return out.Fail(words_.module, "Collision");
        for (const PrintedName& p : words_.printedCommon) out.Report(p.name + "=" + ValueText(*common, p));
    } else if (!path.empty() && SameWord(path[0], "list") && !words_.list.empty()) {
        if (path.size() > 1) filter = ReadDecimal(path[1]);
        EchoLists(out, filter);
        return;
    } else if (!path.empty() && SameWord(path[0], "item")) {
        if (path.size() > 1) filter = ReadDecimal(path[1]);
        const std::optional<std::vector<core::RecordCopy>> items = records_.CopyItems();
        if (!items) return out.Fail(words_.module, "Collision");
        for (size_t i = 0; i < items->size(); ++i) {
            if (filter >= 0 && size_t(filter) != i) continue;
            for (const PrintedName& p : words_.printedItem)
                out.Report(std::to_string(i) + "." + p.name + "=" + ValueText((*items)[i], p));
        }
    }
    out.Ok(words_.module, "Complete");
}

void ModuleCommands::EchoLists(ScriptOutput& out, int64_t filter) {
    const std::optional<std::vector<core::RecordCopy>> lists = records_.Copy({core::RecordSet::List});
    if (!lists) return out.Fail(words_.module, "Collision");
    for (size_t i = 0; i < lists->size(); ++i) {
        if (filter >= 0 && size_t(filter) != i) continue;
        const core::RecordCopy& list = (*lists)[i];
        for (const PrintedName& p : words_.printedList) out.Report(std::to_string(i) + "." + p.name + "=" + ValueText(list, p));
        for (size_t e = 0; e < list.entries.size(); ++e)
            for (const PrintedName& p : words_.printedEntry)
                out.Report(std::to_string(i) + "." + std::to_string(e) + "\t" + p.name + "=" + ValueText(list.entries[e], p));
    }
    out.Ok(words_.module, "Complete");
}

int ModuleCommands::Set(ScriptOutput& out, std::string_view word, const std::vector<std::string>& path,
                        const std::optional<std::string>& pipe, const std::optional<std::string>& value) {
    if (word.empty()) return kReplyUnknownRequest;
    std::lock_guard guard(editLock_);
    if (word == "_MODIFY_") return Modify(path, value);
    if (word == "_APPLY_") return Apply(out);
    if (mode_ == Mode::None || owner_ != std::this_thread::get_id() || !value) return kReplySyntaxError;
    return Change(word, pipe, *value);
}

int ModuleCommands::ModifyList(const std::string& name) {
    std::optional<std::vector<core::RecordCopy>> lists = records_.Copy({core::RecordSet::List});
    if (!lists) return kReplySystemError;
    target_ = kNewRecord;
    for (size_t i = 0; i < lists->size() && target_ == kNewRecord; ++i) {
        if (!SameWord(TextOf((*lists)[i], words_.nameKey), name)) continue;
        original_ = (*lists)[i];
        buffer_ = std::move((*lists)[i]);
        target_ = i;
    }
    if (target_ == kNewRecord) {
        buffer_ = records_.Blank({core::RecordSet::List});
        SetText(buffer_, words_.nameKey, name, 31);
    }
    mode_ = Mode::List;
    owner_ = std::this_thread::get_id();
    return kReplyOk;
}

int ModuleCommands::Modify(const std::vector<std::string>& path, const std::optional<std::string>& value) {
    if (mode_ != Mode::None) return kReplySyntaxError;
    if (value && !words_.list.empty() && !path.empty() && SameWord(path[0], "list")) return ModifyList(*value);
    if (!value) {
        std::optional<core::RecordCopy> common = records_.CopyCommon();
        if (!common) return kReplySystemError;
        buffer_ = std::move(*common);
        mode_ = Mode::Common;
    } else {
        // "#set:module.kind=name": only an item of that kind answers to the name.
        const WordRule* kindRule = nullptr;
        std::optional<int64_t> kind;
        if (!words_.kindWord.empty() && !path.empty()) {
            if (const int row = Lookup(words_.item, words_.kindWord); row >= 0) kindRule = &words_.item[size_t(row)].rule;
            if (kindRule) kind = ChoiceValue(*kindRule, path[0]);
            if (!kind) return kReplySyntaxError;
        }
        const auto ofKind = [&](const core::RecordCopy& item) {
            const core::FieldDef* field = kind ? item.Find(kindRule->key) : nullptr;
            return !kind || (field && core::FieldNumber(*field, item.Data()) == *kind);
        };
        std::optional<std::vector<core::RecordCopy>> items = records_.CopyItems();
        if (!items) return kReplySystemError;
        target_ = kNewRecord;
        for (size_t i = 0; i < items->size() && target_ == kNewRecord; ++i) {
            const core::FieldDef* name = (*items)[i].Find(words_.nameKey);
            if (name && SameWord(*name->text((*items)[i].Data()), *value) && ofKind((*items)[i])) {
                original_ = (*items)[i];
                buffer_ = std::move((*items)[i]);
                target_ = i;
            }
        }
        if (target_ == kNewRecord) {
            if (!words_.createsItems) return kReplyDeprecated;
            buffer_ = records_.BlankItem();
            SetText(buffer_, words_.nameKey, *value, 31);
            for (const auto& [key, text] : words_.newItem)
                if (const core::FieldDef* field = buffer_.Find(key)) core::SetFieldNumber(*field, ReadDecimal(text), buffer_.Data());
            if (kind)
                if (const core::FieldDef* field = buffer_.Find(kindRule->key)) core::SetFieldNumber(*field, *kind, buffer_.Data());
        }
        mode_ = Mode::Item;
    }
    owner_ = std::this_thread::get_id();
    return kReplyOk;
}

int ModuleCommands::Apply(ScriptOutput& out) {
    if (mode_ == Mode::None || owner_ != std::this_thread::get_id()) return kReplySyntaxError;
    bool accepted = false;
    const core::SetRef set{mode_ == Mode::List ? core::RecordSet::List : core::RecordSet::Item};
    const std::optional<size_t> slot = target_ == kNewRecord ? std::nullopt : std::optional<size_t>(target_);
    if (mode_ == Mode::Common) accepted = records_.SetCommon(buffer_);
    else if (!slot) accepted = records_.Add(set, buffer_);
    else accepted = records_.Replace(set, *slot, buffer_, original_);
    if (!accepted && mode_ != Mode::Common) out.reason = records_.Refusal(set, buffer_, slot);
    buffer_ = {};
    original_ = {};
    target_ = kNewRecord;
    mode_ = Mode::None;
    owner_ = {};
    return accepted ? kReplyOk : kReplySystemError;
}

int ModuleCommands::Change(std::string_view word, const std::optional<std::string>& pipe, const std::string& value) {
    const std::vector<WordRow>& rows = mode_ == Mode::Item ? words_.item : mode_ == Mode::List ? words_.list : words_.common;
    const int row = Lookup(rows, word);
    if (row < 0) return kReplyUnknownRequest;
    const WordRule& rule = rows[size_t(row)].rule;
    if (rule.kind == RuleKind::Refused) return kReplyDeprecated;
    if (rule.kind == RuleKind::Choice && !ChoiceValue(rule, value)) return kReplySyntaxError;
    if (mode_ == Mode::List) return ChangeList(rule, pipe, value);
    return ApplyRule(rule, value, buffer_) ? kReplyOk : kReplySystemError;
}

core::RecordCopy* ModuleCommands::EntryTagged(std::string_view tag) {
    const std::string cut = platform::TruncateUtf16(tag, kTagLength);
    for (core::RecordCopy& entry : buffer_.entries)
        if (SameWord(TextOf(entry, words_.entryTagKey), cut)) return &entry;
    return nullptr;
}

int ModuleCommands::ChangeList(const WordRule& rule, const std::optional<std::string>& pipe, const std::string& value) {
    std::vector<core::RecordCopy>& entries = buffer_.entries;
    const auto append = [&](std::string_view tag) -> core::RecordCopy& {
        core::RecordCopy& entry = entries.emplace_back(records_.Blank({core::RecordSet::Entry, target_}));
        SetText(entry, words_.entryTagKey, tag, kTagLength);
        return entry;
    };
    if (rule.kind == RuleKind::Push) {
        if (EntryTagged(value) == nullptr) append(value);
        return kReplyOk;
    }
    if (rule.kind == RuleKind::Pop) {
        const std::string cut = platform::TruncateUtf16(value, kTagLength);
        std::erase_if(entries, [&](const core::RecordCopy& e) { return SameWord(TextOf(e, words_.entryTagKey), cut); });
        return kReplyOk;
    }
    if (rule.kind == RuleKind::Reset && !rule.entry) {
        // A list's reset also empties it and gives it an identity when it has none.
        if (!ApplyRule(rule, value, buffer_)) return kReplySystemError;
        entries.clear();
        if (const core::FieldDef* uid = buffer_.Find(words_.listUidKey); uid && core::FieldNumber(*uid, buffer_.Data()) <= 0)
            ApplyRule(ListUid(words_.listUidKey), "0", buffer_);
        return kReplyOk;
    }
    if (pipe && rule.kind == RuleKind::Text && rule.key == words_.nameKey) {
        // The name word with a pipe text renames the entry so tagged.
        core::RecordCopy* entry = EntryTagged(*pipe);
        if (entry == nullptr) entry = &append(*pipe);
        return SetText(*entry, words_.entryTagKey, value, kTagLength) ? kReplyOk : kReplySystemError;
    }
    if (rule.kind == RuleKind::ListUid && !rule.entry) {
        const int64_t n = ReadDecimal(value);
        if (n >= 1) {
            const std::optional<bool> taken = ListUidTaken(n);
            if (!taken) return kReplySystemError;
            // Items would find only one of two lists with one identity.
            if (*taken) return kReplyUnknownRequest;
        }
    }
    if (!rule.entry) return ApplyRule(rule, value, buffer_) ? kReplyOk : kReplySystemError;
    if (!pipe) return kReplySyntaxError;
    core::RecordCopy* entry = EntryTagged(*pipe);
    if (entry == nullptr) entry = &append(*pipe);
    return ApplyRule(rule, value, *entry) ? kReplyOk : kReplySystemError;
}

std::optional<bool> ModuleCommands::ListUidTaken(int64_t uid) {
    const std::optional<std::vector<core::RecordCopy>> lists = records_.Copy({core::RecordSet::List});
    if (!lists) return std::nullopt;
    for (size_t i = 0; i < lists->size(); ++i) {
        if (i == target_) continue;
        const core::FieldDef* id = (*lists)[i].Find(words_.listUidKey);
        if (id && core::FieldNumber(*id, (*lists)[i].Data()) == uid) return true;
    }
    return false;
}

bool ModuleCommands::ApplyRule(const WordRule& rule, const std::string& value, core::RecordCopy& record) {
    if (rule.kind == RuleKind::Reset) {
        for (const auto& [key, text] : rule.reset) {
            if (key == kDeleteMark) {
                record.deleted = ReadDecimal(text) != 0;
            } else if (const core::FieldDef* field = record.Find(key); field && field->encoding == core::FieldEncoding::String) {
                SetText(record, key, text, SIZE_MAX);
            } else if (field) {
                core::SetFieldNumber(*field, ReadDecimal(text), record.Data());
            } else {
                return false;
            }
        }
        return true;
    }
    if (rule.kind == RuleKind::Text) return SetText(record, rule.key, value, rule.length);
    const int64_t n = ReadDecimal(value);
    if (rule.key == kDeleteMark) {
        record.deleted = n >= 1;
        return true;
    }
    const core::FieldDef* field = record.Find(rule.key);
    if (field == nullptr || field->encoding != core::FieldEncoding::Struct) return false;
    void* data = record.Data();
    switch (rule.kind) {
        case RuleKind::Flag: core::SetFieldNumber(*field, n >= 1 ? 1 : 0, data); break;
        case RuleKind::Bit: {
            const int64_t old = core::FieldNumber(*field, data);
            core::SetFieldNumber(*field, n >= 1 ? old | rule.fallback : old & ~rule.fallback, data);
            break;
        }
        case RuleKind::Range: core::SetFieldNumber(*field, n >= rule.low && n <= rule.high ? n : rule.fallback, data); break;
        case RuleKind::Signed32: core::SetFieldNumber(*field, static_cast<int32_t>(n), data); break;
        case RuleKind::Correction: core::SetFieldNumber(*field, CorrectionCode(n), data); break;
        case RuleKind::Choice: {
            const std::optional<int64_t> chosen = ChoiceValue(rule, value);
            if (!chosen) return false;
            core::SetFieldNumber(*field, *chosen, data);
            break;
        }
        case RuleKind::ListUid:
            // 0 asks the module for a fresh identity, which only it can
            // choose unused, under its lock, as it takes the list.
            core::SetFieldNumber(*field, n >= 1 ? n : 0, data);
            break;
        case RuleKind::ListRef: {
            // The search takes the module lock; when it stays busy nothing changes.
            const std::optional<std::vector<core::RecordCopy>> lists = records_.Copy({core::RecordSet::List});
            if (!lists) return true;
            int64_t uid = 0;
            for (const core::RecordCopy& list : *lists) {
                if (!SameWord(TextOf(list, words_.nameKey), value)) continue;
                if (const core::FieldDef* id = list.Find(words_.listUidKey)) uid = core::FieldNumber(*id, list.Data());
                break;
            }
            core::SetFieldNumber(*field, uid, data);
            break;
        }
        default: return false;
    }
    return true;
}

void ModuleCommands::Call(ScriptOutput& out, const std::vector<std::string>& path) {
    const int row = path.empty() ? -1 : Lookup(words_.call, path[0]);
    if (row < 0) {
        if (words_.reportsUnknownCall) out.Fail(words_.module, "Unknown request");
        return;
    }
    // Start and stop failures are not reported; a busy module counts a collision.
    switch (words_.call[size_t(row)].action) {
        case CallAction::Start: module_.Start(platform::Blocking::No); break;
        case CallAction::Stop: module_.Stop(platform::Blocking::No); break;
        case CallAction::Save: module_.SaveSection(platform::Blocking::No); break;
        case CallAction::Refresh:
            if (refresh_) refresh_();
            break;
        case CallAction::None: break;
    }
}

}  // namespace qm::script
