// Quillmark: syslog server and network monitor.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/command_line.h"
#include "core/core_context.h"
#include "core/home_lock.h"
#include "core/paths.h"
#include "modules.h"
#include "platform/logon.h"
#include "platform/signals.h"
#include "platform/snmp_session.h"
#include "script/script_command.h"
#include "windows/qt/program.h"
#include "windows/qt/program_windows.h"

namespace {

// The program's texts use CR LF line ends; a terminal wants LF.
std::string ForTerminal(std::string text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace qm;
    // The SNMP library keeps process-wide settings: set once, before any thread.
    platform::InitSnmpLibrary();

    // Not through the start options: those cut every word to fifteen
    // characters, and a script's path is usually longer.
    if (argc >= 2 && std::string(argv[1]) == "-script") {
        std::string error;
        std::optional<std::string> text;
        if (argc < 3) error = "-script needs a file name, or - for standard input";
        else text = script::ReadScriptFile(argv[2], error);
        if (!text) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 2;
        }
        const script::ScriptCommandResult result = script::RunScriptCommand(core::Paths::ForThisProcess(), *text, ProgramModules());
        if (!result.error.empty()) {
            std::fprintf(stderr, "%s\n", result.error.c_str());
            return 2;
        }
        if (!result.report.empty()) std::printf("%s\n", ForTerminal(result.report).c_str());
        return result.status;
    }

    const std::string line = core::JoinArguments(argc, argv);
    core::StartOptions options = core::ParseCommandLine(line);

    if (options.showHelp) {
        std::fputs(ForTerminal(core::kHelpText).c_str(), stdout);
        std::fputs("\n\n", stdout);
        std::fputs(ForTerminal(script::kScriptHelpText).c_str(), stdout);
        std::fputs("\n", stdout);
        return 0;
    }
    if (options.logon) {
        platform::ScrubArguments(argc, argv);
        const std::string exe = core::RunningExecutable().string();
        const int error = platform::RelaunchAsUser(options.logon->domain, options.logon->user, options.logon->password, exe);
        options.logon->password.assign(options.logon->password.size(), '\0');
        char text[1024];
        std::snprintf(text, sizeof text, "%s\r\n\r\nFailed to start with logon! Error: %u\r\nCheck user name or password.",
                      exe.c_str(), static_cast<unsigned>(error));
        std::fprintf(stderr, "Fatal ERROR: %s\n", ForTerminal(text).c_str());
        return 0;
    }

    core::CoreContext core;
    core.options = options;
    core.paths = core::Paths::ForThisProcess();
    // Before anything of the home is read or listens: held for the whole run.
    const platform::FileLock home = core::TakeHomeLock(core.paths);
    if (!home.Held()) {
        if (home.Error() == EWOULDBLOCK) {
            std::fprintf(stderr,
                         "quillmark: the home %s is in use by another Quillmark (a running program, or a script run "
                         "with -script); not started. Hand the running program a script with -script, or end it first.\n",
                         core.paths.programFolder.string().c_str());
            return core::kExitHomeInUse;
        }
        std::fprintf(stderr, "quillmark: cannot lock the home (%s: %s); not started\n", core.paths.lockFile.string().c_str(),
                     std::strerror(home.Error()));
        return 1;
    }
    core.catalog = windows::qt::ProgramCatalogWithWindows();

    // Before any thread exists, so every later thread has the signals blocked.
    platform::TerminationSignals termination([&core](int) { core.exitEvent.Set(); });

    std::srand(static_cast<unsigned>(platform::MonotonicMs()));
    return windows::qt::RunWithWindows(core, argc, argv);
}
