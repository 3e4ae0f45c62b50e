#include "script/module_commands.h"

#include <cinttypes>
#include <cstdio>

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

}  // namespace

ModuleCommands::ModuleCommands(core::Module& module, core::RecordSets& records, const ModuleWords& words,
                               std::function<void()> refresh)
    : module_(module), records_(records), words_(words), refresh_(std::move(refresh)) {}

void ModuleCommands::Echo(ScriptOutput& out, const std::vector<std::string>& path, const std::optional<std::string>& value) {
    int64_t filter = value ? ReadDecimal(*value) : -1;
    if (!path.empty() && SameWord(path[0], "common")) {
        const std::optional<core::RecordCopy> common = records_.CopyCommon();
        if (!common) return out.Fail(words_.module, "Collision");
        for (const PrintedName& p : words_.printedCommon) out.Report(p.name + "=" + ValueText(*common, p));
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

int ModuleCommands::Set(ScriptOutput&, std::string_view word, const std::vector<std::string>&,
                        const std::optional<std::string>&, const std::optional<std::string>& value) {
    if (word.empty()) return kReplyUnknownRequest;
    std::lock_guard guard(editLock_);
    if (word == "_MODIFY_") return Modify(value);
    if (word == "_APPLY_") return Apply();
    if (mode_ == Mode::None || owner_ != std::this_thread::get_id() || !value) return kReplySyntaxError;
    return Change(word, *value);
}

int ModuleCommands::Modify(const std::optional<std::string>& value) {
    if (mode_ != Mode::None) return kReplySyntaxError;
    if (!value) {
        std::optional<core::RecordCopy> common = records_.CopyCommon();
        if (!common) return kReplySystemError;
        buffer_ = std::move(*common);
        mode_ = Mode::Common;
    } else {
        std::optional<std::vector<core::RecordCopy>> items = records_.CopyItems();
        if (!items) return kReplySystemError;
        target_ = kNewRecord;
        for (size_t i = 0; i < items->size() && target_ == kNewRecord; ++i) {
            const core::FieldDef* name = (*items)[i].Find(words_.nameKey);
            if (name && SameWord(*name->text((*items)[i].Data()), *value)) {
                original_ = (*items)[i];
                buffer_ = std::move((*items)[i]);
                target_ = i;
            }
        }
        if (target_ == kNewRecord) {
            if (!words_.createsItems) return kReplyDeprecated;
            buffer_ = records_.BlankItem();
            SetText(words_.nameKey, *value, 31);
            for (const auto& [key, text] : words_.newItem)
                if (const core::FieldDef* field = buffer_.Find(key)) core::SetFieldNumber(*field, ReadDecimal(text), buffer_.Data());
        }
        mode_ = Mode::Item;
    }
    owner_ = std::this_thread::get_id();
    return kReplyOk;
}

int ModuleCommands::Apply() {
    if (mode_ == Mode::None || owner_ != std::this_thread::get_id()) return kReplySyntaxError;
    bool accepted = false;
    if (mode_ == Mode::Common) accepted = records_.SetCommon(buffer_);
    else if (target_ == kNewRecord) accepted = records_.AddItem(buffer_);
    else accepted = records_.ReplaceItem(target_, buffer_, original_);
    buffer_ = {};
    original_ = {};
    target_ = kNewRecord;
    mode_ = Mode::None;
    owner_ = {};
    return accepted ? kReplyOk : kReplySystemError;
}

int ModuleCommands::Change(std::string_view word, const std::string& value) {
    const std::vector<WordRow>& rows = mode_ == Mode::Item ? words_.item : words_.common;
    const int row = Lookup(rows, word);
    if (row < 0) return kReplyUnknownRequest;
    const WordRule& rule = rows[size_t(row)].rule;
    if (rule.kind == RuleKind::Refused) return kReplyDeprecated;
    return ApplyRule(rule, value) ? kReplyOk : kReplySystemError;
}

bool ModuleCommands::SetText(std::string_view key, std::string_view text, size_t length) {
    const core::FieldDef* field = buffer_.Find(key);
    if (field == nullptr || field->encoding != core::FieldEncoding::String) return false;
    // The field's own capacity holds its terminator as well.
    const size_t capacity = field->size ? field->size - 1 : 0;
    *field->text(buffer_.Data()) = platform::TruncateUtf16(text, std::min(length, capacity));
    return true;
}

bool ModuleCommands::ApplyRule(const WordRule& rule, const std::string& value) {
    if (rule.kind == RuleKind::Reset) {
        for (const auto& [key, text] : rule.reset) {
            if (key == kDeleteMark) {
                buffer_.deleted = ReadDecimal(text) != 0;
            } else if (const core::FieldDef* field = buffer_.Find(key); field && field->encoding == core::FieldEncoding::String) {
                SetText(key, text, SIZE_MAX);
            } else if (field) {
                core::SetFieldNumber(*field, ReadDecimal(text), buffer_.Data());
            } else {
                return false;
            }
        }
        return true;
    }
    if (rule.kind == RuleKind::Text) return SetText(rule.key, value, rule.length);
    const int64_t n = ReadDecimal(value);
    if (rule.key == kDeleteMark) {
        buffer_.deleted = n >= 1;
        return true;
    }
    const core::FieldDef* field = buffer_.Find(rule.key);
    if (field == nullptr || field->encoding != core::FieldEncoding::Struct) return false;
    void* record = buffer_.Data();
    switch (rule.kind) {
        case RuleKind::Flag: core::SetFieldNumber(*field, n >= 1 ? 1 : 0, record); break;
        case RuleKind::Bit: {
            const int64_t old = core::FieldNumber(*field, record);
            core::SetFieldNumber(*field, n >= 1 ? old | rule.fallback : old & ~rule.fallback, record);
            break;
        }
        case RuleKind::Range: core::SetFieldNumber(*field, n >= rule.low && n <= rule.high ? n : rule.fallback, record); break;
        case RuleKind::Signed32: core::SetFieldNumber(*field, static_cast<int32_t>(n), record); break;
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
