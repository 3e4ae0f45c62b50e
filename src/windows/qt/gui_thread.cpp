#include "windows/qt/gui_thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace qm::windows::qt {

bool OnGuiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

void PostToGui(std::function<void()> call) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return;
    if (OnGuiThread()) {
        call();
        return;
    }
    QMetaObject::invokeMethod(app, std::move(call), Qt::QueuedConnection);
}

void RunOnGui(const std::function<void()>& call) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return;
    if (OnGuiThread()) {
        call();
        return;
    }
    QMetaObject::invokeMethod(app, call, Qt::BlockingQueuedConnection);
}

}  // namespace qm::windows::qt
