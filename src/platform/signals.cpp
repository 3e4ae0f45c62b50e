#include "platform/signals.h"

#include <csignal>

namespace qm::platform {

namespace {
// Wakes the watcher for its own shutdown; never delivered otherwise.
constexpr int kStopSignal = SIGUSR2;

sigset_t WatchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, kStopSignal);
    return set;
}
}  // namespace

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal)) {
    // A peer that goes away mid-send must give an error, not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t set = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    started_ = pthread_create(
                   &thread_, nullptr,
                   [](void* self) -> void* {
                       auto* me = static_cast<TerminationSignals*>(self);
                       sigset_t watched = WatchedSignals();
                       for (;;) {
                           int sig = 0;
                           if (sigwait(&watched, &sig) != 0) continue;
                           if (sig == kStopSignal) return nullptr;
                           if (me->onSignal_) me->onSignal_(sig);
                       }
                   },
                   this) == 0;
}

TerminationSignals::~TerminationSignals() {
    if (!started_) return;
    pthread_kill(thread_, kStopSignal);
    pthread_join(thread_, nullptr);
}

}  // namespace qm::platform
