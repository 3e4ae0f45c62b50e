#include "windows/settings_dialog/field_values.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "core/core_context.h"
#include "platform/utf16.h"

namespace qm::windows::qt {

namespace {

namespace fs = std::filesystem;
namespace str = core::str;

bool IsNumber(const core::FieldDef& f) { return f.encoding == core::FieldEncoding::Struct && f.size <= 8; }
uint64_t WidthMask(const core::FieldDef& f) { return f.size >= 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * f.size)) - 1; }

std::string Bound(const core::FieldDef& f, uint64_t v) {
    return f.isSigned ? std::to_string(static_cast<int64_t>(v)) : std::to_string(v);
}

bool Executable(const fs::path& path) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (ec || !fs::is_regular_file(st)) return false;
    using fs::perms;
    return (st.permissions() & (perms::owner_exec | perms::group_exec | perms::others_exec)) != perms::none;
}

// Why the text cannot be the field's value, or nothing.
std::optional<std::string> Refusal(const core::CoreContext& core, const core::FieldDef& f, std::string_view text,
                                   core::RecordCopy& scratch) {
    const std::string label = FieldLabel(core, f);
    if (f.encoding == core::FieldEncoding::String) {
        const size_t room = f.size ? f.size - 1 : 0;
        // Cutting would change what the user typed without a word.
        if (platform::Utf16Length(text) > room) return core.Text(str::kFieldTooLong, label.c_str(), unsigned(room));
        if (f.valid && !f.valid(text)) return core.Text(str::kFieldBadForm, label.c_str());
        if (f.key == "StartCmd" && !IsProgramPath(text)) return core.Text(str::kFieldBadProgram, label.c_str());
        return scratch.Set(f.key, text) ? std::nullopt : std::optional(core.Text(str::kFieldBadValue, label.c_str()));
    }
    if (IsNumber(f)) {
        std::string_view digits = text;
        if (!digits.empty() && digits.front() == '-') digits.remove_prefix(1);
        uint64_t v = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
        if (digits.empty() || ec == std::errc::invalid_argument || end != digits.data() + digits.size())
            return core.Text(str::kFieldNotNumber, label.c_str());
        if (scratch.Set(f.key, text)) return std::nullopt;
        if (f.range)
            return core.Text(str::kFieldOutOfRange, label.c_str(), Bound(f, f.range->first).c_str(),
                             Bound(f, f.range->second).c_str());
        return core.Text(str::kFieldBadValue, label.c_str());
    }
    return scratch.Set(f.key, text) ? std::nullopt : std::optional(core.Text(str::kFieldBadValue, label.c_str()));
}

}  // namespace

std::string FieldLabel(const core::CoreContext& core, const core::FieldDef& field) {
    if (!field.label) return field.key;
    std::string text = core.Text(field.label);
    // Several texts were written for a label beside their box ("Порт:"); a
    // form row, a column header and a message put their own mark after it.
    while (!text.empty() && (text.back() == ':' || text.back() == ' ')) text.pop_back();
    return text.empty() ? field.key : text;
}

std::string FieldCaption(const core::CoreContext& core, const FieldHint& hint, const core::FieldDef& field) {
    const std::string label = FieldLabel(core, field);
    if (!IsNumber(field)) return label;
    if (hint.look == FieldLook::Seconds) return core.Text(str::kDialogInSeconds, label.c_str());
    if (hint.look == FieldLook::Plain || hint.look == FieldLook::ReadOnly) {
        if (field.kind == core::FieldKind::Milliseconds) return core.Text(str::kDialogInMilliseconds, label.c_str());
        if (field.kind == core::FieldKind::Minutes) return core.Text(str::kDialogInMinutes, label.c_str());
        if (ControlFor(hint, field) == FieldControl::Line && field.kind == core::FieldKind::Bits)
            return core.Text(str::kDialogInHex, label.c_str());
    }
    return label;
}

FieldControl ControlFor(const FieldHint& hint, const core::FieldDef& field) {
    const bool number = IsNumber(field);
    const bool named = !hint.names.empty();
    const bool readOnly = hint.look == FieldLook::ReadOnly;
    if (number && named && (hint.look == FieldLook::Bits || (readOnly && field.kind == core::FieldKind::Bits)))
        return FieldControl::Bits;
    if (number && named && (hint.look == FieldLook::Choice || (readOnly && field.kind == core::FieldKind::Choice)))
        return FieldControl::Choice;
    if (number && hint.look == FieldLook::ListRef) return FieldControl::ListRef;
    if (number && field.kind == core::FieldKind::Flag) return FieldControl::Flag;
    if (field.kind == core::FieldKind::Colour && field.encoding == core::FieldEncoding::Struct && field.size % 4 == 0)
        return FieldControl::Colours;
    if (field.kind == core::FieldKind::Rect && field.encoding == core::FieldEncoding::Struct && field.size == 16)
        return FieldControl::Rect;
    return FieldControl::Line;
}

std::string HexText(uint64_t value) {
    char text[20];
    std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string BitNames(const core::CoreContext& core, const std::vector<Named>& names, uint64_t value) {
    std::string out;
    uint64_t rest = value;
    for (const Named& n : names) {
        if ((value & n.value) == 0) continue;
        rest &= ~n.value;
        if (!out.empty()) out += ", ";
        out += NamedText(core, n);
    }
    if (rest != 0) out += (out.empty() ? "" : ", ") + HexText(rest);
    return out;
}

std::string ShownText(const FieldHint& hint, const core::FieldDef& field, const void* record) {
    if (hint.look == FieldLook::Seconds && IsNumber(field)) return std::to_string(core::FieldNumber(field, record) / 1000);
    if (field.kind == core::FieldKind::Bits && IsNumber(field))
        return HexText(static_cast<uint64_t>(core::FieldNumber(field, record)) & WidthMask(field));
    return core::FieldToText(field, record);
}

std::string StoredText(const FieldHint& hint, const core::FieldDef& field, std::string_view shown) {
    if (field.kind == core::FieldKind::Bits && IsNumber(field) && hint.look != FieldLook::Seconds) {
        uint64_t v = 0;
        const auto [end, ec] = std::from_chars(shown.data(), shown.data() + shown.size(), v, 16);
        // Not hexadecimal: passed on as it is, so the check names the field.
        if (shown.empty() || ec != std::errc() || end != shown.data() + shown.size()) return std::string(shown);
        return std::to_string(v);
    }
    if (hint.look != FieldLook::Seconds) return std::string(shown);
    int64_t seconds = 0;
    const auto [end, ec] = std::from_chars(shown.data(), shown.data() + shown.size(), seconds);
    // Not a number: passed on as it is, so the check names the field.
    if (ec != std::errc() || end != shown.data() + shown.size() || seconds > INT64_MAX / 1000 || seconds < INT64_MIN / 1000)
        return std::string(shown);
    return std::to_string(seconds * 1000);
}

std::vector<uint32_t> ColoursOf(const core::FieldDef& field, const void* record) {
    std::vector<uint8_t> bytes(field.size, 0);
    field.encode(record, bytes.data());
    std::vector<uint32_t> colours(field.size / 4, 0);
    for (size_t i = 0; i < colours.size(); ++i)
        for (size_t b = 0; b < 4; ++b) colours[i] |= uint32_t{bytes[4 * i + b]} << (8 * b);
    return colours;
}

std::string ColoursText(const core::FieldDef& field, const std::vector<uint32_t>& colours) {
    std::vector<uint8_t> bytes(field.size, 0);
    for (size_t i = 0; i < colours.size() && 4 * i + 3 < bytes.size(); ++i)
        for (size_t b = 0; b < 4; ++b) bytes[4 * i + b] = static_cast<uint8_t>(colours[i] >> (8 * b));
    if (field.size <= 8) {
        uint64_t v = 0;
        for (size_t i = 0; i < bytes.size(); ++i) v |= uint64_t{bytes[i]} << (8 * i);
        return std::to_string(v);
    }
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

bool IsProgramPath(std::string_view command) {
    if (command.empty()) return true;
    const fs::path program{std::string(command)};
    if (command.find('/') != std::string_view::npos) return Executable(program);
    const char* path = std::getenv("PATH");
    std::string_view dirs = path ? path : "/usr/bin:/bin";
    while (!dirs.empty()) {
        const size_t colon = dirs.find(':');
        const std::string_view dir = dirs.substr(0, colon);
        if (!dir.empty() && Executable(fs::path(std::string(dir)) / program)) return true;
        if (colon == std::string_view::npos) break;
        dirs.remove_prefix(colon + 1);
    }
    return false;
}

std::optional<std::string> ApplyFieldTexts(const core::CoreContext& core, const PageLayout& page, core::RecordSet set,
                                           const FieldTexts& texts, bool godMode, core::RecordCopy& record) {
    core::RecordCopy edited = record;
    for (const auto& [key, text] : texts) {
        const core::FieldDef* f = edited.Find(key);
        if (!f) continue;
        if (!godMode && HintFor(page, set, key).look == FieldLook::ReadOnly && core::FieldToText(*f, edited.Data()) != text)
            return core.Text(str::kFieldReadOnly, FieldLabel(core, *f).c_str());
        if (std::optional<std::string> why = Refusal(core, *f, text, edited)) return why;
    }
    record = std::move(edited);
    return std::nullopt;
}

void ApplyProposals(const PageLayout& page, core::RecordSet set, const core::RecordCopy& blankEntry,
                    core::RecordCopy& record) {
    for (const Proposal& p : page.proposals)
        if (p.set == set) record.Set(p.key, p.value);
    if (set != core::RecordSet::List || !blankEntry) return;
    for (const std::vector<Proposal>& proposed : page.proposedEntries) {
        core::RecordCopy entry = blankEntry;
        for (const Proposal& p : proposed) entry.Set(p.key, p.value);
        record.entries.push_back(std::move(entry));
    }
}

Outcome Attempt(core::CoreCounters& counters, const std::function<bool()>& operation) {
    const uint32_t before = counters.locks.collisions.load();
    if (operation()) return Outcome::Done;
    return counters.locks.collisions.load() != before ? Outcome::Busy : Outcome::Refused;
}

}  // namespace qm::windows::qt

namespace qm::windows::qt {

std::string NamedText(const core::CoreContext& core, const Named& named) {
    if (named.textId == 0) return named.text;
    // A design text placed in one of ours ("=" of condition 1), or a format
    // around another string ("Статус: <%s>" with a severity name).
    if (!named.text.empty()) return core.Text(named.textId, named.text.c_str(), unsigned(named.argId));
    if (named.argId != 0) return core.Text(named.textId, core.Text(named.argId).c_str());
    return core.Text(named.textId);
}

}  // namespace qm::windows::qt
