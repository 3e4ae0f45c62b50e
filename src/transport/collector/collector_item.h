#pragma once
// What the collector module asks of each running listener, whatever it
// receives on: datagrams (Listener) or TCP and TLS streams (StreamListener).
// The module makes, stops and ends items under its lock.
#include <cstdint>

namespace qm::transport {

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
