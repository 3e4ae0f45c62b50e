#pragma once
// Scripts handed to the running program over its home's local socket (by
// `quillmark -script`), run one at a time; the report goes back on the same
// connection. Only the user the program runs as is answered.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "platform/sync.h"
#include "platform/thread.h"
#include "platform/unique_fd.h"
#include "script/script_interpreter.h"

namespace qm::script {

// The socket of a home (next to its settings).
std::filesystem::path ScriptSocketPath(const std::filesystem::path& settingsFolder);

// The wire form: the client sends the script and ends its side; the server
// answers "0" (no statement failed) or "1", then the report text.
constexpr size_t kMaxScriptBytes = 16 * 1024 * 1024;

class ScriptServer {
public:
    // `run` runs one script; `cancel` is set when the server stops.
    using Runner = std::function<ScriptRun(std::string_view text, platform::Event* cancel)>;
    ScriptServer(std::filesystem::path path, Runner run, std::atomic<uint32_t>* threadCounter);
    ~ScriptServer() { Stop(); }
    ScriptServer(const ScriptServer&) = delete;
    ScriptServer& operator=(const ScriptServer&) = delete;

    // False (errno set) when the socket could not be made.
    bool Start();
    // Cancels a running script and waits for it; the socket file goes.
    void Stop();

private:
    void Serve();
    void Answer(platform::UniqueFd client);

    const std::filesystem::path path_;
    const Runner run_;
    std::atomic<uint32_t>* const threadCounter_;
    platform::UniqueFd listener_;
    platform::UniqueFd wake_;  // an eventfd that ends the wait for clients
    platform::ManualResetEvent stop_;
    platform::Thread thread_;
};

}  // namespace qm::script
