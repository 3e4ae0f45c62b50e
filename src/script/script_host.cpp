#include "script/script_host.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/core_context.h"
#include "platform/codepage.h"
#include "platform/file_io.h"

namespace qm::script {

ScriptHost::ScriptHost(core::CoreContext& core, ShowProtocol show)
    : core_(core), nodes_(*core.registry), show_(std::move(show)) {}

ScriptHost::Started ScriptHost::Claim() {
    if (closed_) return Started::Closed;
    if (running_) return Started::Busy;
    running_ = true;
    started_ = false;
    cancel_.Reset();
    return Started::Yes;
}

void ScriptHost::Release() {
    {
        const std::lock_guard lock(mutex_);
        running_ = false;
    }
    idle_.notify_all();
}

ScriptRun ScriptHost::Execute(std::string_view text) {
    ScriptEnvironment env = EnvironmentFor(core_, nodes_);
    env.cancel = &cancel_;
    env.showProtocol = show_;
    return RunScript(text, env);
}

ScriptHost::Started ScriptHost::Start(std::string text, Done done) {
    // Declared before the lock: the previous worker has released the slot
    // but may still be in its `done`, and is joined after the lock is let go.
    platform::Thread previous;
    const std::lock_guard lock(mutex_);
    const Started started = Claim();
    if (started != Started::Yes) return started;
    started_ = true;
    previous = std::move(worker_);
    worker_ = platform::Thread(&core_.counters.threads, [this, text = std::move(text), done = std::move(done)] {
        const ScriptRun run = Execute(text);
        if (show_) show_(ProtocolWindowOf(run.text, run.colour));
        Release();
        if (done) done(run);
    });
    return Started::Yes;
}

std::optional<ScriptRun> ScriptHost::RunHere(std::string_view text) {
    {
        const std::lock_guard lock(mutex_);
        if (Claim() != Started::Yes) return std::nullopt;
    }
    ScriptRun run = Execute(text);
    Release();
    return run;
}

void ScriptHost::Cancel() {
    const std::lock_guard lock(mutex_);
    if (running_) cancel_.Set();
}

void ScriptHost::CancelStarted() {
    const std::lock_guard lock(mutex_);
    if (running_ && started_) cancel_.Set();
}

bool ScriptHost::Running() const {
    const std::lock_guard lock(mutex_);
    return running_;
}

void ScriptHost::Shutdown() {
    platform::Thread last;
    std::unique_lock lock(mutex_);
    closed_ = true;
    if (running_) cancel_.Set();
    idle_.wait(lock, [this] { return !running_; });
    last = std::move(worker_);
    lock.unlock();
}

std::string ReadDefaultScript(const std::filesystem::path& resourceFolder) {
    const std::filesystem::path file = resourceFolder / "Scripts" / "default.qmk";
    std::string bytes;
    if (const int e = platform::ReadWholeFile(file, bytes); e != 0) {
        if (e != ENOENT) std::fprintf(stderr, "Script editor: cannot read %s: %s\n", file.string().c_str(), std::strerror(e));
        return {};
    }
    return platform::AnsiToUtf8(bytes);
}

}  // namespace qm::script
