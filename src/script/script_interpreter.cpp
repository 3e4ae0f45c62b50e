#include "script/script_interpreter.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <thread>
#include <utility>

#include "core/core_context.h"
#include "core/memory_accounting.h"
#include "platform/clock.h"
#include "script/statement_lexer.h"

namespace qm::script {

namespace {

template <typename... Words>
bool IsOneOf(std::string_view word, Words... words) {
    return (SameWord(word, words) || ...);
}

std::string Printed(const char* format, auto... args) {
    char text[160];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

enum class VariableKind { Function, Integer, Text, SetLink };

// Every entry owns its value: a loop's counter lives in its entry, so a
// later "@i" reads what the entry holds (0 once the loop has ended).
struct Variable {
    std::string name;
    VariableKind kind = VariableKind::Text;
    std::string text;  // function body, text, or the set statement's name
    bool hasBody = false;
    int32_t number = 0;
};

struct Frame {
    const Frame* parent = nullptr;
    std::vector<Variable> variables;
    std::vector<Statement> statements;
};

void Define(std::vector<Variable>& variables, Variable entry) {
    for (Variable& v : variables)
        if (v.name == entry.name) {
            v = std::move(entry);
            return;
        }
    variables.push_back(std::move(entry));
}

class Interpreter {
public:
    Interpreter(const ScriptEnvironment& env, ScriptOutput& out) : env_(env), out_(out) {}

    void Execute(std::string_view text, const Frame* parent, const Statement* enclosing, bool topLevel) {
        Frame frame;
        frame.parent = parent;
        if (enclosing != nullptr && SameWord(enclosing->keyword, "set"))
            frame.variables.push_back(Variable{"_SET_", VariableKind::SetLink, enclosing->name.value_or(""), false, 0});
        frame.statements = ParseStatements(text);
        for (size_t i = 0; i < frame.statements.size(); ++i) {
            if (Cancelled()) return;
            Statement& s = frame.statements[i];
            Substitute(s.name, frame);
            Substitute(s.value, frame);
            Dispatch(s, frame, topLevel);
        }
    }

    bool Cancelled() {
        if (env_.cancel != nullptr && env_.cancel->IsSet()) cancelled_ = true;
        return cancelled_;
    }

private:
    // A nested run one level deeper, or a FAIL line when that is too deep.
    void Nested(std::string_view text, const Frame* parent, const Statement& enclosing, std::string_view word) {
        if (out_.depth >= kMaxScriptDepth) {
            out_.FailNamed(word, enclosing.name.value_or(""), ReplyWord(kReplyOperationError));
            return;
        }
        ++out_.depth;
        Execute(text, parent, &enclosing, false);
        --out_.depth;
    }

    const Variable* FindValue(std::string_view name, const Frame& frame) const {
        for (const Frame* f = &frame; f != nullptr; f = f->parent)
            for (const Variable& v : f->variables)
                if (v.name == name && (v.kind == VariableKind::Integer || v.kind == VariableKind::Text)) return &v;
        for (const Variable& v : globals_)
            if (v.name == name && (v.kind == VariableKind::Integer || v.kind == VariableKind::Text)) return &v;
        return nullptr;
    }

    static std::string ValueText(const Variable& v) {
        return v.kind == VariableKind::Integer ? std::to_string(v.number) : v.text;
    }

    void Substitute(std::optional<std::string>& word, const Frame& frame) const {
        if (!word || word->empty() || word->front() != '@') return;
        if (const Variable* v = FindValue(std::string_view(*word).substr(1), frame)) *word = ValueText(*v);
    }

    void Dispatch(const Statement& s, Frame& frame, bool topLevel) {
        const std::string& k = s.keyword;
        if (k == "call") {
            Call(s, frame);
        } else if (k == "echo") {
            Echo(s, frame);
        } else if (k == "set") {
            const int reply = Set(s, frame);
            std::string reason = std::exchange(out_.reason, {});
            if (reply != kReplyOk) {
                std::string text(ReplyWord(reply));
                if (!reason.empty()) text += ": " + reason;
                if (s.name) out_.FailNamed("_SET_", *s.name, text);
                else out_.Fail("_SET_", text);
            }
        } else if (k == "func") {
            if (s.name) Define(frame.variables, Variable{*s.name, VariableKind::Function, s.block.value_or(""), s.block.has_value(), 0});
        } else if (k == "glob" || k == "global") {
            if (topLevel && s.name)
                Define(globals_, Variable{*s.name, VariableKind::Function, s.block.value_or(""), s.block.has_value(), 0});
        } else if (k == "var") {
            if (s.name && s.value) Define(frame.variables, Variable{*s.name, VariableKind::Text, *s.value, false, 0});
        } else if (k == "for") {
            if (s.name && s.value) For(s, frame);
        }
    }

    void For(const Statement& s, Frame& frame) {
        const int64_t wide = ReadDecimal(*s.value);
        int32_t counter = static_cast<int32_t>(std::clamp<int64_t>(wide, INT32_MIN, INT32_MAX));
        Define(frame.variables, Variable{*s.name, VariableKind::Integer, {}, false, counter});
        const auto setCounter = [&frame, &s](int32_t value) {
            for (Variable& v : frame.variables)
                if (v.name == *s.name) v.number = value;
        };
        while (counter != 0) {
            if (Cancelled()) break;
            if (s.block) Nested(*s.block, &frame, s, "_FOR_");
            counter += counter > 0 ? -1 : 1;
            setCounter(counter);
        }
        setCounter(0);
    }

    void Call(const Statement& s, const Frame& frame) {
        if (!s.name) {
            out_.Fail("_CALL_", ReplyWord(kReplySyntaxError));
            return;
        }
        const std::string& name = *s.name;
        const auto word = [&s](size_t i) -> std::string_view { return i < s.path.size() ? std::string_view(s.path[i]) : std::string_view(); };
        if (IsOneOf(name, "sys", "system")) {
            if (IsOneOf(word(0), "quit", "exit", "close")) {
                if (env_.core != nullptr) env_.core->exitEvent.Set();
            } else if (SameWord(word(0), "sleep") && s.value) {
                Sleep(ReadDecimal(*s.value));
            } else if (IsOneOf(word(0), "wnd", "window") && IsOneOf(word(1), "update", "show")) {
                ShowProtocol();
            } else {
                out_.FailNamed("_CALL_", name, ReplyWord(kReplyUnknownRequest));
            }
            return;
        }
        if (ScriptNode* node = FindNode(name)) {
            node->Call(out_, s.path);
            return;
        }
        const Variable* function = nullptr;
        for (const Variable& v : frame.variables)
            if (v.kind == VariableKind::Function && v.hasBody && v.name == name) {
                function = &v;
                break;
            }
        if (function == nullptr)
            for (const Variable& v : globals_)
                if (v.kind == VariableKind::Function && v.hasBody && v.name == name) {
                    function = &v;
                    break;
                }
        if (function == nullptr) {
            out_.FailNamed("_CALL_", name, ReplyWord(kReplyUnknownRequest));
            return;
        }
        // The body is copied: a definition the call makes may replace it.
        const std::string body = function->text;
        Nested(body, &frame, s, "_CALL_");
    }

    void Sleep(int64_t value) {
        // |INT64_MIN| has no value of its own: it waits as long as INT64_MAX.
        int64_t left = value == INT64_MIN ? INT64_MAX : (value < 0 ? -value : value);
        constexpr int64_t kStep = 3600 * 1000;
        while (left > 0 && !Cancelled()) {
            const int64_t step = std::min(left, kStep);
            if (env_.cancel != nullptr) env_.cancel->Wait(std::chrono::milliseconds(step));
            else std::this_thread::sleep_for(std::chrono::milliseconds(step));
            left -= step;
        }
    }

    void ShowProtocol() {
        if (!env_.showProtocol) return;
        env_.showProtocol(ProtocolWindowOf(out_.Text(), out_.colour));
    }

    void Echo(const Statement& s, const Frame& frame) {
        if (!s.name) {
            if (s.value) out_.Report(*s.value);
            else out_.FailNamed("_ECHO_", "", ReplyWord(kReplyUnknownRequest));
            return;
        }
        const std::string& name = *s.name;
        const auto word = [&s](size_t i) -> std::string_view { return i < s.path.size() ? std::string_view(s.path[i]) : std::string_view(); };
        if (IsOneOf(name, "sys", "system")) {
            if (!IsOneOf(word(0), "state", "status") || s.path.size() < 2 || env_.core == nullptr) {
                out_.FailNamed("_ECHO_", name, ReplyWord(kReplyUnknownRequest));
                return;
            }
            const core::CoreCounters& c = env_.core->counters;
            if (IsOneOf(word(1), "net", "network")) {
                out_.Report(Printed("Received (pkt): %" PRId64, static_cast<int64_t>(c.datagramsReceived.load())));
                out_.Report(Printed("Received (byte): %" PRId64, static_cast<int64_t>(c.bytesReceived.load())));
                out_.Report(Printed("Sended (pkt): %" PRId64, static_cast<int64_t>(c.datagramsSent.load())));
                out_.Report(Printed("Sended (byte): %" PRId64, static_cast<int64_t>(c.bytesSent.load())));
            } else if (IsOneOf(word(1), "mem", "memory")) {
                out_.Report(Printed("Used (bytes): %" PRId64, static_cast<int64_t>(core::TakeMemorySnapshot().InUse())));
            } else {
                out_.Report(Printed("Active CS: %" PRId64, static_cast<int64_t>(c.locks.users.load())));
                out_.Report(Printed("Collision: %u", c.locks.collisions.load()));
                out_.Report(Printed("Errors: %u", static_cast<unsigned>(c.errors.load())));
                out_.Report(Printed("Active threads: %u", c.threads.load()));
                out_.Report(Printed("Active windows: %u", c.windows.load()));
            }
            return;
        }
        if (IsOneOf(name, "dbg", "debug")) {
            const std::string_view w = word(0);
            if (SameWord(w, "stack")) {
                for (size_t i = 0; i < frame.statements.size(); ++i)
                    out_.Report(Printed("%u. ", static_cast<unsigned>(i)) + frame.statements[i].name.value_or(""));
            } else if (SameWord(w, "local")) {
                for (const Frame* f = &frame; f != nullptr; f = f->parent) {
                    out_.Report(f == &frame ? "* INTERNAL" : "* PARENT");
                    for (size_t i = 0; i < f->variables.size(); ++i)
                        out_.Report(Printed("%u. ", static_cast<unsigned>(i)) + f->variables[i].name);
                }
            } else if (SameWord(w, "global")) {
                for (size_t i = 0; i < globals_.size(); ++i)
                    out_.Report(Printed("%u. ", static_cast<unsigned>(i)) + globals_[i].name);
            } else if (IsOneOf(w, "elapsed", "timer")) {
                out_.Report(Printed("%" PRId64, static_cast<int64_t>(platform::MonotonicMs() - out_.startMs)));
            } else if (IsOneOf(w, "recursion", "recur")) {
                out_.Report(Printed("%d", out_.depth));
            } else {
                out_.FailNamed("_ECHO_", name, ReplyWord(kReplyUnknownRequest));
            }
            return;
        }
        if (ScriptNode* node = FindNode(name)) {
            node->Echo(out_, s.path, s.value);
            return;
        }
        if (const Variable* v = FindValue(name, frame)) {
            out_.Report(ValueText(*v));
            return;
        }
        out_.FailNamed("_ECHO_", name, ReplyWord(kReplyUnknownRequest));
    }

    int Set(const Statement& s, const Frame& frame) {
        if (!s.name) return kReplySyntaxError;
        const std::string& name = *s.name;
        const auto word = [&s](size_t i) -> std::string_view { return i < s.path.size() ? std::string_view(s.path[i]) : std::string_view(); };

        std::optional<std::string> parentNode;
        for (const Variable& v : frame.variables)
            if (v.kind == VariableKind::SetLink && v.name == "_SET_") {
                out_.Report(" * SET node found: " + v.text);
                parentNode = v.text;
                break;
            }
        const bool nested = parentNode.has_value();

        if (IsOneOf(name, "syslog", "log")) {
            if (nested) return kReplyDeprecated;
            if (!s.value) return kReplySyntaxError;
            if (s.path.empty()) return kReplyUnknownRequest;
            core::Severity severity = core::Severity::Debug;
            if (IsOneOf(word(0), "inf", "info")) severity = core::Severity::Info;
            else if (IsOneOf(word(0), "warn", "warning")) severity = core::Severity::Warning;
            else if (IsOneOf(word(0), "err", "error")) severity = core::Severity::Error;
            // The value is the event's text as it stands, never a format.
            if (env_.core != nullptr && env_.core->events)
                env_.core->events->Report(core::SeverityValue(severity), *s.value);
            return kReplyOk;
        }
        if (IsOneOf(name, "system", "sys")) {
            if (nested) return kReplyDeprecated;
            if (!s.value) return kReplySyntaxError;
            if (IsOneOf(word(0), "wnd", "window") && SameWord(word(1), "color")) {
                out_.colour = ReadDecimal(*s.value) != 0;
                return kReplyOk;
            }
            if (IsOneOf(word(0), "log", "logging") && IsOneOf(word(1), "en", "enable")) {
                out_.logging = ReadDecimal(*s.value) != 0;
                return kReplyOk;
            }
            return kReplyUnknownRequest;
        }
        ScriptNode* node = FindNode(nested ? *parentNode : name);
        if (node == nullptr) return kReplyUnknownRequest;
        if (s.block) {
            if (nested) return kReplySyntaxError;
            const int opened = node->Set(out_, "_MODIFY_", s.path, s.pipe, s.value);
            if (opened != kReplyOk) return opened;
            // The block sees the global functions but not the caller's variables.
            Nested(*s.block, nullptr, s, "_SET_");
            return node->Set(out_, "_APPLY_", {}, std::nullopt, std::nullopt);
        }
        if (!nested) return kReplyDeprecated;
        // The words that open and close an edit belong to the block around
        // it; written inside it they would end the edit early or open another.
        if (name == "_MODIFY_" || name == "_APPLY_") return kReplyUnknownRequest;
        return node->Set(out_, name, s.path, s.pipe, s.value);
    }

    ScriptNode* FindNode(std::string_view name) const { return env_.findNode ? env_.findNode(name) : nullptr; }

    const ScriptEnvironment& env_;
    ScriptOutput& out_;
    std::vector<Variable> globals_;
    bool cancelled_ = false;
};

}  // namespace

const std::array<ProtocolHighlight, 3>& ProtocolHighlights() {
    static const std::array<ProtocolHighlight, 3> rules{{
        {":", "\r", 0x00FF0000, false},  // blue
        {"*", "\r", 0x0000FF00, false},  // green
        {"[", "]", 0x000000FF, false},   // red
    }};
    return rules;
}

ProtocolWindow ProtocolWindowOf(std::string_view report, bool colour) {
    ProtocolWindow window;
    window.title = "Quillmark: Script protocol";
    window.text = report.empty() ? "WND: Empty buffer (no log data)" : std::string(report);
    window.highlight = colour;
    return window;
}

int64_t ReadDecimal(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    uint64_t magnitude = 0;
    bool saturated = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const unsigned digit = static_cast<unsigned>(text[i] - '0');
        if (magnitude > (static_cast<uint64_t>(INT64_MAX) + 1 - digit) / 10) {
            saturated = true;
            break;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (negative) return saturated || magnitude > static_cast<uint64_t>(INT64_MAX) ? INT64_MIN : -static_cast<int64_t>(magnitude);
    return saturated || magnitude > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(magnitude);
}

ScriptRun RunScript(std::string_view text, const ScriptEnvironment& env) {
    ScriptOutput out;
    out.startMs = platform::MonotonicMs();
    Interpreter interpreter(env, out);
    interpreter.Execute(text, nullptr, nullptr, true);
    ScriptRun run;
    run.text = out.Text();
    run.failures = out.Failures();
    run.cancelled = interpreter.Cancelled();
    run.colour = out.colour;
    return run;
}

}  // namespace qm::script
