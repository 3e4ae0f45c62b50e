#pragma once
// Termination signals become a call on a thread of our own instead of an
// asynchronous handler, so the callback may do anything (signal an event,
// log). Construct before any other thread starts: the signals are blocked in
// every thread created afterwards.
#include <pthread.h>

#include <functional>

namespace qm::platform {

class TerminationSignals {
public:
    // `onSignal` runs on the watcher thread for each SIGINT, SIGTERM or SIGHUP.
    explicit TerminationSignals(std::function<void(int)> onSignal);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    std::function<void(int)> onSignal_;
    pthread_t thread_{};
    bool started_ = false;
};

}  // namespace qm::platform
