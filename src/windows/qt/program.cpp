#include "windows/qt/program.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>

#include <QApplication>
#include <QScreen>

#include "platform/thread.h"
#include "script/script_host.h"
#include "script/script_server.h"
#include "windows/info_box/protocol_content.h"
#include "windows/qt/application.h"
#include "windows/core_window/qt/core_environment.h"
#include "windows/qt/gui_thread.h"
#include "windows/qt/icon_set.h"
#include "windows/qt/loading_window.h"
#include "windows/qt/program_windows.h"
#include "windows/qt/screen_colormap.h"

namespace qm::windows::qt {

namespace {

constexpr const char* kProductName = "Quillmark";

// The thread that starts, runs and shuts down the core, while it does.
std::atomic<std::thread*> running{nullptr};

// The toolkit ends the process (exit status 1) when its display goes away:
// on X when the server dies or the session ends. The GUI thread, which is
// where that happens, stays here instead: the core goes on without windows
// until the exit event, shuts down as always (the queue written out, every
// module's settings saved) and the process ends then. Nothing of the
// process has been torn down yet when this runs from the message handler.
void GoOnWithoutDisplay() {
    // Only the GUI thread can stay: another thread's exit ends as it always did.
    if (!OnGuiThread()) return;
    std::thread* runner = running.exchange(nullptr);
    if (runner == nullptr) return;
    std::fputs("The display is gone: going on without windows until the program is ended\n", stderr);
    MarkGuiGone();
    runner->join();
    std::fflush(nullptr);
    std::_Exit(0);
}

bool DisplayLost(const QString& message) {
    return message.startsWith("The X11 connection broke") || message.startsWith("The Wayland connection broke");
}

// Off-screen drawing warns about every window operation it cannot do
// (raising, size hints), and Qt about a missing runtime folder; none of it
// concerns a user, while other messages still go to stderr.
void QuietMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg || type == QtInfoMsg || type == QtDebugMsg) {
        if (message.startsWith("This plugin does not support") || message.startsWith("QStandardPaths: XDG_RUNTIME_DIR"))
            return;
        // A display that cannot be reached at start: the fallback to
        // off-screen drawing says so in one line of its own.
        if (message.startsWith("could not connect to display") || message.startsWith("Could not load the Qt platform plugin"))
            return;
    }
    std::fprintf(stderr, "%s\n", qFormatLogMessage(type, context, message).toLocal8Bit().constData());
    // Said just before the toolkit ends the process.
    if (DisplayLost(message)) GoOnWithoutDisplay();
}

// For an end the message did not announce (warnings switched off). Statics
// made after this handler was registered are gone by then; it is registered
// once the core has started, so those the core uses are not among them.
void AtProcessExit() { GoOnWithoutDisplay(); }

}  // namespace

int RunWithWindows(core::CoreContext& core, int& argc, char** argv) {
    qInstallMessageHandler(QuietMessages);
    ChoosePlatform();
    QApplication app(argc, argv);
    SayWhereWindowsAre();
    UseScreenColormap(app);
    // Tool windows hide when closed; only the exit event ends the run.
    app.setQuitOnLastWindowClosed(false);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        core.dotsPerInch = static_cast<int32_t>(screen->logicalDotsPerInchY() + 0.5);

    if (ProgramIcons().Load(core.paths.iconFolder) == 0)
        std::fprintf(stderr, "No icons in %s: the built-in set is used\n", core.paths.iconFolder.string().c_str());

    ProgramWindows windows(core);
    LoadingWindow loading;
    auto* loadingWindow = &loading;
    core.loadingStatus = [loadingWindow](const std::string& status) {
        std::fprintf(stderr, "%s\n", status.c_str());
        LoadingWindow::Post(loadingWindow, kProductName, status);
    };

    std::atomic<bool> done{false};
    std::thread runner([&] {
        core::CoreStart(core);
        static const bool atExitSet = std::atexit(AtProcessExit) == 0;
        static_cast<void>(atExitSet);
        // Every script of this run, from the editor or the socket, goes
        // through the one host; it is shut down (a running script cancelled
        // and awaited) before the modules unload.
        auto scripts = std::make_unique<script::ScriptHost>(
            core, [&core](const script::ProtocolWindow& window) { ShowProtocolWindow(core, window); });
        // The core window is start-up's last step: its tray icon shows busy
        // until its first tick after start-up has ended.
        std::unique_ptr<CoreEnvironment> environment;
        {
            platform::CountedScope starting(&core.counters.startupBusy);
            core.ShowStatus("Loading ... Core environment");
            environment = std::make_unique<CoreEnvironment>(core, scripts.get());
        }
        PostToGui([loadingWindow] { loadingWindow->hide(); });
        {
            // Scripts from `quillmark -script` on this home. One that comes
            // while another runs is refused with a FAIL line.
            script::ScriptServer server(
                script::ScriptSocketPath(core.paths.settingsFolder),
                [&](std::string_view text, platform::Event*) {
                    if (std::optional<script::ScriptRun> run = scripts->RunHere(text)) return *std::move(run);
                    return script::ScriptRun{"FAIL (_SCRIPT_): another script is running; try again when it has ended", 1,
                                             false, true};
                },
                &core.counters.threads);
            if (!server.Start())
                std::fprintf(stderr, "No script socket in %s (%s): quillmark -script runs offline only\n",
                             core.paths.settingsFolder.string().c_str(), std::strerror(errno));
            core.exitEvent.Wait();
            // The host's cancel ends the socket's script too; the server
            // then stops with nothing left to wait for.
            scripts->Shutdown();
        }
        // Shutdown's first step, before the modules its menu works on go.
        environment.reset();
        scripts.reset();
        core::CoreShutdown(core);
        PostToGui([loadingWindow] { loadingWindow->hide(); });
        done = true;
        PostToGui([] { QCoreApplication::quit(); });
    });
    running = &runner;

    app.exec();
    // The event loop can end early (a lost display); shutdown still needs
    // the GUI thread for the windows it closes.
    core.exitEvent.Set();
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // A lost display may have taken the run over meanwhile; it never returns.
    std::thread* mine = &runner;
    running.compare_exchange_strong(mine, nullptr);
    runner.join();
    core.loadingStatus = nullptr;
    return 0;
}

}  // namespace qm::windows::qt
