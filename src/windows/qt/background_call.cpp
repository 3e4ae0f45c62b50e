#include "windows/qt/background_call.h"

#include <QMetaObject>

namespace qm::windows::qt {

BackgroundCall::~BackgroundCall() {
    if (thread_.joinable()) thread_.join();
}

bool BackgroundCall::Start(std::function<void()> body) {
    if (running_) return false;
    if (thread_.joinable()) thread_.join();  // ended: its answer has been posted
    running_ = true;
    thread_ = std::thread(std::move(body));
    return true;
}

void BackgroundCall::Post(std::function<void()> call) {
    // Queued to the owner: dropped by Qt when the owner is destroyed first.
    QMetaObject::invokeMethod(
        &owner_,
        [this, call = std::move(call)] {
            running_ = false;
            call();
        },
        Qt::QueuedConnection);
}

}  // namespace qm::windows::qt
