// The script interpreter on any text, with one module node that keeps an
// edit open between "_MODIFY_" and "_APPLY_": no crash, no stack exhaustion
// at any nesting, the report joined without a trailing line end, and every
// edit the interpreter opened closed again. A run that takes too long (a
// loop of a billion passes is valid script) is cancelled, as a user would.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "fuzz_support.h"
#include "platform/sync.h"
#include "script/script_interpreter.h"

using namespace qm::script;

namespace {

class EditingNode : public ScriptNode {
public:
    void Echo(ScriptOutput& out, const std::vector<std::string>& path, const std::optional<std::string>&) override {
        out.Report(path.empty() ? "echo" : path[0]);
    }
    int Set(ScriptOutput&, std::string_view word, const std::vector<std::string>&, const std::optional<std::string>&,
            const std::optional<std::string>& value) override {
        if (word == "_MODIFY_") {
            if (open) return kReplySyntaxError;
            open = true;
            return kReplyOk;
        }
        if (word == "_APPLY_") {
            if (!open) return kReplySyntaxError;
            open = false;
            return kReplyOk;
        }
        return open && value ? kReplyOk : kReplySyntaxError;
    }
    void Call(ScriptOutput& out, const std::vector<std::string>&) override { out.Report("call"); }
    bool open = false;
};

qm::platform::ManualResetEvent cancel;
std::atomic<int64_t> startedMs{0};

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void Watchdog() {
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const int64_t started = startedMs.load();
        if (started != 0 && NowMs() - started > 200) cancel.Set();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static EditingNode node;
    static const bool watching = [] {
        std::thread(Watchdog).detach();
        return true;
    }();
    (void)watching;
    ScriptEnvironment env;
    env.findNode = [](std::string_view name) -> ScriptNode* { return name == "mod_x" ? &node : nullptr; };
    env.cancel = &cancel;
    cancel.Reset();
    startedMs = NowMs();
    const ScriptRun run = RunScript(std::string_view(reinterpret_cast<const char*>(data), size), env);
    startedMs = 0;
    QM_FUZZ_CHECK(run.text.size() < 2 || run.text.compare(run.text.size() - 2, 2, "\r\n") != 0);
    QM_FUZZ_CHECK(!node.open);
    return 0;
}
