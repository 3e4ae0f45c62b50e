#pragma once
// The output of one top-level script run: the report lines, the switches a
// script can flip (highlighting, logging) and the nesting depth.
#include <cstdint>
#include <string>
#include <string_view>

namespace qm::script {

// Reply codes of the set handler and of the modules' handlers.
enum Reply : int {
    kReplyOk = 0,
    kReplyUnknownRequest = 1,
    kReplySystemError = 2,
    kReplySyntaxError = 3,
    kReplyOperationError = 4,
    kReplyDeprecated = 5,
};

// "Unknown request", "System error", ...; empty for 0 and unknown codes.
std::string_view ReplyWord(int reply);

class ScriptOutput {
public:
    // Appends one line (CR LF between lines, none after the last). Dropped
    // while logging is off; a line that says FAIL is counted either way, so
    // a caller can tell whether every statement succeeded.
    void Report(std::string_view line);
    // "OK (%s): %s" and "FAIL (%s): %s".
    void Ok(std::string_view word, std::string_view text);
    void Fail(std::string_view word, std::string_view text);
    // "FAIL (%s) -> "%s": %s".
    void FailNamed(std::string_view word, std::string_view name, std::string_view text);

    const std::string& Text() const { return text_; }
    uint32_t Failures() const { return failures_; }

    // Why the statement being run was refused, when its handler knows more
    // than its reply code (a module that refuses a record for a reason of
    // its own); the statement's failure line ends with it.
    std::string reason;
    bool colour = true;
    bool logging = true;
    int32_t depth = 0;
    uint64_t startMs = 0;  // monotonic, the base of the elapsed time

private:
    std::string text_;
    uint32_t failures_ = 0;
};

}  // namespace qm::script
