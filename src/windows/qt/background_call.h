#pragma once
// One piece of work at a time off the GUI thread, for dialog actions that
// may wait (a service that stops its threads, a settings export): the work
// runs on a thread of its own and its answer comes back as a call posted to
// the owner on the GUI thread, dropped when the owner is gone. The owner
// holds this object; destroying it waits for work still running (and runs
// the GUI thread's calls meanwhile, which that work may wait for).
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include <QObject>

namespace qm::windows::qt {

class BackgroundCall {
public:
    explicit BackgroundCall(QObject& owner) : owner_(owner) {}
    ~BackgroundCall();
    BackgroundCall(const BackgroundCall&) = delete;
    BackgroundCall& operator=(const BackgroundCall&) = delete;

    // False (nothing started) while earlier work still runs.
    template <typename T>
    bool Run(std::function<T()> work, std::function<void(T)> done) {
        return Start([this, work = std::move(work), done = std::move(done)]() mutable {
            T result = work();
            Post([done = std::move(done), result = std::move(result)] { done(result); });
        });
    }
    bool Busy() const { return running_; }

private:
    bool Start(std::function<void()> body);
    void Post(std::function<void()> call);

    QObject& owner_;
    std::thread thread_;
    bool running_ = false;  // GUI thread only
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
    std::shared_ptr<std::atomic<bool>> finished_ = std::make_shared<std::atomic<bool>>(true);
};

}  // namespace qm::windows::qt
