#pragma once
// The one place scripts run while the program does. It owns the modules'
// script nodes for the program's whole run (a module opened with _MODIFY_
// stays so between runs, whoever ran them) and runs one script at a time:
// the Script Editor's on a worker thread of its own, the script socket's on
// the socket's thread. A second script while one runs is refused, not
// queued: the editor shows "busy" at once instead of a button that hangs.
//
// Lifetime: made once the modules are loaded, shut down (a running script
// cancelled and awaited) before they unload, so a script never outlives the
// modules it works on. Thread-safe; no call waits for a script except
// RunHere (the caller's own run) and Shutdown.
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/sync.h"
#include "platform/thread.h"
#include "script/module_nodes.h"
#include "script/script_interpreter.h"

namespace qm::core {
struct CoreContext;
}

namespace qm::script {

class ScriptHost {
public:
    enum class Started { Yes, Busy, Closed };
    using Done = std::function<void(const ScriptRun&)>;
    using ShowProtocol = std::function<void(const ProtocolWindow&)>;

    // The core's modules must be loaded and outlive the host. `show` puts up
    // the protocol window (null when there are no windows); it is called on
    // the script's thread, never on the caller's.
    ScriptHost(core::CoreContext& core, ShowProtocol show);
    ~ScriptHost() { Shutdown(); }
    ScriptHost(const ScriptHost&) = delete;
    ScriptHost& operator=(const ScriptHost&) = delete;

    // Runs the script on the host's worker. When it has ended (also when it
    // was cancelled) its report goes to the protocol window, then `done` is
    // called on the worker, the host already free for the next script.
    Started Start(std::string text, Done done);
    // Runs the script on the calling thread and returns its report, which
    // is not shown; nothing when another script runs or the host is shut down.
    std::optional<ScriptRun> RunHere(std::string_view text);
    // Ends the running script before its next statement (a sleep at once).
    void Cancel();
    // The same, only when the running script is one that Start began: the
    // editor's Cancel, pressed as its script ends, leaves a socket's alone.
    void CancelStarted();
    bool Running() const;
    // Cancels a running script, waits until it has ended and refuses every
    // script from now on. Called again, it returns at once. Not from the GUI
    // thread: the script's last protocol window may be waiting for it.
    void Shutdown();

    const ModuleNodes& Nodes() const { return nodes_; }

private:
    // Under mutex_: takes the one slot; the caller runs the script.
    Started Claim();
    void Release();
    ScriptRun Execute(std::string_view text);

    core::CoreContext& core_;
    const ModuleNodes nodes_;
    const ShowProtocol show_;
    platform::ManualResetEvent cancel_;
    mutable std::mutex mutex_;
    std::condition_variable idle_;
    bool running_ = false;
    bool started_ = false;  // the running script is the worker's
    bool closed_ = false;
    platform::Thread worker_;  // the last editor script's, joined by the next or by Shutdown
};

// The Script Editor's starting text: "Scripts/default.qmk" in the resource
// folder, read whole and decoded like every text the program reads. Empty
// when it is missing; when it cannot be read, empty too, and stderr says why.
std::string ReadDefaultScript(const std::filesystem::path& resourceFolder);

}  // namespace qm::script
