#pragma once
// Waiting for a condition in a test. The limits are generous on purpose: the
// machine running the suite may be loaded, and a condition that holds returns
// at once anyway.
#include <chrono>
#include <functional>
#include <thread>

namespace qm::testing {

inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace qm::testing
