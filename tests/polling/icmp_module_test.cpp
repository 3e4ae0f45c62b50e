// The ICMP poller against the kernel's own answers on 127.0.0.0/8 (the raw
// and the ping socket, where this machine allows each), and against a
// stand-in socket for what loopback cannot play: a host that never answers,
// and no socket at all.
#include "polling/icmp/icmp_module.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>

#include "platform/udp_socket.h"
#include "transport/transport_test_support.h"

namespace qm::polling {
namespace {

using namespace qm::testing;
using core::kEventInternal;
using platform::Blocking;

// Sends nothing anywhere and never hears an answer.
class SilentTransport : public EchoTransport {
public:
    explicit SilentTransport(std::shared_ptr<std::vector<size_t>> sent) : sent_(std::move(sent)) {}
    ReplyForm Form() const override { return ReplyForm::WithIpHeader; }
    int SetTimeouts(uint32_t, uint32_t) override { return 0; }
    int Send(std::span<const uint8_t> message, const sockaddr_in&) override {
        std::lock_guard lock(mutex_);
        sent_->push_back(message.size());
        return 0;
    }
    int Receive(std::span<uint8_t>, uint32_t waitMs, sockaddr_in&, int&) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
        return 0;
    }

private:
    std::mutex mutex_;
    std::shared_ptr<std::vector<size_t>> sent_;
};

// Answers every request at once, as a router would from another address.
class AnsweringTransport : public EchoTransport {
public:
    explicit AnsweringTransport(std::string from) : from_(*platform::ParseIpv4(from, 0)) {}
    ReplyForm Form() const override { return ReplyForm::WithIpHeader; }
    int SetTimeouts(uint32_t, uint32_t) override { return 0; }
    int Send(std::span<const uint8_t> message, const sockaddr_in&) override {
        pending_.assign(20, 0);
        pending_[0] = 0x45;
        pending_[8] = 50;
        pending_.insert(pending_.end(), message.begin(), message.end());
        pending_[20] = 0;  // echo reply
        return 0;
    }
    int Receive(std::span<uint8_t> buffer, uint32_t, sockaddr_in& from, int& ttl) override {
        ttl = -1;
        from = from_;
        const size_t n = std::min(pending_.size(), buffer.size());
        std::copy_n(pending_.begin(), n, buffer.begin());
        pending_.clear();
        return static_cast<int>(n);
    }

private:
    sockaddr_in from_;
    std::vector<uint8_t> pending_;
};

TransportOpener OnlyKind(platform::IcmpSocket::Kind kind) {
    return [kind] {
        platform::IcmpSocket socket;
        if (const int error = socket.Open(kind)) return OpenedTransport{nullptr, error};
        return OpenedTransport{std::make_unique<SocketTransport>(std::move(socket)), 0};
    };
}

class IcmpModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        core_.texts = std::make_unique<core::TextTable>(core::BuiltinStrings());
        core_.events = std::make_unique<core::EventCore>(core_.counters);
        core_.values = std::make_unique<ValueCollector>([] { return 1000u; });
        log_ = std::make_unique<EventLog>(*core_.events);
    }
    void TearDown() override {
        module_.reset();
        log_.reset();
        core_.events->Shutdown();
    }
    IcmpModule& Make(TransportOpener opener, IcmpCommon common, const std::vector<IcmpHost>& hosts) {
        module_ = std::make_unique<IcmpModule>(core_, std::move(opener));
        common.enableService = true;
        EXPECT_TRUE(module_->SetCommon(common));
        for (const IcmpHost& h : hosts) EXPECT_TRUE(module_->AddRecord(h));
        return *module_;
    }
    static IcmpHost Host(std::string name, std::string format = "[msec]") {
        IcmpHost h;
        h.name = std::move(name);
        h.outFormat = std::move(format);
        return h;
    }
    std::optional<core::EventRecord> WaitForPoll(std::string_view text) {
        return log_->WaitFor(EventLog::Of(kEventInternal, text));
    }

    core::CoreContext core_;
    std::unique_ptr<EventLog> log_;
    std::unique_ptr<IcmpModule> module_;
};

// The kernel answers every address of 127.0.0.0/8 itself: checksum, TTL 64,
// the reply's source the address pinged.
void PingLoopback(const std::string& name, IcmpModule& m, ValueCollector& values, EventLog& log) {
    ASSERT_TRUE(m.Start(Blocking::Yes));
    const auto first = log.WaitFor(EventLog::Of(kEventInternal, "first " + name));
    const auto second = log.WaitFor(EventLog::Of(kEventInternal, "second " + name));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->severity, 6u) << first->Raw();
    EXPECT_EQ(first->sender, "127.0.0.1");
    EXPECT_EQ(second->sender, "127.0.0.2");
    EXPECT_TRUE(Contains(first->Message(), " ttl 64")) << first->Message();
    EXPECT_FALSE(Contains(first->Message(), "[msec]")) << first->Message();
    EXPECT_TRUE(WaitUntil([&] { return !values.Read("127.0.0.1", "msec (mod_icmp)").samples.empty(); }));
    EXPECT_TRUE(values.Read("127.0.0.2", "msec (mod_icmp)").samples.empty()) << "Param without 0x80";
    EXPECT_EQ(m.ErrorCount(), 0u);
    EXPECT_TRUE(m.Stop(Blocking::Yes));
}

TEST_F(IcmpModuleTest, LoopbackRepliesThroughRawAndPingSockets) {
    for (const auto kind : {platform::IcmpSocket::Kind::Raw, platform::IcmpSocket::Kind::Ping}) {
        const char* name = kind == platform::IcmpSocket::Kind::Raw ? "raw" : "ping";
        if (platform::IcmpSocket probe; probe.Open(kind) != 0) {
            std::printf("[ SKIPPED  ] the %s socket cannot be opened here (%s)\n", name,
                        kind == platform::IcmpSocket::Kind::Raw ? "needs root or cap_net_raw"
                                                                : "net.ipv4.ping_group_range excludes this group");
            continue;
        }
        SCOPED_TRACE(name);
        IcmpHost a = Host("127.0.0.1", std::string("first ") + name + " [msec] ms ttl [ttl]");
        IcmpHost b = Host("127.0.0.2", std::string("second ") + name + " [msec]");
        b.param = 0;
        IcmpCommon common;
        common.packetSize = 1999;
        PingLoopback(name, Make(OnlyKind(kind), common, {a, b}), *core_.values, *log_);
        module_.reset();
        core_.values->Release();
    }
}

TEST_F(IcmpModuleTest, SilentHostGivesTwoAttemptsAGapAndAnErrorEvent) {
    auto sent = std::make_shared<std::vector<size_t>>();
    IcmpCommon common;
    common.recvTimeout = 0;      // a missing key: the default, not a wait for ever
    common.packetSize = 100000;  // a settings file is not capped: the default
    IcmpModule& m = Make([sent] { return OpenedTransport{std::make_unique<SilentTransport>(sent), 0}; }, common,
                         {Host("192.0.2.77"), Host("not an address")});
    EXPECT_EQ(m.Common()->recvTimeout, 5000u);
    EXPECT_EQ(m.Common()->packetSize, 32u);
    common = *m.Common();
    common.recvTimeout = 900;
    ASSERT_TRUE(m.SetCommon(common));
    ASSERT_TRUE(m.Start(Blocking::Yes));
    const auto failed = WaitForPoll("SESSION_ERROR (!)");
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->severity, 3u);
    EXPECT_EQ(failed->sender, "192.0.2.77");
    EXPECT_TRUE(m.Stop(Blocking::Yes));
    EXPECT_EQ(*sent, (std::vector<size_t>{52, 52})) << "two attempts of 20 + 32 bytes, none to a bad address";
    const ValueRead read = core_.values->Read("192.0.2.77", "msec (mod_icmp)");
    ASSERT_EQ(read.samples.size(), 1u);
    EXPECT_TRUE(read.samples[0].gap);
    EXPECT_GE(m.ErrorCount(), 2u);
}

TEST_F(IcmpModuleTest, RealIpNamesTheReplyingAddressAndABreachWarns) {
    for (const bool realIp : {true, false}) {
        IcmpCommon common;
        common.realIp = realIp;
        IcmpHost host = Host("192.0.2.5", std::string(realIp ? "real" : "configured") + " [msec] ttl [ttl]");
        host.enableMax = 1;
        host.maxVal = 0;  // every time breaches
        IcmpModule& m = Make([] { return OpenedTransport{std::make_unique<AnsweringTransport>("10.9.8.7"), 0}; },
                             common, {host});
        ASSERT_TRUE(m.Start(Blocking::Yes));
        const auto e = WaitForPoll(realIp ? "real" : "configured");
        ASSERT_TRUE(e);
        EXPECT_EQ(e->sender, realIp ? "10.9.8.7" : "192.0.2.5");
        EXPECT_EQ(e->severity, 4u);
        EXPECT_TRUE(Contains(e->Message(), " (!) ttl 50")) << e->Message();
        EXPECT_TRUE(m.Stop(Blocking::Yes));
    }
}

TEST_F(IcmpModuleTest, StopEndsACycleWaitingOnTheNetwork) {
    auto sent = std::make_shared<std::vector<size_t>>();
    IcmpCommon common;
    common.recvTimeout = 120000;  // two attempts of this would hold Stop for four minutes
    IcmpModule& m = Make([sent] { return OpenedTransport{std::make_unique<SilentTransport>(sent), 0}; }, common,
                         {Host("192.0.2.77")});
    ASSERT_TRUE(m.Start(Blocking::Yes));
    ASSERT_TRUE(WaitUntil([&] { return core_.counters.datagramsSent.load() == 1; }));
    auto stopped = std::async(std::launch::async, [&] { return m.Stop(Blocking::Yes); });
    ASSERT_EQ(stopped.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_TRUE(stopped.get());
    EXPECT_TRUE(log_->Matching(EventLog::Of(kEventInternal, "ICMP")).empty()) << "no verdict on an interrupted host";
}

TEST_F(IcmpModuleTest, NoSocketIsReportedAndStartsNothing) {
    IcmpModule& m = Make([] { return OpenedTransport{nullptr, EPERM}; }, IcmpCommon{}, {Host("127.0.0.1")});
    EXPECT_FALSE(m.Start(Blocking::Yes));
    const std::string expected = "(mod_icmp). Код: " + std::to_string(EPERM);
    EXPECT_TRUE(log_->WaitForSystem(expected));
    EXPECT_EQ(log_->CountSystem("Служба ICMP запущена"), 0u);

    IcmpCommon off;
    EXPECT_TRUE(m.SetCommon(off));
    EXPECT_FALSE(m.Start(Blocking::Yes));
    EXPECT_TRUE(log_->WaitForSystem("Служба ICMP отключена"));
}

}  // namespace
}  // namespace qm::polling
