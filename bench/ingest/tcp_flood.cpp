// tcp_flood: the stream sender of the ingest benchmark (bench/ingest/tcp_run.sh).
//
//   tcp_flood --port P [--host 127.0.0.1] --count N [--rate R] [--conns C] [--framing octet|lf]
//             [--size L] [--first S] [--burst-us U] [--tls [--ca FILE] [--cert FILE --key FILE]]
//
// Sends the same numbered lines as udp_flood (seq=%010u), message k on
// connection k % C, framed as RFC 6587 says: "octet" puts the length and a
// space before each line, "lf" ends it with a line feed. With --tls every
// connection is TLS 1.2 or later (RFC 5425); the server's certificate is
// checked only when --ca names a CA. "udp_flood verify" counts what arrived.
//
// One thread drives all connections without blocking, so a receiver that
// reads one connection slowly holds back that connection's share only until
// its buffer here is full; then the sender waits (counted as waits/wait_ms),
// which is how TCP makes a slow receiver slow the sender down: the achieved
// rate, not a loss, shows it. Prints one key=value line.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "numbered_message.h"

namespace {

constexpr size_t kDefaultMessageBytes = 120;
constexpr size_t kMaxMessageBytes = 65000;
constexpr uint64_t kMaxConnections = 1000;
// A connection's unsent bytes before the sender waits for it: a few hundred
// milliseconds of its share at the rates measured, so short stalls of a
// receiver do not slow the schedule.
constexpr size_t kHighWater = 1 << 20;
// How long the peers get, after the last byte went out, to read the rest
// and close their side.
constexpr uint64_t kCloseWaitMs = 60'000;

[[noreturn]] void Usage() {
    std::fputs(
        "usage:\n"
        "  tcp_flood --port P [--host 127.0.0.1] --count N [--rate R] [--conns C] [--framing octet|lf]\n"
        "            [--size L] [--first S] [--burst-us U] [--tls [--ca FILE] [--cert FILE --key FILE]]\n"
        "      R messages/s over all connections, 0 = as fast as possible (default 0); C connections\n"
        "      (default 10); L bytes per message without its framing (default 120, 64 to 65000);\n"
        "      U microseconds of the rate sent at once (default 1000)\n",
        stderr);
    std::exit(2);
}

uint64_t Number(const char* text, const char* what) { return bench::ParseNumber("tcp_flood", text, what); }

std::string SslErrors() {
    std::string out;
    char line[256];
    while (unsigned long e = ERR_get_error()) {
        ERR_error_string_n(e, line, sizeof line);
        if (!out.empty()) out += "; ";
        out += line;
    }
    return out.empty() ? std::string(std::strerror(errno)) : out;
}

struct SslCtxFree {
    void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
};
struct SslFree {
    void operator()(SSL* s) const { SSL_free(s); }
};

class Connection {
public:
    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() {
        if (fd_ >= 0) close(fd_);
    }

    // Connects (and shakes hands) blocking, then turns the socket
    // non-blocking for the run.
    bool Open(const sockaddr_in& to, SSL_CTX* tls) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0 || connect(fd_, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
            std::fprintf(stderr, "tcp_flood: connect: %s\n", std::strerror(errno));
            return false;
        }
        if (tls) {
            ssl_.reset(SSL_new(tls));
            if (!ssl_ || SSL_set_fd(ssl_.get(), fd_) != 1 || SSL_connect(ssl_.get()) != 1) {
                std::fprintf(stderr, "tcp_flood: TLS handshake: %s\n", SslErrors().c_str());
                return false;
            }
            // A write cut short by a full socket is retried with whatever the
            // buffer holds by then, which may have moved.
            SSL_set_mode(ssl_.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        }
        return fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK) == 0;
    }

    std::string& Out() { return out_; }
    size_t Pending() const { return out_.size() - sentUpTo_; }
    bool Broken() const { return broken_; }
    int Fd() const { return fd_; }
    // What the socket must become ready for before Flush can go on.
    short Waiting() const { return wantRead_ ? POLLIN : POLLOUT; }
    std::string Description() const {
        if (!ssl_) return "plain";
        return std::string(SSL_get_version(ssl_.get())) + "/" + SSL_get_cipher_name(ssl_.get());
    }

    // Writes what it can without blocking. A connection the peer closed or
    // reset keeps its unsent bytes, which count as undelivered.
    void Flush() {
        while (!broken_ && Pending() > 0) {
            const char* at = out_.data() + sentUpTo_;
            const size_t want = Pending();
            long n;
            wantRead_ = false;
            if (ssl_) {
                const int r = SSL_write(ssl_.get(), at, int(std::min<size_t>(want, 1 << 30)));
                if (r <= 0) {
                    const int e = SSL_get_error(ssl_.get(), r);
                    if (e == SSL_ERROR_WANT_WRITE) break;
                    if (e == SSL_ERROR_WANT_READ) {
                        wantRead_ = true;
                        break;
                    }
                    Fail(SslErrors());
                    break;
                }
                n = r;
            } else {
                n = send(fd_, at, want, MSG_NOSIGNAL);
                if (n < 0) {
                    if (errno == EAGAIN || errno == EWOULDBLOCK) break;
                    if (errno == EINTR) continue;
                    Fail(std::strerror(errno));
                    break;
                }
            }
            sentUpTo_ += size_t(n);
        }
        // Drop what went out once it is most of the buffer, so appends stay cheap.
        if (sentUpTo_ > 0 && sentUpTo_ >= out_.size() / 2) {
            out_.erase(0, sentUpTo_);
            sentUpTo_ = 0;
        }
    }

    // A TLS close alert, then the end of the stream; the socket stays open
    // for the peer's close (see CloseAll).
    void EndStream() {
        if (ssl_ && !broken_) SSL_shutdown(ssl_.get());
        shutdown(fd_, SHUT_WR);
    }
    // Reads and drops what the peer sent; true once it has closed its side.
    bool DrainPeer() {
        char scrap[4096];
        for (;;) {
            const ssize_t n = read(fd_, scrap, sizeof scrap);
            if (n > 0) continue;
            if (n < 0 && errno == EINTR) continue;
            return !(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
        }
    }
    void Close() {
        ssl_.reset();
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

private:
    void Fail(const std::string& why) {
        std::fprintf(stderr, "tcp_flood: connection broken: %s\n", why.c_str());
        broken_ = true;
    }

    int fd_ = -1;
    std::unique_ptr<SSL, SslFree> ssl_;
    std::string out_;
    size_t sentUpTo_ = 0;
    bool broken_ = false;
    bool wantRead_ = false;
};

// Waits until every connection's unsent bytes are at most limit (or it
// broke). Returns the nanoseconds spent waiting.
uint64_t WaitBelow(std::vector<std::unique_ptr<Connection>>& conns, size_t limit) {
    const uint64_t start = bench::NowNs();
    std::vector<pollfd> fds;
    std::vector<Connection*> who;
    for (;;) {
        fds.clear();
        who.clear();
        for (auto& c : conns) {
            if (c->Broken() || c->Pending() <= limit) continue;
            fds.push_back(pollfd{c->Fd(), c->Waiting(), 0});
            who.push_back(c.get());
        }
        if (fds.empty()) break;
        if (poll(fds.data(), fds.size(), 1000) < 0 && errno != EINTR) {
            std::perror("tcp_flood: poll");
            std::exit(1);
        }
        for (size_t i = 0; i < fds.size(); ++i)
            if (fds[i].revents) who[i]->Flush();
    }
    return bench::NowNs() - start;
}

// Ends every stream and waits (at most limitMs) until each peer has closed
// its side, which it does once it has read all that was sent. Closing
// earlier could lose the tail: a socket closed with unread bytes in it (a
// TLS 1.3 server's session tickets, which nothing here reads) is reset, not
// closed, and a reset peer drops what it had not read yet. Returns the
// connections the peer did not close in time.
uint64_t CloseAll(std::vector<std::unique_ptr<Connection>>& conns, uint64_t limitMs) {
    for (auto& c : conns) c->EndStream();
    const uint64_t deadline = bench::NowNs() + limitMs * 1'000'000;
    std::vector<Connection*> open;
    for (auto& c : conns) open.push_back(c.get());
    std::vector<pollfd> fds;
    while (!open.empty()) {
        const uint64_t now = bench::NowNs();
        if (now >= deadline) break;
        fds.clear();
        for (Connection* c : open) fds.push_back(pollfd{c->Fd(), POLLIN, 0});
        if (poll(fds.data(), fds.size(), int(std::min<uint64_t>((deadline - now) / 1'000'000 + 1, 1000))) < 0 &&
            errno != EINTR) {
            std::perror("tcp_flood: poll");
            std::exit(1);
        }
        std::vector<Connection*> still;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents && open[i]->DrainPeer()) open[i]->Close();
            else still.push_back(open[i]);
        }
        open.swap(still);
    }
    for (auto& c : conns) c->Close();
    return open.size();
}

}  // namespace

int main(int argc, char** argv) {
    std::string host = "127.0.0.1", framing = "octet", caFile, certFile, keyFile;
    uint64_t port = 0, count = 0, rate = 0, conns = 10, size = kDefaultMessageBytes, first = 0, burstUs = 1000;
    bool useTls = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--tls") {
            useTls = true;
            continue;
        }
        if (i + 1 >= argc) Usage();
        const char* v = argv[++i];
        if (a == "--host") host = v;
        else if (a == "--port") port = Number(v, "port");
        else if (a == "--count") count = Number(v, "count");
        else if (a == "--rate") rate = Number(v, "rate");
        else if (a == "--conns") conns = Number(v, "conns");
        else if (a == "--size") size = Number(v, "size");
        else if (a == "--first") first = Number(v, "first");
        else if (a == "--burst-us") burstUs = Number(v, "burst-us");
        else if (a == "--framing") framing = v;
        else if (a == "--ca") caFile = v;
        else if (a == "--cert") certFile = v;
        else if (a == "--key") keyFile = v;
        else Usage();
    }
    if (port == 0 || port > 65535 || count == 0 || first + count > UINT32_MAX) Usage();
    if (conns == 0 || conns > kMaxConnections || size < bench::kMinMessageBytes || size > kMaxMessageBytes) Usage();
    if (framing != "octet" && framing != "lf") Usage();
    if (certFile.empty() != keyFile.empty() || burstUs == 0) Usage();

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(port));
    if (inet_pton(AF_INET, host.c_str(), &to.sin_addr) != 1) {
        std::fprintf(stderr, "tcp_flood: bad host %s\n", host.c_str());
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<SSL_CTX, SslCtxFree> tls;
    if (useTls) {
        tls.reset(SSL_CTX_new(TLS_client_method()));
        if (!tls || SSL_CTX_set_min_proto_version(tls.get(), TLS1_2_VERSION) != 1) {
            std::fprintf(stderr, "tcp_flood: TLS: %s\n", SslErrors().c_str());
            return 1;
        }
        if (!caFile.empty()) {
            if (SSL_CTX_load_verify_locations(tls.get(), caFile.c_str(), nullptr) != 1) {
                std::fprintf(stderr, "tcp_flood: CA file %s: %s\n", caFile.c_str(), SslErrors().c_str());
                return 1;
            }
            SSL_CTX_set_verify(tls.get(), SSL_VERIFY_PEER, nullptr);
        }
        if (!certFile.empty() &&
            (SSL_CTX_use_certificate_chain_file(tls.get(), certFile.c_str()) != 1 ||
             SSL_CTX_use_PrivateKey_file(tls.get(), keyFile.c_str(), SSL_FILETYPE_PEM) != 1)) {
            std::fprintf(stderr, "tcp_flood: client certificate: %s\n", SslErrors().c_str());
            return 1;
        }
    }

    const uint64_t connectStart = bench::NowNs();
    std::vector<std::unique_ptr<Connection>> connections;
    for (uint64_t i = 0; i < conns; ++i) {
        connections.push_back(std::make_unique<Connection>());
        if (!connections.back()->Open(to, tls.get())) return 1;
    }
    const uint64_t connectNs = bench::NowNs() - connectStart;
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);

    // Messages per burst: the rate's share of burstUs, at least one per
    // connection when the rate allows, so each write carries a few lines.
    const uint64_t batch =
        rate == 0 ? 256 * conns : std::clamp<uint64_t>(rate * burstUs / 1'000'000, 1, 65536);
    std::vector<char> line(size);
    char prefix[32];
    const bool octet = framing == "octet";
    const int prefixLength = std::snprintf(prefix, sizeof prefix, "%llu ", (unsigned long long)size);

    uint64_t sent = 0, waits = 0, waitNs = 0, late = 0;
    const uint64_t start = bench::NowNs();
    while (sent < count) {
        const uint64_t n = std::min(batch, count - sent);
        bench::WaitForSchedule(start, sent, rate, late);
        for (uint64_t i = 0; i < n; ++i) {
            const uint64_t k = sent + i;
            bench::FormatMessage(line.data(), size, uint32_t(first + k));
            std::string& out = connections[k % conns]->Out();
            if (octet) out.append(prefix, size_t(prefixLength));
            out.append(line.data(), size);
            if (!octet) out.push_back('\n');
        }
        bool full = false;
        for (auto& c : connections) {
            c->Flush();
            full = full || (!c->Broken() && c->Pending() > kHighWater);
        }
        if (full) {
            ++waits;
            waitNs += WaitBelow(connections, kHighWater / 2);
        }
        sent += n;
    }
    waitNs += WaitBelow(connections, 0);
    const uint64_t elapsed = bench::NowNs() - start;

    uint64_t broken = 0, undelivered = 0;
    const size_t frameBytes = size + (octet ? size_t(prefixLength) : 1);
    for (auto& c : connections) {
        if (c->Broken()) ++broken, undelivered += (c->Pending() + frameBytes - 1) / frameBytes;
    }
    const std::string how = connections.front()->Description();
    const uint64_t closeStart = bench::NowNs();
    const uint64_t unclosed = CloseAll(connections, kCloseWaitMs);
    const uint64_t closeNs = bench::NowNs() - closeStart;

    // The sender's own CPU, to tell how much of the two cores it took.
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpuMs = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    const double seconds = double(elapsed) / 1e9;
    std::printf("sent=%llu elapsed_s=%.3f rate=%.0f target=%llu conns=%llu framing=%s tls=%s connect_ms=%.1f "
                "waits=%llu wait_ms=%.0f late_bursts=%llu broken=%llu undelivered=%llu close_ms=%.0f unclosed=%llu cpu_ms=%.0f\n",
                (unsigned long long)sent, seconds, seconds > 0 ? double(sent) / seconds : 0.0,
                (unsigned long long)rate, (unsigned long long)conns, framing.c_str(), how.c_str(),
                double(connectNs) / 1e6, (unsigned long long)waits, double(waitNs) / 1e6, (unsigned long long)late,
                (unsigned long long)broken, (unsigned long long)undelivered, double(closeNs) / 1e6,
                (unsigned long long)unclosed, cpuMs);
    return broken ? 1 : 0;
}
