#include "windows/qt/background_call.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace qm::windows::qt {

BackgroundCall::~BackgroundCall() {
    if (!thread_.joinable()) return;
    // The work may be waiting for a call on the GUI thread (an import hands
    // the windows' settings over there), and this is the GUI thread: keep
    // its calls running until the work has ended, but no longer deliver the
    // answer to an owner that is going away.
    alive_->store(false);
    while (!finished_->load()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    thread_.join();
}

bool BackgroundCall::Start(std::function<void()> body) {
    if (running_) return false;
    if (thread_.joinable()) thread_.join();  // ended: its answer has been posted
    running_ = true;
    finished_->store(false);
    thread_ = std::thread([body = std::move(body), finished = finished_] {
        body();
        finished->store(true);
    });
    return true;
}

void BackgroundCall::Post(std::function<void()> call) {
    // Queued to the owner: dropped by Qt when the owner is destroyed first.
    QMetaObject::invokeMethod(
        &owner_,
        [this, alive = alive_, call = std::move(call)] {
            if (!alive->load()) return;
            running_ = false;
            call();
        },
        Qt::QueuedConnection);
}

}  // namespace qm::windows::qt
