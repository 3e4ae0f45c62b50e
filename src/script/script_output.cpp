#include "script/script_output.h"

namespace qm::script {

std::string_view ReplyWord(int reply) {
    switch (reply) {
        case kReplyUnknownRequest: return "Unknown request";
        case kReplySystemError: return "System error";
        case kReplySyntaxError: return "Syntax error";
        case kReplyOperationError: return "Operation error";
        case kReplyDeprecated: return "Deprecated method";
        default: return {};
    }
}

void ScriptOutput::Report(std::string_view line) {
    if (line.starts_with("FAIL (")) ++failures_;
    if (!logging) return;
    if (!text_.empty()) text_ += "\r\n";
    text_ += line;
}

void ScriptOutput::Ok(std::string_view word, std::string_view text) {
    std::string line = "OK (";
    line.append(word).append("): ").append(text);
    Report(line);
}

void ScriptOutput::Fail(std::string_view word, std::string_view text) {
    std::string line = "FAIL (";
    line.append(word).append("): ").append(text);
    Report(line);
}

void ScriptOutput::FailNamed(std::string_view word, std::string_view name, std::string_view text) {
    std::string line = "FAIL (";
    line.append(word).append(") -> \"").append(name).append("\": ").append(text);
    Report(line);
}

}  // namespace qm::script
