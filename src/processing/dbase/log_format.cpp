#include "processing/dbase/log_format.h"

#include "core/text_format.h"
#include "platform/utf16.h"
#include "processing/dbase/dbase_settings.h"

namespace qm::processing {

using core::ArgKind;

namespace {
constexpr ArgKind kLineArgs[] = {ArgKind::String, ArgKind::String, ArgKind::Integer, ArgKind::Integer, ArgKind::Integer,
                                 ArgKind::Integer, ArgKind::Integer, ArgKind::Integer, ArgKind::Integer};
constexpr ArgKind kNameArgs[] = {ArgKind::Integer, ArgKind::Integer, ArgKind::Integer,
                                 ArgKind::Integer, ArgKind::Integer, ArgKind::Integer};
}  // namespace

bool IsValidLogFormat(std::string_view format) {
    const auto kinds = core::FormatSignature(format);
    return kinds && kinds->size() == std::size(kLineArgs) && std::equal(kinds->begin(), kinds->end(), kLineArgs);
}

bool IsValidLogNameFormat(std::string_view format) {
    return core::FormatTakesPrefixOf(format, kNameArgs) && IsPlainFileName(format);
}

namespace {
// "<%u>" for the event's facility and severity; an unknown severity reads
// back as Debug, the least alarming one.
std::string PriorityPrefix(const core::EventRecord& e) {
    const uint32_t severity = e.severity <= 7 ? e.severity : 7;
    return "<" + std::to_string(((e.facility & 127) << 3) | severity) + ">";
}
}  // namespace

std::string LoggedText(const core::EventRecord& e) {
    if (!e.Raw().empty()) return std::string(e.Raw());
    return PriorityPrefix(e).append(e.Message());
}

std::string FormatLogLine(std::string_view logFormat, const core::EventRecord& e) {
    const std::string_view format = IsValidLogFormat(logFormat) ? logFormat : std::string_view(kDefaultLogFormat);
    const platform::SystemTime& t = e.time;
    auto line = core::Format(format, LoggedText(e), e.sender, uint32_t(t.day), uint32_t(t.month), uint32_t(t.year),
                             uint32_t(t.hour), uint32_t(t.minute), uint32_t(t.second), uint32_t(t.milliseconds));
    return line.value_or(std::string());
}

void AppendStoredLine(std::string& out, std::string_view line) {
    platform::AppendUtf16LEBytes(out, line);
    out.push_back('\n');
    out.push_back('\0');
}

void AppendLogLine(std::string& out, std::string_view logFormat, const core::EventRecord& e) {
    if (logFormat != kDefaultLogFormat) {
        AppendStoredLine(out, FormatLogLine(logFormat, e));
        return;
    }
    // "%s|a2;%s;%u %u %u %u %u %u %u;" written directly.
    const platform::SystemTime& t = e.time;
    char numbers[48];
    char* w = numbers;
    for (const uint16_t v : {t.day, t.month, t.year, t.hour, t.minute, t.second, t.milliseconds}) {
        char digits[5];
        int n = 0;
        unsigned x = v;
        do {
            digits[n++] = char('0' + x % 10);
            x /= 10;
        } while (x);
        while (n) *w++ = digits[--n];
        *w++ = ' ';
    }
    w[-1] = ';';
    *w++ = '\n';
    if (!e.Raw().empty()) {
        platform::AppendUtf16LEBytes(out, e.Raw());
    } else {
        platform::AppendUtf16LEBytes(out, PriorityPrefix(e));
        platform::AppendUtf16LEBytes(out, e.Message());
    }
    platform::AppendUtf16LEBytes(out, "|a2;");
    platform::AppendUtf16LEBytes(out, e.sender);
    platform::AppendUtf16LEBytes(out, ";");
    platform::AppendUtf16LEBytes(out, std::string_view(numbers, size_t(w - numbers)));
}

std::string_view UsableLogNameFormat(std::string_view nameFormat) {
    return IsValidLogNameFormat(nameFormat) ? nameFormat : std::string_view(kDefaultLogNameFormat);
}

std::string LogFileName(std::string_view nameFormat, const platform::SystemTime& now) {
    const core::FormatArg args[] = {
        core::FormatArg::From(uint32_t(now.day)),  core::FormatArg::From(uint32_t(now.month)),
        core::FormatArg::From(uint32_t(now.year)), core::FormatArg::From(uint32_t(now.hour)),
        core::FormatArg::From(uint32_t(now.minute)), core::FormatArg::From(uint32_t(now.second))};
    if (IsValidLogNameFormat(nameFormat)) {
        if (auto name = core::FormatText(nameFormat, args, true); name && IsPlainFileName(*name)) return *name;
    }
    return core::FormatText(kDefaultLogNameFormat, args).value_or("log.log");
}

}  // namespace qm::processing
