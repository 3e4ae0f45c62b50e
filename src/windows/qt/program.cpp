#include "windows/qt/program.h"

#include <atomic>
#include <cstdio>
#include <thread>

#include <QApplication>
#include <QScreen>

#include "windows/qt/application.h"
#include "windows/qt/gui_thread.h"
#include "windows/qt/icon_set.h"
#include "windows/qt/loading_window.h"
#include "windows/qt/program_windows.h"

namespace qm::windows::qt {

namespace {

constexpr const char* kProductName = "Quillmark";

// Off-screen drawing warns about every window operation it cannot do
// (raising, size hints), and Qt about a missing runtime folder; none of it
// concerns a user, while other messages still go to stderr.
void QuietMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg || type == QtInfoMsg || type == QtDebugMsg) {
        if (message.startsWith("This plugin does not support") || message.startsWith("QStandardPaths: XDG_RUNTIME_DIR"))
            return;
    }
    std::fprintf(stderr, "%s\n", qFormatLogMessage(type, context, message).toLocal8Bit().constData());
}

}  // namespace

int RunWithWindows(core::CoreContext& core, int& argc, char** argv) {
    qInstallMessageHandler(QuietMessages);
    ChoosePlatform();
    QApplication app(argc, argv);
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
        PostToGui([loadingWindow] { loadingWindow->hide(); });
        core.exitEvent.Wait();
        core::CoreShutdown(core);
        PostToGui([loadingWindow] { loadingWindow->hide(); });
        done = true;
        PostToGui([] { QCoreApplication::quit(); });
    });

    app.exec();
    // The event loop can end early (a lost display); shutdown still needs
    // the GUI thread for the windows it closes.
    core.exitEvent.Set();
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    runner.join();
    core.loadingStatus = nullptr;
    return 0;
}

}  // namespace qm::windows::qt
