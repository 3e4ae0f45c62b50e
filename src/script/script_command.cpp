#include "script/script_command.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <iterator>
#include <optional>
#include <vector>

#include "core/core_context.h"
#include "core/home_lock.h"
#include "core/module_registry.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/file_io.h"
#include "platform/guarded_lock.h"
#include "platform/local_socket.h"
#include "script/module_nodes.h"
#include "script/script_server.h"

namespace qm::script {

namespace {

// How long a program that holds the home may take to open its script socket
// (its start-up, on a loaded machine), and how often it is looked for.
constexpr uint64_t kWaitForProgramMs = 30000;
constexpr unsigned kRetryMs = 50;

// Through the running program: nothing when nobody listens on the home.
std::optional<ScriptCommandResult> HandOver(const std::filesystem::path& socket, std::string_view script) {
    platform::UniqueFd fd = platform::ConnectLocal(socket);
    ScriptCommandResult result;
    if (!fd.Valid()) {
        if (errno == ENOENT || errno == ECONNREFUSED) return std::nullopt;
        // Someone runs on this home but cannot be reached (another user's
        // program): changing its files behind its back would be undone.
        result.error = "cannot reach the program running on this home (" + socket.string() + "): " + std::strerror(errno);
        return result;
    }
    for (std::string_view rest = script; !rest.empty();) {
        const ssize_t n = ::send(fd.Get(), rest.data(), rest.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            result.error = std::string("the program running on this home refused the script (") + std::strerror(errno) +
                           "; is it running as another user?)";
            return result;
        }
        rest.remove_prefix(size_t(n));
    }
    ::shutdown(fd.Get(), SHUT_WR);
    std::string answer;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(fd.Get(), buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        answer.append(buffer, size_t(n));
    }
    if (answer.empty() || (answer[0] != '0' && answer[0] != '1')) {
        result.error = "the program running on this home refused the script (is it running as another user?)";
        return result;
    }
    result.status = answer[0] - '0';
    result.report = answer.substr(1);
    return result;
}

ScriptCommandResult RunOffline(const core::Paths& paths, std::string_view script,
                               std::span<const core::ModuleDescriptor> modules) {
    // The modules load their settings as in a run, but no network service
    // starts; the database does, so what the script reports is stored.
    std::vector<core::ModuleDescriptor> catalog;
    for (core::ModuleDescriptor d : modules) {
        if (d.id == core::kModuleWindow) continue;
        d.startAfterLoading = d.id == core::kModuleDbase;
        catalog.push_back(d);
    }
    core::CoreContext core;
    core.paths = paths;
    core.catalog = catalog;
    core::CoreStart(core);
    ScriptRun run;
    {
        const ModuleNodes nodes(*core.registry);
        run = RunScript(script, EnvironmentFor(core, nodes));
    }
    core::CoreShutdown(core);
    ScriptCommandResult result;
    result.status = run.failures == 0 ? 0 : 1;
    result.report = std::move(run.text);
    return result;
}

}  // namespace

ScriptCommandResult RunScriptCommand(const core::Paths& paths, std::string_view script,
                                     std::span<const core::ModuleDescriptor> modules) {
    const std::filesystem::path socket = ScriptSocketPath(paths.settingsFolder);
    const uint64_t deadline = platform::MonotonicMs() + kWaitForProgramMs;
    for (;;) {
        // Holding the home's lock, nobody else reads or writes its settings
        // until the offline run has saved them.
        const platform::FileLock home = core::TakeHomeLock(paths);
        if (home.Held()) return RunOffline(paths, script, modules);
        if (home.Error() != EWOULDBLOCK) {
            // Most likely another user's home: its program, if one runs,
            // may still be reached; nobody listening is no reason to wait.
            if (std::optional<ScriptCommandResult> handed = HandOver(socket, script)) return *handed;
            ScriptCommandResult result;
            result.error = "cannot lock the home (" + paths.lockFile.string() + ": " + std::strerror(home.Error()) +
                           "); the script was not run";
            return result;
        }
        // A program holds the home. While it starts, its script socket is
        // not there yet; while it shuts down, it is gone, and once the
        // program has ended the lock is ours.
        if (std::optional<ScriptCommandResult> handed = HandOver(socket, script)) return *handed;
        if (platform::MonotonicMs() >= deadline) {
            ScriptCommandResult result;
            result.error = "a program runs on this home (" + paths.lockFile.string() +
                           " is locked) but its script socket " + socket.string() + " did not answer within " +
                           std::to_string(kWaitForProgramMs / 1000) + " s; the script was not run";
            return result;
        }
        platform::SleepMs(kRetryMs);
    }
}

std::optional<std::string> ReadScriptFile(const std::string& file, std::string& error) {
    std::string bytes;
    if (file == "-") {
        bytes.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else if (const int e = platform::ReadWholeFile(file, bytes); e != 0) {
        error = "cannot read " + file + ": " + std::strerror(e);
        return std::nullopt;
    }
    return platform::AnsiToUtf8(bytes);
}

}  // namespace qm::script
