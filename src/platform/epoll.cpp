#include "platform/epoll.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

namespace qm::platform {

int Epoll::Create() {
    const int fd = ::epoll_create1(EPOLL_CLOEXEC);
    if (fd < 0) return errno;
    fd_.Reset(fd);
    return 0;
}

int Epoll::Add(int fd, uint32_t events, uint64_t tag) {
    epoll_event e{};
    e.events = events;
    e.data.u64 = tag;
    return ::epoll_ctl(fd_.Get(), EPOLL_CTL_ADD, fd, &e) == 0 ? 0 : errno;
}

int Epoll::Modify(int fd, uint32_t events, uint64_t tag) {
    epoll_event e{};
    e.events = events;
    e.data.u64 = tag;
    return ::epoll_ctl(fd_.Get(), EPOLL_CTL_MOD, fd, &e) == 0 ? 0 : errno;
}

int Epoll::Remove(int fd) { return ::epoll_ctl(fd_.Get(), EPOLL_CTL_DEL, fd, nullptr) == 0 ? 0 : errno; }

int Epoll::Wait(std::span<epoll_event> into, int timeoutMs, int& count) {
    count = 0;
    const int n = ::epoll_wait(fd_.Get(), into.data(), static_cast<int>(into.size()), timeoutMs);
    if (n < 0) return errno == EINTR ? 0 : errno;
    count = n;
    return 0;
}

int WakeFd::Create() {
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) return errno;
    fd_.Reset(fd);
    return 0;
}

void WakeFd::Signal() {
    const uint64_t one = 1;
    // A full counter already means "wake up"; nothing is lost by a failure.
    [[maybe_unused]] const ssize_t n = ::write(fd_.Get(), &one, sizeof one);
}

void WakeFd::Drain() {
    uint64_t value = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd_.Get(), &value, sizeof value);
}

}  // namespace qm::platform
