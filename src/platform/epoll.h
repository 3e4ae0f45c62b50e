#pragma once
// An epoll set and the eventfd that wakes its waiter, for the event loops
// that serve many sockets from one thread. Errors come back as errno values.
// Each object owns its descriptor; the sockets it watches stay with their
// owners, who remove them before closing them.
#include <sys/epoll.h>

#include <cstdint>
#include <span>

#include "platform/unique_fd.h"

namespace qm::platform {

class Epoll {
public:
    // 0 or errno.
    int Create();
    // `events` are EPOLL* bits; `tag` comes back with each of the socket's
    // events. 0 or errno.
    int Add(int fd, uint32_t events, uint64_t tag);
    int Modify(int fd, uint32_t events, uint64_t tag);
    int Remove(int fd);
    // Waits at most timeoutMs (-1: without limit) for events; `count` of
    // them are filled in. 0 (also when interrupted, with count 0) or errno.
    int Wait(std::span<epoll_event> into, int timeoutMs, int& count);

private:
    UniqueFd fd_;
};

// A wake-up another thread can send to a waiting loop.
class WakeFd {
public:
    int Create();
    // Safe from any thread.
    void Signal();
    // Takes back every wake-up sent so far.
    void Drain();
    int Fd() const { return fd_.Get(); }

private:
    UniqueFd fd_;
};

}  // namespace qm::platform
