// TCP and TLS listeners against real senders on loopback: logger (octet
// counting, LF, IPv6), frames written the way syslog-ng's syslog() and
// network() drivers write them, rsyslog forwarding over TCP in both framings
// and over TLS with its ossl driver, openssl s_client handshakes good and
// bad, the limits, and 100,000 events from rsyslog arriving in order.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <regex>

#include "support/test_certificates.h"
#include "transport/collector/collector_module.h"
#include "transport_test_support.h"

namespace qm::transport {
namespace {

using namespace qm::testing;
using core::EventRecord;
using platform::Blocking;

// A plain TCP client of a loopback listener.
class StreamPeer {
public:
    explicit StreamPeer(uint16_t port, const std::string& ip = "127.0.0.1") {
        const std::optional<platform::SocketAddress> to = platform::SocketAddress::Parse(ip, port);
        fd_ = ::socket(to ? to->Family() : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ >= 0 && (!to || ::connect(fd_, to->Raw(), to->Length()) != 0)) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~StreamPeer() {
        if (fd_ >= 0) ::close(fd_);
    }
    StreamPeer(const StreamPeer&) = delete;
    StreamPeer& operator=(const StreamPeer&) = delete;

    bool Ok() const { return fd_ >= 0; }
    bool Send(std::string_view bytes) const {
        while (!bytes.empty()) {
            const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n <= 0) return false;
            bytes.remove_prefix(size_t(n));
        }
        return true;
    }
    // Whether the listener has closed the connection (within `timeout`).
    bool Closed(std::chrono::milliseconds timeout) const {
        return WaitUntil([&] {
            char byte;
            pollfd p{fd_, POLLIN, 0};
            return ::poll(&p, 1, 0) == 1 && ::recv(fd_, &byte, 1, MSG_DONTWAIT) <= 0;
        }, timeout);
    }

private:
    int fd_ = -1;
};

ListenerRecord StreamRecord(uint8_t proto, const std::string& ip = "127.0.0.1") {
    ListenerRecord r;
    r.enable = true;
    r.name = ip;
    r.proto = proto;
    r.sendTimeout = 1000;
    r.recvTimeout = 60000;
    return r;
}

// rsyslogd reading lines from a file (imfile) and forwarding each with omfwd
// to our listener with `forward` as the action's extra parameters.
class RsyslogForwarder {
public:
    RsyslogForwarder(uint16_t port, const std::string& forward, const std::vector<std::string>& lines,
                     const std::string& global = "") {
        fs::create_directory(dir_.path() / "work");
        std::string text;
        for (const std::string& line : lines) text += line + "\n";
        WriteWholeFile(dir_.path() / "in.txt", text);
        std::ofstream conf(dir_.path() / "rsyslog.conf");
        conf << "global(workDirectory=\"" << (dir_.path() / "work").string() << "\" net.enableDNS=\"off\" " << global
             << ")\nmodule(load=\"imfile\")\n"
             << "input(type=\"imfile\" file=\"" << (dir_.path() / "in.txt").string() << "\" tag=\"seq:\" ruleset=\"fwd\")\n"
             << "ruleset(name=\"fwd\") {\n  action(type=\"omfwd\" target=\"127.0.0.1\" port=\"" << port
             << "\" protocol=\"tcp\" " << forward << ")\n}\n";
        conf.close();
        process_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{Rsyslog::kBinary, "-n", "-f", (dir_.path() / "rsyslog.conf").string(), "-i",
                                     (dir_.path() / "rsyslogd.pid").string()},
            dir_.path() / "rsyslogd.txt");
    }
    std::string Log() const { return ReadWholeFile(dir_.path() / "rsyslogd.txt"); }

private:
    TempDir dir_{"qm-rsyslog-fwd"};
    std::unique_ptr<ChildProcess> process_;
};

class StreamCollector : public ModuleTest<CollectorModule> {
protected:
    // Starts the listeners and waits until each says so; their bound ports.
    std::vector<uint16_t> Start(const std::vector<ListenerRecord>& records, CollectorCommon common = {}) {
        EXPECT_TRUE(module_->SetCommon(common));
        const size_t before = log_->CountSystem("запущен");
        std::vector<size_t> indexes;
        for (const ListenerRecord& r : records) indexes.push_back(module_->AddRecord(r).value_or(0));
        module_->Start(Blocking::Yes);
        EXPECT_TRUE(WaitUntil([&] { return log_->CountSystem("запущен") >= before + records.size(); }));
        std::vector<uint16_t> ports;
        for (size_t i : indexes) ports.push_back(module_->BoundPort(i));
        return ports;
    }
    std::optional<EventRecord> Line(std::string_view text) { return log_->WaitForMessage(text, 30s); }
    // openssl s_client sending `input` then ending; its exit code.
    std::optional<int> SClient(uint16_t port, const std::string& options, const std::string& input) {
        WriteWholeFile(certs_->Path("input.txt"), input);
        ChildProcess client({"/bin/sh", "-c",
                             "exec " + std::string(TestCertificates::kOpenssl) + " s_client -connect 127.0.0.1:" +
                                 std::to_string(port) + " -quiet -no_ign_eof " + options + " < " + certs_->Path("input.txt")},
                            certs_->Path("s_client.txt"));
        return client.Exit(30s);
    }
    std::unique_ptr<TestCertificates> certs_;
};

TEST_F(StreamCollector, LoggerAndSyslogNgFramesBecomeEventsAsDatagramsDo) {
    const uint16_t port = Start({StreamRecord(kProtoTcp)}).at(0);
    ASSERT_NE(port, 0);
    TempDir dir("qm-logger");
    const std::string p = std::to_string(port);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--octet-count", "--rfc5424", "-p", "local3.warning", "logger counted"},
          std::vector<std::string>{"--rfc3164", "-p", "user.notice", "logger newline"}}) {
        std::vector<std::string> argv = {"logger", "--tcp", "-n", "127.0.0.1", "-P", p};
        argv.insert(argv.end(), args.begin(), args.end());
        ChildProcess logger(argv, dir.path() / "logger.txt");
        ASSERT_EQ(logger.Exit(30s), 0) << ReadWholeFile(dir.path() / "logger.txt");
    }
    const std::optional<EventRecord> counted = Line("logger counted"), newline = Line("logger newline");
    ASSERT_TRUE(counted && newline);
    EXPECT_EQ(counted->severity, 4u);
    EXPECT_EQ(counted->facility, 19u);
    EXPECT_TRUE(StartsWith(counted->Raw(), "<156>1 ")) << counted->Raw();
    EXPECT_EQ(newline->severity, 5u);
    EXPECT_EQ(newline->facility, 1u);
    EXPECT_EQ(newline->sender, "127.0.0.1");

    // syslog-ng: syslog() writes RFC 5424 with octet counting, network()
    // the BSD form ended by LF; one connection carries both, in pieces.
    const std::string ietf = "<165>1 2026-01-02T03:04:05.000+00:00 host prog 123 ID47 [ex@32473 a=\"1\"] syslog driver";
    const std::string bsd = "<38>Jan  2 03:04:05 host prog[123]: network driver";
    const std::string stream = std::to_string(ietf.size()) + " " + ietf + bsd + "\n";
    const uint64_t bytesBefore = core_.counters.bytesReceived.load();
    StreamPeer peer(port);
    ASSERT_TRUE(peer.Ok());
    ASSERT_TRUE(peer.Send(stream.substr(0, 7)));
    ASSERT_TRUE(peer.Send(stream.substr(7)));
    const std::optional<EventRecord> e1 = Line("syslog driver"), e2 = Line("network driver");
    ASSERT_TRUE(e1 && e2);
    EXPECT_EQ(e1->Raw(), ietf);
    EXPECT_EQ(e2->Raw(), bsd);
    EXPECT_EQ(e1->facility * 8 + e1->severity, 165u);
    EXPECT_EQ(e2->facility * 8 + e2->severity, 38u);
    EXPECT_EQ(core_.counters.datagramsReceived.load(), 4u);
    EXPECT_EQ(core_.counters.bytesReceived.load() - bytesBefore, ietf.size() + bsd.size());
    EXPECT_EQ(log_->CountExternal(), 4u);
}

// A listener on "::" hears IPv6 senders and, where the system allows, IPv4 ones.
TEST_F(StreamCollector, AnIpv6ListenerTakesBothFamilies) {
    const uint16_t port = Start({StreamRecord(kProtoTcp, "::")}).at(0);
    if (port == 0) GTEST_SKIP() << "no IPv6 here";
    TempDir dir("qm-logger");
    for (const char* host : {"::1", "127.0.0.1"}) {
        ChildProcess logger({"logger", "--tcp", "--octet-count", "-n", host, "-P", std::to_string(port), "from", host},
                            dir.path() / "logger.txt");
        ASSERT_EQ(logger.Exit(30s), 0) << ReadWholeFile(dir.path() / "logger.txt");
        const std::optional<EventRecord> e = Line(std::string("from ") + host);
        ASSERT_TRUE(e) << host;
        EXPECT_EQ(e->sender, host);
    }
}

TEST_F(StreamCollector, LimitsAreToldAndNoSenderHoldsUpTheOthers) {
    CollectorCommon common;
    module_->Shared().maxConnections.store(3);
    ListenerRecord record = StreamRecord(kProtoTcp);
    record.idleTimeout = 2000;
    record.param = kPacketFilter;
    const uint16_t port = Start({record}, common).at(0);

    // Past the limit a frame is skipped and the rest of the stream stays in
    // step; without a priority the filter keeps a frame out.
    StreamPeer talking(port);
    ASSERT_TRUE(talking.Send("<13>first\n9000 " + std::string(9000, 'x') + "no priority\n<13>after the long one\n"));
    ASSERT_TRUE(Line("after the long one"));
    EXPECT_TRUE(log_->WaitForSystem("кадр от 127.0.0.1 (9000 байт) длиннее предела в 8192 байт и пропущен"));
    EXPECT_EQ(module_->Shared().oversize.load(), 1u);
    EXPECT_EQ(core_.counters.datagramsReceived.load(), 3u);

    // A sender that floods with lines the filter drops, and one that stops
    // in the middle of a frame.
    StreamPeer flooding(port);
    std::atomic<bool> flood{true};
    std::thread flooder([&] {
        std::string garbage;
        while (garbage.size() < 65536) garbage += "garbage without a priority\n";
        while (flood.load() && flooding.Send(garbage)) {
        }
    });
    struct StopFlood {
        std::atomic<bool>& flag;
        std::thread& thread;
        ~StopFlood() {
            flag.store(false);
            if (thread.joinable()) thread.join();
        }
    } stopFlood{flood, flooder};
    ASSERT_TRUE(WaitUntil([&] { return core_.counters.datagramsReceived.load() > 10000; })) << "no flood";
    StreamPeer stalled(port);
    ASSERT_TRUE(stalled.Send("<13>a frame that never ends"));
    ASSERT_TRUE(talking.Send("<13>while others stall and flood\n"));
    ASSERT_TRUE(Line("while others stall and flood"));

    StreamPeer fourth(port);
    EXPECT_TRUE(fourth.Closed(10s)) << "a connection past the limit";
    EXPECT_TRUE(log_->WaitForSystem("соединение с 127.0.0.1 отклонено, открыто соединений: 3 (предел)"));
    EXPECT_TRUE(stalled.Closed(20s)) << "the silent one is closed";
    EXPECT_TRUE(log_->WaitForSystem("соединение с 127.0.0.1 закрыто после 2000 мс без данных"));
    StreamPeer fifth(port);
    ASSERT_TRUE(fifth.Send("<13>a place came free\n"));
    EXPECT_TRUE(Line("a place came free"));
    EXPECT_EQ(log_->CountExternal(), 4u) << "neither the flood, nor a line cut off by the time-out, is an event";

    // A stop ends every connection, the flooding one too, at once.
    const Clock::time_point stopAt = Clock::now();
    module_->Stop(Blocking::Yes);
    EXPECT_LT(Clock::now() - stopAt, 5s);
    EXPECT_TRUE(fifth.Closed(5s));
    EXPECT_EQ(module_->Shared().connections.load(), 0u);
}

// Both framings, and rsyslog's forwarding templates, whose headers the
// events show as fields.
TEST_F(StreamCollector, RsyslogForwardsOverTcpInBothFramingsAndItsTemplates) {
    if (!Rsyslog::Installed()) GTEST_SKIP() << "rsyslogd is not installed (Debian package rsyslog)";
    const uint16_t port = Start({StreamRecord(kProtoTcp)}).at(0);
    const struct {
        const char* framing;
        const char* format;  // none: omfwd's default, the traditional forward format
    } cases[] = {{"traditional", nullptr},
                 {"octet-counted", "RSYSLOG_ForwardFormat"},
                 {"traditional", "RSYSLOG_SyslogProtocol23Format"},
                 {"octet-counted", "RSYSLOG_TraditionalForwardFormat"}};
    char hostBuffer[256] = {};
    ::gethostname(hostBuffer, sizeof hostBuffer - 1);
    const std::string host(hostBuffer, strcspn(hostBuffer, "."));
    for (const auto& c : cases) {
        const std::string line = std::string("rsyslog ") + c.framing + " framing " + (c.format ? c.format : "");
        std::string forward = std::string("TCP_Framing=\"") + c.framing + "\"";
        if (c.format) forward += std::string(" template=\"") + c.format + "\"";
        RsyslogForwarder rsyslog(port, forward, {line, line + " again"});
        const std::optional<EventRecord> e = Line(line + " again");
        ASSERT_TRUE(e) << rsyslog.Log();
        EXPECT_TRUE(Line(line));
        EXPECT_EQ(e->sender, "127.0.0.1");
        EXPECT_TRUE(Contains(e->Raw(), line + " again")) << e->Raw();
        EXPECT_EQ(e->Raw().back(), 'n') << "the terminator is not part of the line";
        EXPECT_EQ(e->Host(), host) << e->Raw();
        EXPECT_EQ(e->App(), "seq") << e->Raw();
        EXPECT_FALSE(e->SenderTime().empty()) << e->Raw();
        EXPECT_EQ(e->Body(), line + " again") << e->Raw();
    }
}

TEST_F(StreamCollector, TlsWithRsyslogOpensslAndClientsThatFail) {
    if (!TestCertificates::Installed()) GTEST_SKIP() << "no openssl command (Debian package openssl)";
    certs_ = std::make_unique<TestCertificates>();
    ASSERT_TRUE(certs_->Ok()) << ReadWholeFile(certs_->Log());
    // One listener requires client certificates; the other does not, and
    // its key file is readable by the group, which is told.
    const std::string openKey = certs_->Path("open.key");
    fs::copy_file(certs_->ServerKey(), openKey);
    ::chmod(openKey.c_str(), 0640);
    ListenerRecord verifying = StreamRecord(kProtoTls), anonymous = StreamRecord(kProtoTls), broken = StreamRecord(kProtoTls);
    verifying.certFile = anonymous.certFile = certs_->ServerCert();
    verifying.keyFile = certs_->ServerKey();
    verifying.caFile = certs_->Ca();
    anonymous.keyFile = openKey;
    broken.certFile = certs_->Path("missing.pem");
    const std::vector<uint16_t> ports = Start({verifying, anonymous});
    EXPECT_TRUE(log_->WaitForSystem("файл ключа " + openKey + " доступен для чтения"));
    EXPECT_EQ(log_->CountSystem("файл ключа"), 1u);

    if (Rsyslog::Installed()) {
        const std::string ca = "DefaultNetstreamDriverCAFile=\"" + certs_->Ca() + "\"";
        RsyslogForwarder x509(ports[0], "StreamDriver=\"ossl\" StreamDriverMode=\"1\" StreamDriverAuthMode=\"x509/certvalid\"",
                              {"rsyslog tls x509"},
                              ca + " DefaultNetstreamDriverCertFile=\"" + certs_->ClientCert() +
                                  "\" DefaultNetstreamDriverKeyFile=\"" + certs_->ClientKey() + "\"");
        RsyslogForwarder anon(ports[1], "StreamDriver=\"ossl\" StreamDriverMode=\"1\" StreamDriverAuthMode=\"anon\"",
                              {"rsyslog tls anon"}, ca);
        RsyslogForwarder named(ports[1],
                               "StreamDriver=\"ossl\" StreamDriverMode=\"1\" StreamDriverAuthMode=\"x509/name\" "
                               "StreamDriverPermittedPeers=\"localhost\" TCP_Framing=\"octet-counted\"",
                               {"rsyslog tls x509/name"}, ca);
        const std::optional<EventRecord> e = Line("seq: rsyslog tls x509");
        ASSERT_TRUE(e) << x509.Log();
        EXPECT_EQ(e->sender, "127.0.0.1");
        EXPECT_TRUE(Line("seq: rsyslog tls anon")) << anon.Log();
        EXPECT_TRUE(Line("seq: rsyslog tls x509/name")) << named.Log();
    }

    // A connection that holds a place without a word does not stop anyone.
    StreamPeer silent(ports[0]);
    const std::string good = "-CAfile " + certs_->Ca() + " -cert " + certs_->ClientCert() + " -key " + certs_->ClientKey();
    EXPECT_EQ(SClient(ports[0], good, "<13>s_client line\n"), 0) << ReadWholeFile(certs_->Path("s_client.txt"));
    EXPECT_TRUE(Line("s_client line"));

    // Three that fail: a client that does not trust us, one without a
    // certificate, and plain text to the TLS port. One event each, naming
    // the peer and the reason, and none of their lines.
    EXPECT_NE(SClient(ports[0], "-verify_return_error -CAfile " + certs_->OtherCa(), "<13>distrusting\n"), 0);
    EXPECT_TRUE(log_->WaitForSystem("TLS-соединение с 127.0.0.1 не установлено: handshake failed: tlsv1 alert unknown ca"));
    SClient(ports[0], "-CAfile " + certs_->Ca(), "<13>no certificate\n");
    EXPECT_TRUE(log_->WaitForSystem("не установлено: handshake failed: peer did not return a certificate"));
    StreamPeer plain(ports[1]);
    ASSERT_TRUE(plain.Send("<13>plain text to tls\n"));
    EXPECT_TRUE(plain.Closed(20s));
    EXPECT_TRUE(log_->WaitForSystem("не установлено: handshake failed: wrong version number"));
    // Counted by reason: an rsyslog stopped above in the middle of a
    // reconnect may add a reset of its own on a loaded machine.
    const char* reasons[] = {"tlsv1 alert unknown ca", "peer did not return a certificate", "wrong version number"};
    const auto failures = [&](const char* reason) {
        return log_->CountSystem(std::string("не установлено: handshake failed: ") + reason);
    };

    EXPECT_EQ(SClient(ports[1], "-CAfile " + certs_->Ca(), "<13>after the failures\n"), 0);
    EXPECT_TRUE(Line("after the failures"));
    for (const char* text : {"distrusting", "no certificate", "plain text to tls"})
        EXPECT_FALSE(log_->WaitForMessage(text, 0ms)) << text;
    for (const char* reason : reasons) EXPECT_EQ(failures(reason), 1u) << "one event per failed handshake: " << reason;

    // A listener whose certificate cannot be read does not start, and says why.
    module_->Stop(Blocking::Yes);
    module_ = std::make_unique<CollectorModule>(core_);
    EXPECT_EQ(Start({broken}).at(0), 0);
    EXPECT_TRUE(log_->WaitForSystem("не запущен: cannot read the certificate file " + broken.certFile));
}

TEST_F(StreamCollector, HundredThousandEventsFromRsyslogArriveAllInOrder) {
    if (!Rsyslog::Installed()) GTEST_SKIP() << "rsyslogd is not installed (Debian package rsyslog)";
    constexpr int kTotal = 100000;
    const uint16_t port = Start({StreamRecord(kProtoTcp)}).at(0);
    std::vector<std::string> lines;
    for (int i = 0; i < kTotal; ++i) lines.push_back("sequence " + std::to_string(i) + " end");
    RsyslogForwarder rsyslog(port, "TCP_Framing=\"octet-counted\"", lines);
    ASSERT_TRUE(WaitUntil([&] { return log_->CountExternal() >= size_t(kTotal); }, 120s))
        << log_->CountExternal() << " arrived\n" << rsyslog.Log();
    static const std::regex number(R"(seq: sequence (\d+) end$)");
    int expected = 0;
    for (const EventRecord& e : log_->Matching(EventLog::Of(core::kEventExternal, "sequence"))) {
        std::smatch m;
        const std::string raw(e.Raw());
        ASSERT_TRUE(std::regex_search(raw, m, number)) << raw;
        ASSERT_EQ(std::stoi(m[1]), expected) << "out of order or lost";
        ++expected;
    }
    EXPECT_EQ(expected, kTotal);
    EXPECT_EQ(module_->Shared().submitRefused.load(), 0u);
}

}  // namespace
}  // namespace qm::transport
