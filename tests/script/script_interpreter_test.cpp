#include "script/script_interpreter.h"

#include <gtest/gtest.h>

#include <tuple>
#include <thread>

#include "core/core_context.h"
#include "script/statement_lexer.h"

namespace qm::script {
namespace {

// A module node that prints what it was asked and keeps an edit open
// between "_MODIFY_" and "_APPLY_".
class FakeNode : public ScriptNode {
public:
    explicit FakeNode(std::string name) : name_(std::move(name)) {}
    void Echo(ScriptOutput& out, const std::vector<std::string>& path, const std::optional<std::string>& value) override {
        out.Report("echo " + name_ + " " + (path.empty() ? "" : path[0]) + " " + value.value_or("-"));
    }
    int Set(ScriptOutput& out, std::string_view word, const std::vector<std::string>&, const std::optional<std::string>&,
            const std::optional<std::string>& value) override {
        if (word == "_MODIFY_" || word == "_APPLY_") {
            const bool opens = word == "_MODIFY_";
            if (editing == opens) return kReplySyntaxError;
            editing = opens;
            if (!opens) out.Ok(name_, "Applied");
            return kReplyOk;
        }
        if (!editing || !value) return kReplySyntaxError;
        if (word != "timeout") return kReplyUnknownRequest;
        timeout = *value;
        return kReplyOk;
    }
    void Call(ScriptOutput& out, const std::vector<std::string>& path) override {
        out.Report("call " + name_ + " " + (path.empty() ? "" : path[0]));
    }
    bool editing = false;
    std::string timeout;

private:
    std::string name_;
};

struct ScriptFixture {
    FakeNode dbase{"mod_dbase"};
    core::CoreContext core;
    ScriptEnvironment env;
    std::vector<ProtocolWindow> shown;
    ScriptFixture() {
        env.core = &core;
        env.findNode = [this](std::string_view name) -> ScriptNode* { return name == "mod_dbase" ? &dbase : nullptr; };
        env.showProtocol = [this](const ProtocolWindow& w) { shown.push_back(w); };
    }
    std::string operator()(std::string_view text) { return RunScript(text, env).text; }
};

// Each statement as "keyword:name.path|pipe=value{block}", the parts it has.
std::vector<std::string> Parsed(std::string_view text) {
    std::vector<std::string> out;
    for (const Statement& s : ParseStatements(text)) {
        std::string t = s.keyword + (s.name ? ":" + *s.name : "");
        for (const std::string& p : s.path) t += "." + p;
        t += (s.pipe ? "|" + *s.pipe : "") + (s.value ? "=" + *s.value : "");
        out.push_back(t + (s.block ? "{" + *s.block + "}" : ""));
    }
    return out;
}

TEST(StatementLexer, StatementsPartsAndTheQuirksOfEmptyParts) {
    EXPECT_EQ(Parsed("free text ; #echo:mod_dbase.common = 5 \r\n/ a comment #echo=hidden\n#set:mod_icmp{#set:repeat=5000;}"
                     "#call:system.sleep=500;#var:host=10.0.0.1;#x:a.b|p.q|r=v=w:/x{b{c}d}"),
              (std::vector<std::string>{"echo:mod_dbase.common=5", "set:mod_icmp{#set:repeat=5000;}", "call:system.sleep=500",
                                        "var:host=10.0.0.1", "x:a.b|p.q|r=v=w:/x{b{c}d}"}));
    // "={" opens no block: what follows is read at the same level.
    EXPECT_EQ(Parsed("#set:x={#echo=in}"), (std::vector<std::string>{"set:x", "echo=in}"}));
    // "#set:.x" keeps no path word and goes back to idle at the dot.
    EXPECT_EQ(Parsed("#set:.x=1"), std::vector<std::string>{"set"});
    // An empty keyword drops the statement; an unclosed block is not kept.
    EXPECT_TRUE(Parsed("#:x=1 #;").empty());
    EXPECT_EQ(Parsed("#func:f{#echo=1"), std::vector<std::string>{"func:f"});
    EXPECT_TRUE(Parsed("no statements / #echo=1").empty());
}

TEST(ScriptInterpreter, EchoLoopsVariablesFunctionsAndScopes) {
    ScriptFixture run;
    EXPECT_EQ(run("#echo=Hello"), "Hello");
    EXPECT_EQ(run("#echo"), "FAIL (_ECHO_) -> \"\": Unknown request");
    EXPECT_EQ(run("#for:i=3{#echo:i}"), "3\r\n2\r\n1");
    EXPECT_EQ(run("#for:i=-2{#echo=@i}"), "-2\r\n-1");
    EXPECT_EQ(run("#for:i=0{#echo=x}#for:j=abc{#echo=y}"), "");
    // The loop's variable owns its value: after the loop it reads 0.
    EXPECT_EQ(run("#for:i=2{#var:x=1}#echo=@i"), "0");
    EXPECT_EQ(run("#var:host=10.0.0.1;#echo=@host;#echo=@nothing;#echo:host"), "10.0.0.1\r\n@nothing\r\n10.0.0.1");
    // Functions see their caller's variables; a func made in one block is not
    // seen from another; glob only at the top level.
    EXPECT_EQ(run("#var:v=x;#func:f{#echo=@v}#call:f"), "x");
    EXPECT_EQ(run("#for:i=1{#func:g{#echo=in}}#for:j=1{#call:g}"), "FAIL (_CALL_) -> \"g\": Unknown request");
    EXPECT_EQ(run("#glob:g{#echo=global}#for:j=1{#call:g}"), "global");
    EXPECT_EQ(run("#for:j=1{#glob:h{#echo=no}}#call:h"), "FAIL (_CALL_) -> \"h\": Unknown request");
    EXPECT_EQ(run("#call"), "FAIL (_CALL_): Syntax error");
    EXPECT_EQ(run("#call:sys.nothing"), "FAIL (_CALL_) -> \"sys\": Unknown request");
    EXPECT_EQ(run("#echo:dbg.recursion;#func:f{#echo:debug.recur}#call:f"), "0\r\n1");
    EXPECT_EQ(run("#var:a=1;#func:f{#echo:dbg.local}#call:f"), "* INTERNAL\r\n* PARENT\r\n0. a\r\n1. f");
    EXPECT_EQ(run("#echo:sys.state"), "FAIL (_ECHO_) -> \"sys\": Unknown request");
    EXPECT_EQ(run("#echo:sys.state.net"),
              "Received (pkt): 0\r\nReceived (byte): 0\r\nSended (pkt): 0\r\nSended (byte): 0");
    // Unknown keywords and statements lacking their part run nothing.
    EXPECT_EQ(run("#bogus:x=1;#var:y;#for:z;#func{#echo=1}"), "");
}

TEST(ScriptInterpreter, SetNestingRepliesAndTheSystemNodes) {
    ScriptFixture run;
    EXPECT_EQ(run("#set:mod_dbase.timeout=5000"), "FAIL (_SET_) -> \"mod_dbase\": Deprecated method");
    EXPECT_EQ(run("#set:mod_dbase{#set:timeout=5000;}"), " * SET node found: mod_dbase\r\nOK (mod_dbase): Applied");
    EXPECT_EQ(run.dbase.timeout, "5000");
    EXPECT_FALSE(run.dbase.editing);
    EXPECT_EQ(run("#set:mod_dbase{#set:other=1;#set:x{#set:y=1}}"),
              " * SET node found: mod_dbase\r\nFAIL (_SET_) -> \"other\": Unknown request\r\n"
              " * SET node found: mod_dbase\r\nFAIL (_SET_) -> \"x\": Syntax error\r\nOK (mod_dbase): Applied");
    // A block's statements do not see the caller's variables.
    EXPECT_EQ(run("#var:t=7;#set:mod_dbase{#set:timeout=@t}#echo:mod_dbase.common"),
              " * SET node found: mod_dbase\r\nOK (mod_dbase): Applied\r\necho mod_dbase common -");
    EXPECT_EQ(run.dbase.timeout, "@t");
    EXPECT_EQ(run("#set:mod_window{#set:x=1}"), "FAIL (_SET_) -> \"mod_window\": Unknown request");
    EXPECT_EQ(run("#set"), "FAIL (_SET_): Syntax error");
    EXPECT_EQ(run("#set:syslog=text"), "FAIL (_SET_) -> \"syslog\": Unknown request");
    EXPECT_EQ(run("#set:syslog.info"), "FAIL (_SET_) -> \"syslog\": Syntax error");
    EXPECT_EQ(run("#call:mod_dbase.save"), "call mod_dbase save");

    // Logging off drops the lines but still counts the failures.
    const ScriptRun quiet = RunScript("#set:sys.log.en=0;#echo=hidden;#call:nothing", run.env);
    EXPECT_EQ(std::tie(quiet.text, quiet.failures), std::tuple("", 1u));

    // The protocol window: the report so far, or the empty-buffer text.
    run("#call:system.window.show");
    run("#echo=one;#set:sys.wnd.color=0;#call:sys.wnd.update");
    ASSERT_EQ(run.shown.size(), 2u);
    EXPECT_EQ(std::tie(run.shown[0].text, run.shown[0].title, run.shown[0].highlight),
              std::tuple("WND: Empty buffer (no log data)", "Quillmark: Script protocol", true));
    EXPECT_EQ(std::tie(run.shown[1].text, run.shown[1].highlight), std::tuple("one", false));
}

TEST(ScriptInterpreter, TheValueOfASyslogEventIsNeverAFormat) {
    ScriptFixture run;
    run.core.events = std::make_unique<core::EventCore>(run.core.counters);
    EXPECT_EQ(run("#set:syslog.debug=%s%n%x 100%;#set:log.warn=careful"), "");
    ASSERT_TRUE(run.core.events->Settle(10000));
    std::vector<core::EventPtr> events;
    ASSERT_EQ(run.core.events->Drain(events, platform::Blocking::Yes), core::kOk);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(std::tuple(events[0]->Message(), events[0]->severity, events[1]->severity), std::tuple("%s%n%x 100%", 7u, 4u));
    run.core.events->Shutdown();
}

TEST(ScriptInterpreter, DepthIsBoundedSleepsEndOnCancelAndNumbersSaturate) {
    ScriptFixture run;
    // A frame's own function is not visible in its body; a global one is,
    // and calling itself ends at the limit with one FAIL line.
    ScriptRun r = RunScript("#func:f{#call:f}#call:f", run.env);
    EXPECT_EQ(r.text, "FAIL (_CALL_) -> \"f\": Unknown request");
    r = RunScript("#glob:f{#call:f}#call:f", run.env);
    EXPECT_EQ(std::tie(r.failures, r.text), std::tuple(1u, "FAIL (_CALL_) -> \"f\": Operation error"));
    // Ten thousand nested blocks and loops: refused below the limit, no crash.
    std::string nested;
    for (int i = 0; i < 10000; ++i) nested += "#for:i=1{";
    nested += std::string(10000, '}');
    r = RunScript(nested, run.env);
    EXPECT_EQ(r.failures, 1u);

    platform::ManualResetEvent cancel;
    run.env.cancel = &cancel;
    std::thread canceller([&cancel] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        cancel.Set();
    });
    r = RunScript("#call:sys.sleep=-9223372036854775808;#echo=after", run.env);
    canceller.join();
    EXPECT_EQ(std::tie(r.cancelled, r.text), std::tuple(true, ""));

    EXPECT_EQ(std::tuple(ReadDecimal(" -12abc"), ReadDecimal("x1"), ReadDecimal("99999999999999999999")),
              std::tuple(-12, 0, INT64_MAX));
    EXPECT_EQ(std::tuple(ReadDecimal("-9223372036854775808"), ReadDecimal("-99999999999999999999")),
              std::tuple(INT64_MIN, INT64_MIN));
}

}  // namespace
}  // namespace qm::script
