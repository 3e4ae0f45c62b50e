#include "core/command_line.h"

#include <climits>

#include "platform/utf16.h"

namespace qm::core {

const char* const kHelpText =
    "Quillmark v3.0\r\n"
    "Syslog server and network monitor by the Quillmark developers\r\n"
    "Home: the Quillmark project\r\n"
    "Issues: the Quillmark issue tracker\r\n"
    "\r\n"
    "Run app as user:\r\n  -auth <domain> <user> <password>\r\n  Local authorization: <.> <user> <password>\r\n\r\n"
    "God mode (default: off):\r\n  -gm <on>/<off>\r\n\r\n"
    "Locale (default: RU):\r\n  -locale <locale>\r\n\r\n"
    "Font size (default: 12):\r\n  -fontsize <size>\r\n\r\n"
    "Font face (default: Calibri):\r\n  -fontface <name>\r\n\r\n"
    "Reset window position:\r\n  -wndreset\r\n\r\n"
    "Set value buffer size (default: 5000):\r\n  -vc_buffer <size>\r\n\r\n"
    "Reset to default:\r\n  -def";

std::vector<std::string> SplitCommandLine(const std::string& line) {
    std::vector<std::string> words;
    size_t pos = 0;
    while (pos < line.size() && words.size() < kMaxWords) {
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
        const size_t begin = pos;
        while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t') ++pos;
        if (pos > begin) words.push_back(platform::TruncateUtf16(line.substr(begin, pos - begin), kMaxWordLength));
    }
    return words;
}

namespace {
// Leading digits; 0 when there are none.
uint32_t LeadingNumber(const std::string& s) {
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') break;
        v = v * 10 + uint64_t(c - '0');
        if (v > INT32_MAX) v = INT32_MAX;
    }
    return static_cast<uint32_t>(v);
}
}  // namespace

StartOptions ParseCommandLine(const std::string& line) {
    const std::vector<std::string> words = SplitCommandLine(line);
    StartOptions o;
    // Slots beyond the words read as empty, so an option's value may be empty.
    auto slot = [&](size_t i) -> std::string { return i < words.size() ? words[i] : std::string(); };

    for (size_t i = 0; i < kMaxWords && !slot(i).empty();) {
        const std::string w = slot(i);
        const bool hasValueSlot = i + 1 < kMaxWords;
        const std::string value = hasValueSlot ? slot(i + 1) : std::string();
        const size_t next = hasValueSlot ? i + 2 : i + 1;
        if (w == "-?" || w == "-help") {
            o.showHelp = true;
            return o;
        }
        if (w == "-auth") {
            if (i + 3 < kMaxWords) {
                o.logon = LogonRequest{slot(i + 1), slot(i + 2), slot(i + 3)};
                return o;
            }
            ++i;
        } else if (w == "-gm") {
            if (value == "on") o.godMode = GodModeOverride::On;
            else if (value == "off") o.godMode = GodModeOverride::Off;
            i = next;
        } else if (w == "-locale") {
            if (platform::Utf16Length(value) >= 2) o.locale = platform::TruncateUtf16(value, 2);
            i = next;
        } else if (w == "-fontsize") {
            if (!value.empty()) {
                const uint32_t n = LeadingNumber(value);
                o.fontSize = static_cast<int32_t>(n);
            }
            i = next;
        } else if (w == "-fontface") {
            if (!value.empty()) o.fontFace = platform::TruncateUtf16(value, 31);
            i = next;
        } else if (w == "-wndreset") {
            o.windowReset = true;
            ++i;
        } else if (w == "-vc_buffer") {
            if (!value.empty() && value[0] >= '0' && value[0] <= '9') o.valueBufferSize = LeadingNumber(value);
            i = next;
        } else if (w == "-def") {
            o.windowReset = true;
            o.fontFace = "Calibri";
            o.fontSize = 11;
            o.locale = "RU";
            o.godMode = GodModeOverride::Off;
            o.valueBufferSize = 5000;
            ++i;
        } else {
            ++i;
        }
    }
    return o;
}

std::string JoinArguments(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        line += argv[i];
    }
    return line;
}

}  // namespace qm::core
