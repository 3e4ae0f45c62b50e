#include "windows/qt/gui_thread.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace qm::windows::qt {

namespace {

// One lock for every waiting caller: a call is either run (on the GUI
// thread, which sets `ran` under the lock) or given up when the GUI thread
// is marked gone (also on the GUI thread, also under the lock), never both.
std::mutex waitLock;
std::condition_variable waitDone;
std::atomic<bool> gone{false};

struct PendingCall {
    std::function<void()> call;
    bool ran = false;       // the call ran to its end
    bool finished = false;  // nothing will run it any more
};

}  // namespace

bool OnGuiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

void PostToGui(std::function<void()> call) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || gone) return;
    if (OnGuiThread()) {
        call();
        return;
    }
    QMetaObject::invokeMethod(app, std::move(call), Qt::QueuedConnection);
}

bool RunOnGui(const std::function<void()>& call) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || gone) return false;
    if (OnGuiThread()) {
        call();
        return true;
    }
    // Not a blocking queued call: its waiter could never be released when
    // the GUI thread stops running calls. The pending call outlives a caller
    // that gave up, as the queued closure still holds it; the closure's
    // token ends with its last copy, run or dropped unrun (an application
    // object going away with calls queued), and releases the caller then.
    auto pending = std::make_shared<PendingCall>();
    pending->call = call;
    std::shared_ptr<void> token(nullptr, [pending](void*) {
        std::lock_guard lock(waitLock);
        pending->finished = true;
        waitDone.notify_all();
    });
    QMetaObject::invokeMethod(
        app,
        [pending, token = std::move(token)] {
            if (gone) return;
            pending->call();
            std::lock_guard lock(waitLock);
            pending->ran = true;
            waitDone.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(waitLock);
    waitDone.wait(lock, [&] { return pending->ran || pending->finished || gone.load(); });
    return pending->ran;
}

void MarkGuiGone() {
    std::lock_guard lock(waitLock);
    gone = true;
    waitDone.notify_all();
}

bool GuiGone() { return gone; }

}  // namespace qm::windows::qt
