#pragma once
// What the collector module asks of each running listener, whatever it
// receives on: datagrams (Listener) or TCP and TLS streams (StreamListener).
// The module makes, stops and ends items under its lock.
#include <cstdint>
#include <functional>

#include "platform/thread.h"

namespace qm::core {
struct CoreContext;
}

namespace qm::transport {

// Starts an item's thread; a system that refuses one is reported as a
// System event, and false tells the item to close what it opened.
bool StartItemThread(core::CoreContext& core, platform::Thread& thread, std::function<void()> run);

class CollectorItem {
public:
    virtual ~CollectorItem() = default;
    // Whether the item runs: a failed start has been reported already.
    virtual bool Started() const = 0;
    // Ends the item's thread; all it holds is handed on or closed first.
    virtual void Stop() = 0;
    // The port it bound (0 when it did not start).
    virtual uint16_t BoundPort() const = 0;
};

}  // namespace qm::transport
