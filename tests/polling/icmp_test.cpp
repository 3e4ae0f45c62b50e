// The ICMP poller: the echo request's bytes, which datagrams count as its
// reply and the text a round-trip time turns into; then the module against
// the kernel's own answers on 127.0.0.0/8 (the raw and the ping socket,
// where this machine allows each), and against a stand-in socket for what
// loopback cannot play: another address answering, a host that never
// answers, and no socket at all.
#include "polling/icmp/icmp_module.h"

#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <tuple>

#include "platform/udp_socket.h"
#include "polling/icmp/echo_packet.h"
#include "polling/icmp/icmp_output.h"
#include "transport/transport_test_support.h"

namespace qm::polling {
namespace {

using namespace qm::testing;
using core::kEventInternal;
using platform::Blocking;

TEST(IcmpPacket, RequestCarriesItsFieldsAndAValidChecksum) {
    // The example of RFC 1071, odd length included.
    const uint8_t rfc[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    EXPECT_EQ(InternetChecksum(rfc), 0x220d);
    EXPECT_EQ(InternetChecksum(std::span(rfc, 7)), 0x2304);  // the last byte padded with zero

    const EchoRequest r{0x1234, 1, 0xdeadbeef, 0x0102030405060708ull, 13};
    const std::vector<uint8_t> m = BuildEchoRequest(r);
    ASSERT_EQ(m.size(), kEchoHeaderSize + 13);
    EXPECT_EQ(m[0], 8);
    EXPECT_EQ(m[1], 0);
    EXPECT_EQ(InternetChecksum(m), 0) << "a message with its checksum in place sums to zero";
    uint16_t id = 0, seq = 0;
    uint32_t thread = 0;
    uint64_t stamp = 0;
    std::memcpy(&id, &m[4], 2);
    std::memcpy(&seq, &m[6], 2);
    std::memcpy(&thread, &m[8], 4);
    std::memcpy(&stamp, &m[12], 8);
    EXPECT_EQ(std::tuple(id, seq, thread, stamp), std::tuple(uint16_t{0x1234}, uint16_t{1}, 0xdeadbeefu, r.stamp));
    for (size_t i = kEchoHeaderSize; i < m.size(); ++i) EXPECT_EQ(m[i], 0xFF);
}

// A reply as a raw socket sees it: an IP header of `ihl` words, TTL 64.
std::vector<uint8_t> RawReply(const EchoRequest& r, size_t ihl) {
    std::vector<uint8_t> d(ihl * 4, 0);
    d[0] = static_cast<uint8_t>(0x40 | ihl);
    d[8] = 64;
    std::vector<uint8_t> icmp = BuildEchoRequest(r);
    icmp[0] = 0;
    d.insert(d.end(), icmp.begin(), icmp.end());
    return d;
}

TEST(IcmpPacket, OnlyTheReplyToThisAttemptMatches) {
    const EchoRequest sent{7, 1, 4242, 99, 0};
    // IP options make the header longer than 20 bytes: the reply still matches.
    for (size_t ihl : {5u, 6u, 15u}) {
        const auto reply = MatchEchoReply(RawReply(sent, ihl), ReplyForm::WithIpHeader, sent);
        ASSERT_TRUE(reply) << ihl;
        EXPECT_EQ(reply->ttl, 64);
        EXPECT_EQ(reply->stamp, 99u);
    }
    std::vector<uint8_t> shortened = RawReply(sent, 6);
    shortened.pop_back();  // the filler is empty: the stamp is cut
    std::vector<uint8_t> request = RawReply(sent, 5);
    request[20] = 8;  // our own request seen on loopback
    for (const std::vector<uint8_t>& other :
         {shortened, std::vector<uint8_t>{0x4f}, std::vector<uint8_t>{}, request,
          RawReply(EchoRequest{8, 1, 4242, 99, 0}, 5), RawReply(EchoRequest{7, 0, 4242, 99, 0}, 5),
          RawReply(EchoRequest{7, 1, 4243, 99, 0}, 5)})
        EXPECT_FALSE(MatchEchoReply(other, ReplyForm::WithIpHeader, sent));

    // A ping socket: no IP header, and the identifier is the kernel's.
    std::vector<uint8_t> bare = BuildEchoRequest(EchoRequest{999, 1, 4242, 99, 0});
    bare[0] = 0;
    const auto reply = MatchEchoReply(bare, ReplyForm::Bare, sent);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->ttl, -1);
    bare[6] = 0;  // sequence 0
    EXPECT_FALSE(MatchEchoReply(bare, ReplyForm::Bare, sent));
}

TEST(IcmpOutput, PlaceholdersBreachesAndRounding) {
    EXPECT_EQ(RoundedMsec(12.34), 12);
    EXPECT_EQ(RoundedMsec(12.5), 13);
    IcmpHost host;
    host.outFormat = "On-line, response [msec]";
    EXPECT_EQ(FormatIcmpOutput(host, 12.34, 64, " (!)").text, "On-line, response 12.3");
    host.outFormat = "[msec]/[ttl] [msec] [ttl]";
    EXPECT_EQ(FormatIcmpOutput(host, 1.25, 63, " (!)").text, "1.2/63 1.2 63");
    host.outFormat = "up";
    EXPECT_EQ(FormatIcmpOutput(host, 1.0, 64, " (!)").text, "up");
    host.outFormat = "[msec]";
    host.maxVal = 10;
    host.minVal = 3;
    // The limits meet the whole milliseconds, inclusive: the maximum or the
    // minimum, the time, whether it breaches.
    using Case = std::tuple<bool, double, bool>;
    for (const auto& [max, msec, breach] :
         std::vector<Case>{{true, 10.7, true}, {true, 9.99, false}, {false, 3.9, true}, {false, 4.0, false}}) {
        host.enableMax = max;
        host.enableMin = !max;
        const IcmpOutput out = FormatIcmpOutput(host, msec, 64, " (!)");
        EXPECT_EQ(out.breach, breach) << msec;
        EXPECT_EQ(out.text.ends_with(" (!)"), breach) << out.text;
    }
}

// Answers requests to 192.0.2.5 at once from 10.9.8.7, as a router would,
// and never any other; keeps the size of each request it was given.
class FakeTransport : public EchoTransport {
public:
    explicit FakeTransport(std::shared_ptr<std::vector<size_t>> sent) : sent_(std::move(sent)) {}
    ReplyForm Form() const override { return ReplyForm::WithIpHeader; }
    int SetTimeouts(uint32_t, uint32_t) override { return 0; }
    int Send(std::span<const uint8_t> message, const sockaddr_in& to) override {
        sent_->push_back(message.size());
        if (to.sin_addr.s_addr != platform::ParseIpv4("192.0.2.5", 0)->sin_addr.s_addr) return 0;
        pending_.assign(20, 0);
        pending_[0] = 0x45;
        pending_[8] = 50;
        pending_.insert(pending_.end(), message.begin(), message.end());
        pending_[20] = 0;  // echo reply
        return 0;
    }
    int Receive(std::span<uint8_t> buffer, uint32_t waitMs, sockaddr_in& from, int& ttl) override {
        if (pending_.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
            return 0;
        }
        ttl = -1;
        from = *platform::ParseIpv4("10.9.8.7", 0);
        const size_t n = std::min(pending_.size(), buffer.size());
        std::copy_n(pending_.begin(), n, buffer.begin());
        pending_.clear();
        return static_cast<int>(n);
    }

private:
    std::shared_ptr<std::vector<size_t>> sent_;
    std::vector<uint8_t> pending_;
};

class IcmpModuleTest : public ModuleTest<IcmpModule> {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        core_.values = std::make_unique<core::ValueCollector>([] { return 1000u; });
    }
    IcmpModule& Make(TransportOpener opener, IcmpCommon common, const std::vector<IcmpHost>& hosts) {
        module_ = std::make_unique<IcmpModule>(core_, std::move(opener));
        common.enableService = true;
        EXPECT_TRUE(module_->SetCommon(common));
        for (const IcmpHost& h : hosts) EXPECT_TRUE(module_->AddRecord(h));
        return *module_;
    }
    // A module on the stand-in socket.
    IcmpModule& MakeFake(IcmpCommon common, const std::vector<IcmpHost>& hosts) {
        sent_->clear();
        return Make([sent = sent_] { return OpenedTransport{std::make_unique<FakeTransport>(sent), 0}; }, common, hosts);
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

    std::shared_ptr<std::vector<size_t>> sent_ = std::make_shared<std::vector<size_t>>();
};

// The kernel answers every address of 127.0.0.0/8 itself: checksum, TTL 64,
// the reply's source the address pinged.
TEST_F(IcmpModuleTest, LoopbackRepliesThroughRawAndPingSockets) {
    std::vector<platform::IcmpSocket::Kind> allowed;
    for (const auto kind : {platform::IcmpSocket::Kind::Raw, platform::IcmpSocket::Kind::Ping})
        if (platform::IcmpSocket probe; probe.Open(kind) == 0) allowed.push_back(kind);
    if (allowed.empty()) GTEST_SKIP() << "no ICMP socket here (root, cap_net_raw, net.ipv4.ping_group_range)";
    for (const auto kind : allowed) {
        const std::string name = kind == platform::IcmpSocket::Kind::Raw ? "raw" : "ping";
        SCOPED_TRACE(name);
        IcmpHost b = Host("127.0.0.2", "second " + name + " [msec]");
        b.param = 0;
        IcmpCommon common;
        common.packetSize = kMaxPacketSize;  // a reply longer than the receive buffer still matches
        IcmpModule& m = Make(
            [kind] {
                platform::IcmpSocket socket;
                if (const int error = socket.Open(kind)) return OpenedTransport{nullptr, error};
                return OpenedTransport{std::make_unique<SocketTransport>(std::move(socket)), 0};
            },
            common, {Host("127.0.0.1", "first " + name + " [msec] ms ttl [ttl]"), b});
        ASSERT_TRUE(m.Start(Blocking::Yes));
        const auto first = WaitForPoll("first " + name);
        const auto second = WaitForPoll("second " + name);
        ASSERT_TRUE(first && second);
        EXPECT_EQ(first->severity, 6u) << first->Raw();
        EXPECT_EQ(first->sender, "127.0.0.1");
        EXPECT_EQ(second->sender, "127.0.0.2");
        EXPECT_TRUE(Contains(first->Message(), " ttl 64")) << first->Message();
        EXPECT_FALSE(Contains(first->Message(), "[msec]")) << first->Message();
        EXPECT_TRUE(WaitUntil([&] { return !core_.values->Read("127.0.0.1", "msec (mod_icmp)").samples.empty(); }));
        EXPECT_TRUE(core_.values->Read("127.0.0.2", "msec (mod_icmp)").samples.empty()) << "Param without 0x80";
        EXPECT_EQ(m.ErrorCount(), 0u);
        EXPECT_TRUE(m.Stop(Blocking::Yes));
        module_.reset();
        core_.values->Release();
    }
}

// A host answered by another address: the real-IP switch names the one
// that answered, and a breach warns. A host that never answers: two
// attempts, a gap and the session error. No request to a bad address.
TEST_F(IcmpModuleTest, AnsweredSilentAndBadHosts) {
    for (const bool realIp : {true, false}) {
        SCOPED_TRACE(realIp);
        IcmpCommon common;
        common.realIp = realIp;
        common.recvTimeout = 0;  // a missing key: the default, not a give-up at once
        common.packetSize = 0;   // no filler at all is a request still
        IcmpHost answered = Host("192.0.2.5", std::string(realIp ? "real" : "configured") + " [msec] ttl [ttl]");
        answered.enableMax = 1;
        answered.maxVal = 0;  // every time breaches
        IcmpModule& m = MakeFake(common, {answered, Host("192.0.2.77"), Host("not an address")});
        EXPECT_EQ(m.Common()->recvTimeout, 5000u);
        EXPECT_EQ(m.Common()->packetSize, 0u);
        common = *m.Common();
        common.recvTimeout = 900;
        ASSERT_TRUE(m.SetCommon(common));
        ASSERT_TRUE(m.Start(Blocking::Yes));
        const auto e = WaitForPoll(realIp ? "real" : "configured");
        ASSERT_TRUE(e);
        EXPECT_EQ(e->sender, realIp ? "10.9.8.7" : "192.0.2.5");
        EXPECT_EQ(e->severity, 4u);
        EXPECT_TRUE(Contains(e->Message(), " (!) ttl 50")) << e->Message();
        std::vector<core::EventRecord> failed;
        ASSERT_TRUE(WaitUntil([&] {
            failed = log_->Matching([](const core::EventRecord& e) {
                return e.type == kEventInternal && e.sender == "192.0.2.77" && Contains(e.Message(), "SESSION_ERROR (!)");
            });
            return failed.size() >= (realIp ? 1u : 2u);
        }));
        EXPECT_EQ(failed.back().severity, 3u);
        // No address to send to: the event comes from the address no host has.
        const auto bad = log_->WaitFor([](const core::EventRecord& e) {
            return e.type == kEventInternal && e.sender != "192.0.2.77" && Contains(e.Message(), "SESSION_ERROR");
        });
        ASSERT_TRUE(bad);
        EXPECT_EQ(bad->sender, "255.255.255.255");
        EXPECT_TRUE(m.Stop(Blocking::Yes));
        EXPECT_EQ(*sent_, (std::vector<size_t>{20, 20, 20})) << "one attempt answered, two not, of the header alone";
        const core::ValueRead read = core_.values->Read("192.0.2.77", "msec (mod_icmp)");
        ASSERT_EQ(read.samples.size(), 1u);
        EXPECT_TRUE(read.samples[0].gap);
        EXPECT_GE(core_.counters.icmpErrors.load(), 3u) << "two unanswered, one not an address";
        module_.reset();
        core_.values->Release();
    }
}

// A settings file's values are kept though the script words allow less;
// only a 0 that cannot work takes the default, and a filler past the packet
// buffer its largest size, each said on stderr.
TEST_F(IcmpModuleTest, FileValuesAreKeptAndOnlyUnusableOnesReplaced) {
    const auto load = [&](uint32_t repeat, uint32_t recv, uint32_t send, uint32_t packet) {
        platform::ProfileFile file;
        file.WriteString("mod_icmp", "Version", "2");
        file.WriteStruct("mod_icmp", "Common.EnableService", std::vector<uint8_t>{1});
        const auto put = [&](const char* key, uint32_t v) {
            file.WriteStruct("mod_icmp", key, std::vector<uint8_t>{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
        };
        put("Common.RepeatTimeout", repeat), put("Common.RecvTimeout", recv), put("Common.SendTimeout", send);
        put("Common.PacketSize", packet);
        ::testing::internal::CaptureStderr();
        module_->Load(core::SettingsSection({}, "mod_icmp", file));
        return ::testing::internal::GetCapturedStderr();
    };
    EXPECT_EQ(load(300000, 500, 0, 0), "");
    IcmpCommon c = *module_->Common();
    EXPECT_EQ(std::tie(c.repeatTimeout, c.recvTimeout, c.sendTimeout, c.packetSize), std::make_tuple(300000u, 500u, 0u, 0u));

    const std::string said = load(0, 0, 1, 100000);
    c = *module_->Common();
    EXPECT_EQ(std::tie(c.repeatTimeout, c.recvTimeout, c.sendTimeout, c.packetSize),
              std::make_tuple(10000u, 5000u, 1u, kMaxPacketSize));
    for (const char* line : {"settings [mod_icmp] Common.RepeatTimeout: \"0\" cannot be used, \"10000\" used instead",
                             "settings [mod_icmp] Common.RecvTimeout: \"0\" cannot be used, \"5000\" used instead",
                             "settings [mod_icmp] Common.PacketSize: \"100000\" cannot be used, \"3052\" used instead"})
        EXPECT_TRUE(Contains(said, line)) << said;
}

// One address is one host: a second one with it is refused whichever way
// it comes (added, renamed, or a marked one brought back), saying why; a
// marked host stands in for nobody. The new home's example host is kept
// but switched off, so a new home pings nothing.
TEST_F(IcmpModuleTest, ASecondHostWithOneAddressIsRefusedAndTheNewHomePingsNothing) {
    IcmpModule& m = MakeFake({}, {Host("192.0.2.5"), Host("gateway.example")});
    core::RecordSets& records = *m.Records();
    const auto copy = [](IcmpHost h, bool deleted = false) { return core::RecordCopy::Of(std::move(h), deleted); };
    const std::string taken = "Узел 192.0.2.5 уже есть в списке ICMP";
    EXPECT_FALSE(m.AddRecord(Host("192.0.2.5")));
    EXPECT_FALSE(records.Add({core::RecordSet::Item}, copy(Host("192.0.2.5", "other"))));
    EXPECT_EQ(records.Refusal({core::RecordSet::Item}, copy(Host("192.0.2.5")), std::nullopt), taken);
    EXPECT_FALSE(records.Add({core::RecordSet::Item}, copy(Host("GATEWAY.example"))));
    EXPECT_EQ(m.RecordCount(), 2u);

    // Renaming the second host to the first one's address is refused; the
    // first keeps its own address when edited.
    const std::vector<core::RecordCopy> before = *records.CopyItems();
    EXPECT_FALSE(records.ReplaceItem(1, copy(Host("192.0.2.5")), before[1]));
    EXPECT_EQ(records.Refusal({core::RecordSet::Item}, copy(Host("192.0.2.5")), 1), taken);
    EXPECT_EQ(records.Refusal({core::RecordSet::Item}, copy(Host("192.0.2.5")), 0), "");
    EXPECT_TRUE(records.ReplaceItem(0, copy(Host("192.0.2.5", "edited")), before[0]));

    // Marked for deletion, the first leaves its address free; it cannot come
    // back while another host has it.
    ASSERT_TRUE(m.DeleteRecord(0));
    const std::vector<core::RecordCopy> marked = *records.CopyItems();
    ASSERT_TRUE(records.ReplaceItem(1, copy(Host("192.0.2.5")), marked[1]));
    EXPECT_FALSE(m.DeleteRecord(0, false));
    core::RecordCopy back = (*records.CopyItems())[0];
    back.deleted = false;
    EXPECT_FALSE(records.ReplaceItem(0, back, (*records.CopyItems())[0]));
    EXPECT_EQ(records.Refusal({core::RecordSet::Item}, back, 0), taken);
    EXPECT_TRUE(m.Record(1)->name == "192.0.2.5" && (*records.CopyItems())[0].deleted);

    module_ = std::make_unique<IcmpModule>(core_);
    const fs::path shipped = fs::path(QM_SOURCE_DIR) / "resources/default-home/Settings/mod_icmp.ini";
    module_->Load(core::SettingsSection({}, "mod_icmp", platform::ProfileFile::Load(shipped)));
    ASSERT_EQ(module_->RecordCount(), 1u);
    EXPECT_EQ(module_->Record(0)->name, "127.0.0.1");
    EXPECT_EQ(module_->Record(0)->enable, 0) << "kept as an example, not polled";
    EXPECT_TRUE(module_->Common()->enableService) << "switching the host on is enough";
}

TEST_F(IcmpModuleTest, StopEndsACycleWaitingOnTheNetwork) {
    IcmpCommon common;
    common.recvTimeout = 120000;  // two attempts of this would hold Stop for four minutes
    IcmpModule& m = MakeFake(common, {Host("192.0.2.77")});
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
    EXPECT_TRUE(log_->WaitForSystem("(mod_icmp). Код: " + std::to_string(EPERM)));
    EXPECT_EQ(log_->CountSystem("Служба ICMP запущена"), 0u);
    EXPECT_TRUE(m.SetCommon(IcmpCommon{}));
    EXPECT_FALSE(m.Start(Blocking::Yes));
    EXPECT_TRUE(log_->WaitForSystem("Служба ICMP отключена"));
}

}  // namespace
}  // namespace qm::polling
