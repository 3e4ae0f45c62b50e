#pragma once
// The one owner of a file descriptor: closed when the owner goes, handed on
// by move, given up by Release. Any thread may own one; it is not shared.
#include <utility>

namespace qm::platform {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    // The descriptor, no longer owned.
    int Release() { return std::exchange(fd_, -1); }
    // Closes the owned descriptor (errors ignored) and owns `fd` instead.
    void Reset(int fd = -1);
    // close() reports delayed write errors, so a writer that cares closes
    // through this and checks it; errno is set on false.
    bool Close();

private:
    int fd_ = -1;
};

}  // namespace qm::platform
