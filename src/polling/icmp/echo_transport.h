#pragma once
// The poller's view of its socket, so that a host that never answers can be
// played by a stand-in where no network namespace can be made for it. The
// service owns its transport; only the service thread uses it.
#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "platform/icmp_socket.h"
#include "polling/icmp/echo_packet.h"

namespace qm::polling {

class EchoTransport {
public:
    virtual ~EchoTransport() = default;
    virtual ReplyForm Form() const = 0;
    // 0 or errno.
    virtual int SetTimeouts(uint32_t sendMs, uint32_t recvMs) = 0;
    virtual int Send(std::span<const uint8_t> message, const sockaddr_in& to) = 0;
    // Size of one datagram, 0 when none came within `waitMs`, or -errno;
    // `ttl` -1 where the datagram carries it itself.
    virtual int Receive(std::span<uint8_t> buffer, uint32_t waitMs, sockaddr_in& from, int& ttl) = 0;
};

// The system's ICMP socket behind the interface.
class SocketTransport : public EchoTransport {
public:
    explicit SocketTransport(platform::IcmpSocket socket) : socket_(std::move(socket)) {}
    ReplyForm Form() const override {
        return socket_.kind() == platform::IcmpSocket::Kind::Ping ? ReplyForm::Bare : ReplyForm::WithIpHeader;
    }
    int SetTimeouts(uint32_t sendMs, uint32_t recvMs) override { return socket_.SetTimeouts(sendMs, recvMs); }
    int Send(std::span<const uint8_t> message, const sockaddr_in& to) override { return socket_.SendTo(message, to); }
    int Receive(std::span<uint8_t> buffer, uint32_t waitMs, sockaddr_in& from, int& ttl) override {
        return socket_.Receive(buffer, waitMs, from, ttl);
    }

private:
    platform::IcmpSocket socket_;
};

// A transport, or the error that kept every kind from opening.
struct OpenedTransport {
    std::unique_ptr<EchoTransport> transport;
    int error = 0;
};
using TransportOpener = std::function<OpenedTransport()>;

}  // namespace qm::polling
