// The syslog collector on real loopback sockets: what real senders' lines
// become, the control exchange and the packet filter, odd datagrams, starting
// and stopping, the server check, lines forwarded by rsyslog, and listeners
// read from the settings file at the core's start.
#include "transport/collector/collector_module.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <future>
#include <set>

#include "core/config.h"
#include "transport/collector/collector_settings.h"
#include "transport_test_support.h"

namespace qm::transport {
namespace {

using namespace qm::testing;
using core::EventRecord;
using platform::Blocking;

constexpr const char* kOk = "$$$OK [QMK 3.2.0]";

ListenerRecord LocalListener(uint16_t port = 0, uint8_t param = 0) {
    return {.enable = true, .name = "127.0.0.1", .param = param, .port = port, .sendTimeout = 100, .recvTimeout = 100, .server = {}};
}

// The start of a listener's own reports.
std::string Where(uint16_t port) { return "Коллектор [127.0.0.1:" + std::to_string(port) + "] "; }

std::string NetworkProblem(uint16_t port, int code) {
    return "Проблемы при работе с сетью (mod_collector). Адрес: 127.0.0.1:" + std::to_string(port) +
           ". Код: " + std::to_string(code);
}

class Collector : public ModuleTest<CollectorModule> {
protected:
    // Starts one listener and waits for its thread to say so; its bound port.
    uint16_t StartOne(const ListenerRecord& record, CollectorCommon common = {}) {
        EXPECT_TRUE(module_->SetCommon(common));
        const std::optional<size_t> index = module_->AddRecord(record);
        EXPECT_TRUE(index.has_value());
        const size_t startedBefore = log_->CountSystem("запущен");
        EXPECT_TRUE(module_->Start(Blocking::Yes));
        const uint16_t port = module_->BoundPort(index.value_or(0));
        EXPECT_NE(port, 0);
        EXPECT_TRUE(WaitUntil([&] { return log_->CountSystem("запущен") > startedBefore; }, 20s));
        return port;
    }
};

TEST_F(Collector, LoggerLinesBecomeExternalEventsWithTheirPriority) {
    const std::string port = std::to_string(StartOne(LocalListener()));
    // util-linux logger does not send the kernel facility: kern goes out as user.
    const struct {
        const char* priority;
        uint32_t severity, facility;
    } cases[] = {{"user.notice", 5, 1}, {"local7.debug", 7, 23}, {"kern.emerg", 0, 1}, {"auth.err", 3, 4}};
    TempDir dir("qm-logger");
    char hostBuffer[256] = {};
    ::gethostname(hostBuffer, sizeof hostBuffer - 1);
    const std::string host = hostBuffer;
    for (const char* mode : {"--rfc3164", "--rfc5424"}) {
        const bool rfc5424 = std::string_view(mode) == "--rfc5424";
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(mode) + " " + c.priority);
            const std::string text = std::string("quillmark check ") + (mode + 2) + " " + c.priority;
            std::vector<std::string> args{"logger", "-n", "127.0.0.1", "-P", port, "-d", mode, "-p", c.priority,
                                          "-t", "qmcheck", "--id=4321"};
            if (rfc5424) args.insert(args.end(), {"--msgid", "LINKCHK", "--sd-id", "origin@32473", "--sd-param", "ip=\"10.0.0.1\""});
            args.push_back(text);
            ChildProcess logger(args, dir.path() / "logger.txt");
            ASSERT_EQ(logger.Exit(30s), 0) << ReadWholeFile(dir.path() / "logger.txt");
            const std::optional<EventRecord> e = log_->WaitForMessage(text);
            ASSERT_TRUE(e);
            EXPECT_EQ(e->severity, c.severity);
            EXPECT_EQ(e->facility, c.facility);
            EXPECT_EQ(e->sender, "127.0.0.1");
            EXPECT_TRUE(StartsWith(e->Raw(), "<" + std::to_string(c.facility * 8 + c.severity) + ">")) << e->Raw();
            // The header as logger writes it, field by field.
            EXPECT_EQ(e->Host(), rfc5424 ? host : host.substr(0, host.find('.')));  // logger's own choice
            EXPECT_EQ(e->App(), "qmcheck");
            EXPECT_EQ(e->ProcId(), "4321");
            EXPECT_EQ(e->MsgId(), rfc5424 ? "LINKCHK" : "");
            EXPECT_FALSE(e->SenderTime().empty());
            EXPECT_EQ(e->StructuredData().find("[origin@32473 ip=\"10.0.0.1\"]") != std::string_view::npos, rfc5424)
                << e->StructuredData();
            EXPECT_EQ(e->Body(), text);
        }
    }
    EXPECT_EQ(log_->CountExternal(), 8u);
    EXPECT_EQ(core_.counters.datagramsReceived.load(), 8u);
}

// Whatever the listener's param: a hello is answered with the exact reply
// from the listener's port, other control datagrams are only counted, and the
// packet filter (when on) lets through only lines that begin with a priority.
TEST_F(Collector, ControlExchangeAndPacketFilter) {
    const std::string ok = kOk;
    for (const uint8_t param : {uint8_t(0), uint8_t(kPacketFilter), uint8_t(kPacketFilter | kServerCheck)}) {
        SCOPED_TRACE(int(param));
        const bool filter = param & kPacketFilter;
        ListenerRecord record = LocalListener(0, param);
        record.server = "127.0.0.2";  // nobody there; the check period is far longer than this test
        module_ = std::make_unique<CollectorModule>(core_);
        const uint16_t port = StartOne(record);
        const size_t eventsBefore = log_->CountExternal();
        const uint64_t intakeBefore = core_.events->MessageCounter();
        const uint64_t receivedBefore = core_.counters.datagramsReceived.load();
        const uint64_t bytesBefore = core_.counters.bytesReceived.load();
        const uint64_t sentBefore = core_.counters.datagramsSent.load();
        const uint64_t sentBytesBefore = core_.counters.bytesSent.load();

        UdpPeer client;
        for (const char* hello : {"$$$HI", "$$$HIxyz"}) {
            ASSERT_TRUE(client.SendTo(port, hello));
            sockaddr_in from{};
            EXPECT_EQ(client.Receive(2s, &from), ok) << hello;
            EXPECT_EQ(ntohs(from.sin_port), port);
        }
        // Control datagrams other than a hello, then lines for the filter to
        // judge ("$$$H" is too short to be a control datagram).
        const std::string tag = std::to_string(param);
        const std::vector<std::string> sent = {"$$$OK", ok,     "$$$XY", "$$$ok",  "$$$HE", "$$$<13>x", "$$$H",
                                               "<13>",  " <13>leading blank " + tag, "<13>xy", "plain " + tag,
                                               "<13>closing " + tag};
        size_t bytes = 5 + 8;  // the hellos
        for (const std::string& s : sent) {
            ASSERT_TRUE(client.SendTo(port, s));
            bytes += s.size();
        }
        ASSERT_TRUE(log_->WaitForMessage("closing " + tag));
        EXPECT_FALSE(client.Receive(50ms)) << "one answer per hello, none to anything else";
        EXPECT_EQ(core_.counters.datagramsSent.load() - sentBefore, 2u);
        EXPECT_EQ(core_.counters.bytesSent.load() - sentBytesBefore, 2 * ok.size());
        EXPECT_EQ(core_.counters.datagramsReceived.load() - receivedBefore, sent.size() + 2);
        EXPECT_EQ(core_.counters.bytesReceived.load() - bytesBefore, bytes);
        // Filter on: only "<13>xy" and the closing line reach the intake (it
        // wants more than a bare priority too). Filter off: all six that are
        // not control datagrams do, and the parser keeps those with a
        // priority, the bare "<13>" as a record without a message.
        EXPECT_EQ(core_.events->MessageCounter() - intakeBefore, filter ? 2u : 6u);
        EXPECT_EQ(log_->CountExternal() - eventsBefore, filter ? 2u : 4u);
        EXPECT_EQ(log_->WaitForMessage("leading blank " + tag, 0ms).has_value(), !filter);
    }
    EXPECT_EQ(module_->Shared().submitRefused.load(), 0u);
}

TEST_F(Collector, OversizeDatagramsAreDroppedReportedCountedAndReceivingGoesOn) {
    CollectorCommon common;
    common.bufferSize = 64;
    const uint16_t port = StartOne(LocalListener(FreePort()), common);
    UdpPeer client;
    const std::string big = "<13>" + std::string(196, 'A');
    const std::string fits = "<13>" + std::string(56, 'F') + "64ok";       // exactly the buffer
    const std::string oneOver = "<13>" + std::string(55, 'G') + "65over";  // one byte more
    const std::string next = "<13>right after the big one", closing = "<13>after the boundary cases";

    ASSERT_TRUE(client.SendTo(port, big));
    ASSERT_TRUE(client.SendTo(port, next));
    ASSERT_TRUE(log_->WaitForMessage("right after the big one", 2s)) << "no error pause after an oversize datagram";
    const std::optional<EventRecord> report = log_->WaitForSystem("Проблемы при работе с сетью");
    ASSERT_TRUE(report);
    EXPECT_EQ(report->Message(), NetworkProblem(port, EMSGSIZE));
    EXPECT_EQ(report->severity, 3u);

    for (const std::string& s : {fits, oneOver, big, closing}) ASSERT_TRUE(client.SendTo(port, s));
    ASSERT_TRUE(log_->WaitForMessage("after the boundary cases"));
    EXPECT_TRUE(log_->WaitForMessage("64ok", 0ms)) << "a datagram of exactly the buffer size is whole";
    EXPECT_EQ(log_->CountExternal(), 3u) << "nothing longer is cut to size";
    EXPECT_EQ(module_->Shared().oversize.load(), 3u);
    // Reports are held to one a second; the counts are not.
    EXPECT_EQ(log_->CountSystem("Проблемы при работе с сетью"), 1u);
    EXPECT_EQ(core_.counters.datagramsReceived.load(), 6u);
    EXPECT_EQ(core_.counters.bytesReceived.load(),
              2 * big.size() + fits.size() + oneOver.size() + next.size() + closing.size());
}

TEST_F(Collector, AFloodBeyondTheIntakeWaitsInTheSocketAndOnlyTheSystemDropsWhatIsTold) {
    const uint16_t port = StartOne(LocalListener(FreePort()));
    // A writer that does not drain, and small bounds: the intake is full at once.
    core::IntakeBounds bounds;
    bounds.handOverLines = 64;
    bounds.drainHeadroomRecords = 100;
    bounds.undrainedBytes = 16 * 1024;
    core_.events->SetBounds(bounds);
    core_.events->SetDrainer(0, [] {});
    // Even when a check below fails, the listener must be able to stop.
    struct ClearAtEnd {
        core::EventCore& events;
        ~ClearAtEnd() { events.ClearDrainer(); }
    } clearAtEnd{*core_.events};

    // Far more than the intake's bounds, the listener's held lines and the
    // socket's buffer together can take.
    constexpr int kFlood = 60000;
    UdpPeer client;
    const std::string pad(280, 'p');
    for (int i = 0; i < kFlood; ++i) ASSERT_TRUE(client.SendTo(port, "<13>flood " + std::to_string(i) + " " + pad));

    // The kernel dropped what did not fit, the program counted it, and the
    // heap held no more than its bounds meanwhile.
    ASSERT_TRUE(WaitUntil([&] { return module_->Shared().kernelDrops.load() > 0; }));
    const core::IntakeBacklog held = core_.events->Backlog();
    EXPECT_LE(held.pendingLines, bounds.handOverLines + 8192);
    EXPECT_LE(held.undrainedRecords, bounds.drainHeadroomRecords + 256 + 8192);

    // Once the writer drains, every datagram is either an event or a drop
    // the system reported: nothing is lost inside the program.
    core_.events->ClearDrainer();
    EXPECT_TRUE(WaitUntil([&] {
        return log_->CountExternal() + module_->Shared().kernelDrops.load() == uint64_t(kFlood);
    }, 60s)) << log_->CountExternal() << " events, " << module_->Shared().kernelDrops.load() << " dropped";
    EXPECT_EQ(module_->Shared().submitRefused.load(), 0u);
    const std::optional<EventRecord> report = log_->WaitForSystem(NetworkProblem(port, ENOBUFS));
    ASSERT_TRUE(report);
    EXPECT_EQ(report->severity, 3u);
    // In the order they were sent.
    const std::vector<EventRecord> events = log_->Matching(EventLog::Of(core::kEventExternal, "flood "));
    int last = -1;
    for (const EventRecord& e : events) {
        const int n = std::stoi(std::string(e.Message().substr(6)));
        EXPECT_LT(last, n);
        last = n;
    }
}

TEST_F(Collector, BinaryAndEmptyDatagramsDoNotUpsetTheListener) {
    const uint16_t port = StartOne(LocalListener());
    UdpPeer client;
    const std::string binary("<13>bin\0ary\xff\xfe\x01 end", 18);
    const uint64_t intakeBefore = core_.events->MessageCounter();
    for (const std::string& s : {binary, std::string(6, '\0'), std::string(1, '\xff'), std::string(),
                                 std::string("<13>still listening")})
        ASSERT_TRUE(client.SendTo(port, s));
    ASSERT_TRUE(log_->WaitForMessage("still listening"));
    const std::optional<EventRecord> e = log_->WaitFor([](const EventRecord& r) { return StartsWith(r.Message(), "bin"); }, 0ms);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->rawLength, binary.size());
    EXPECT_EQ(core_.counters.datagramsReceived.load(), 5u);
    EXPECT_EQ(core_.events->MessageCounter() - intakeBefore, 4u) << "the binary ones are handed on, the empty one not";
    // An empty datagram is a sender's oddity, not an intake in trouble.
    EXPECT_EQ(module_->Shared().submitRefused.load(), 0u);
    EXPECT_EQ(module_->Shared().networkErrors.load(), 0u);
    ASSERT_TRUE(client.SendTo(port, "$$$HI"));
    EXPECT_EQ(client.Receive(2s), kOk) << "the control exchange still works";
}

// What a start runs: nothing with the service off; with it on, the first of
// two listeners on one address (the second reports the address in use) and
// not a disabled one; with no buffer, listeners that end at once.
TEST_F(Collector, StartRunsOnlyWhatCanRun) {
    const uint16_t port = FreePort();
    ListenerRecord disabled = LocalListener(FreePort());
    disabled.enable = false;
    for (const ListenerRecord& r : {LocalListener(port), LocalListener(port), disabled})
        ASSERT_TRUE(module_->AddRecord(r));
    CollectorCommon common;
    common.enableService = false;
    ASSERT_TRUE(module_->SetCommon(common));
    EXPECT_FALSE(module_->Start(Blocking::Yes));
    EXPECT_TRUE(log_->WaitForSystem("Служба коллектора отключена"));
    EXPECT_TRUE(UdpPeer("127.0.0.1", port).Ok()) << "nothing bound with the service off";

    common.enableService = true;
    ASSERT_TRUE(module_->SetCommon(common));
    EXPECT_TRUE(module_->Start(Blocking::Yes));
    EXPECT_EQ(module_->BoundPort(0), port);
    EXPECT_EQ(module_->BoundPort(1), 0);
    const std::optional<EventRecord> report = log_->WaitForSystem("Код: " + std::to_string(EADDRINUSE));
    ASSERT_TRUE(report);
    EXPECT_EQ(report->Message(), NetworkProblem(port, EADDRINUSE));
    ASSERT_TRUE(log_->WaitForSystem(Where(port) + "запущен"));
    EXPECT_EQ(log_->CountSystem("запущен"), 1u);
    EXPECT_TRUE(UdpPeer("127.0.0.1", disabled.Port()).Ok()) << "a disabled record binds nothing";
    EXPECT_TRUE(module_->Stop(Blocking::Yes));

    common.bufferSize = 0;
    ASSERT_TRUE(module_->SetCommon(common));
    EXPECT_TRUE(module_->Start(Blocking::Yes));
    EXPECT_TRUE(WaitUntil([&] { return log_->CountSystem(Where(port) + "остановлен") == 2; }, 20s));
    EXPECT_TRUE(WaitUntil([&] { return core_.counters.moduleThreads.load() == 0; }, 20s)) << "no Stop needed";
    EXPECT_EQ(log_->CountSystem(Where(port) + "запущен"), 2u);
    EXPECT_EQ(core_.counters.busyHandlers.load(), 0u);
}

TEST_F(Collector, StopIsPromptEvenWhileBlockedInReceiveAndFreesThePort) {
    const uint16_t port = FreePort();
    ListenerRecord record = LocalListener(port);
    record.recvTimeout = 0;  // receive without a time limit
    StartOne(record);
    UdpPeer client;
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        const std::string line = "before stop " + std::to_string(round);
        ASSERT_TRUE(client.SendTo(port, "<13>" + line));
        ASSERT_TRUE(log_->WaitForMessage(line));
        std::this_thread::sleep_for(50ms);  // the thread is back in its receive by now

        std::future<bool> stopping = std::async(std::launch::async, [&] { return module_->Stop(Blocking::Yes); });
        const bool prompt = stopping.wait_for(10s) == std::future_status::ready;
        if (!prompt) client.SendTo(port, "<13>a datagram to end the receive the stop did not end");
        EXPECT_TRUE(prompt) << "Stop waited for the blocked receive";
        EXPECT_TRUE(stopping.get());
        EXPECT_EQ(core_.counters.moduleThreads.load(), 0u);
        EXPECT_EQ(core_.counters.busyHandlers.load(), 0u);
        EXPECT_TRUE(WaitUntil([&] { return log_->CountSystem(Where(port) + "остановлен") == size_t(round); }, 20s));
        EXPECT_TRUE(UdpPeer("127.0.0.1", port).Ok()) << "the port is free again";
        EXPECT_FALSE(module_->Stop(Blocking::Yes)) << "nothing left to stop";

        // Started again on the same port, it receives again.
        ASSERT_TRUE(module_->Start(Blocking::Yes));
        EXPECT_EQ(module_->BoundPort(0), port);
        ASSERT_TRUE(WaitUntil([&] { return log_->CountSystem(Where(port) + "запущен") == size_t(round + 1); }, 20s));
    }
}

// A stop that cannot have the module's lock (a busy editor, a script's
// non-blocking call) changes nothing: the listener goes on receiving, and
// the service still starts and stops as usual afterwards.
TEST_F(Collector, AStopThatCannotTakeTheLockLeavesTheListenerRunning) {
    ListenerRecord record = LocalListener(FreePort());
    record.recvTimeout = 0;  // the loop looks at the running flag only after a datagram
    const uint16_t port = StartOne(record);
    {
        platform::ManualResetEvent held, release;
        std::thread editor([&] {
            std::lock_guard busy(module_->Lock());
            held.Set();
            release.Wait();
        });
        held.Wait();
        EXPECT_FALSE(module_->Stop(Blocking::No));
        release.Set();
        editor.join();
    }
    UdpPeer client;
    ASSERT_TRUE(client.SendTo(port, "<13>after the refused stop"));
    ASSERT_TRUE(log_->WaitForMessage("after the refused stop"));
    EXPECT_FALSE(module_->Start(Blocking::Yes)) << "already running";
    ASSERT_TRUE(client.SendTo(port, "<13>still received"));
    EXPECT_TRUE(log_->WaitForMessage("still received")) << "the listener's loop ended while it stayed registered";
    EXPECT_TRUE(module_->Stop(Blocking::Yes));
    EXPECT_TRUE(module_->Start(Blocking::Yes));
    EXPECT_TRUE(Handshake(client, port, 20s));
}

TEST_F(Collector, ServerCheckWarnsOnlyWhenThePeerStopsAnswering) {
    // The probe goes to the server at the listener's own port: the peer sits
    // on another loopback address with the same port number.
    const uint16_t port = FreePort();
    const UdpPeer peer("127.0.0.2", port);
    ASSERT_TRUE(peer.Ok()) << "errno " << peer.BindError();
    module_->Shared().serverCheckMs = 200;
    ListenerRecord record = LocalListener(port, kServerCheck);
    record.recvTimeout = 50;
    record.server = "127.0.0.2";
    StartOne(record);

    const auto probed = [&] {
        sockaddr_in from{};
        return peer.Receive(1s, &from) == "$$$HI" && ntohs(from.sin_port) == port;
    };
    // An answering peer gets no warning.
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(probed()) << i;
        ASSERT_TRUE(peer.SendTo(port, "$$$OK"));
    }
    EXPECT_EQ(log_->CountSystem("нет ответа от сервера"), 0u);

    // A silent one does, after the next probe; and probing goes on.
    ASSERT_TRUE(probed());
    const std::optional<EventRecord> report = log_->WaitForSystem("нет ответа от сервера");
    ASSERT_TRUE(report);
    EXPECT_EQ(report->Message(), Where(port) + "нет ответа от сервера 127.0.0.2:" + std::to_string(port));
    EXPECT_EQ(report->severity, 4u);
    EXPECT_TRUE(probed());
    // The counter is raised just after the send the peer has already seen.
    EXPECT_TRUE(WaitUntil([&] { return core_.counters.datagramsSent.load() >= 6u; }, 20s));
    EXPECT_EQ(log_->CountExternal(), 0u) << "the peer's answers are not events";
}

TEST_F(Collector, RsyslogForwardsLinesIntact) {
    if (!Rsyslog::Installed())
        GTEST_SKIP() << Rsyslog::kBinary << " is not installed (Debian package rsyslog): forwarding not checked";
    Rsyslog rsyslog(1, StartOne(LocalListener()));
    ASSERT_TRUE(rsyslog.WaitReady(10s)) << rsyslog.Log();

    UdpPeer client;
    std::set<std::string> sent;
    for (int i = 0; i < 20; ++i) {
        const std::string line = "<" + std::to_string(i * 8 + i % 8) + ">Jan 15 10:20:" + (i < 10 ? "0" : "") +
                                 std::to_string(i) + " qmhost qmtest[" + std::to_string(100 + i) +
                                 "]: forwarded line " + std::to_string(i) + " with  two spaces; a = b & c";
        ASSERT_TRUE(client.SendTo(rsyslog.Port(0), line));
        sent.insert(line);
    }
    const auto forwarded = [&] { return log_->Matching(EventLog::Of(core::kEventExternal, "forwarded line")); };
    ASSERT_TRUE(WaitUntil([&] { return forwarded().size() >= 20; }, 5s)) << rsyslog.Log();
    for (const EventRecord& e : forwarded()) {
        EXPECT_EQ(sent.erase(std::string(e.Raw())), 1u) << "not sent, or twice: " << e.Raw();
        const uint32_t priority = uint32_t(std::stoul(std::string(e.Raw().substr(1))));
        EXPECT_EQ(e.severity, priority & 7);
        EXPECT_EQ(e.facility, priority >> 3);
        EXPECT_EQ(e.Message(), e.Raw().substr(e.Raw().find('>') + 1));
        EXPECT_EQ(e.sender, "127.0.0.1");
    }
}

TEST_F(Collector, AHugeBufferSizeIsCappedAndAFailedAllocationStopsOnlyItsListener) {
    CollectorCommon common;
    common.bufferSize = UINT32_MAX;
    const uint16_t port = StartOne(LocalListener(FreePort()), common);
    EXPECT_EQ(module_->Common()->bufferSize, kMaxDatagramBytes);
    UdpPeer client;
    ASSERT_TRUE(client.SendTo(port, "<13>through the capped buffer"));
    EXPECT_TRUE(log_->WaitForMessage("through the capped buffer"));
    EXPECT_TRUE(module_->Stop(Blocking::Yes));

#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer cannot run under an address-space limit";
#else
    // A listener handed a size the module would have capped, with too little
    // address space left for its buffer: it reports and stops, the process lives.
    struct LimitGuard {
        rlimit old{};
        LimitGuard() {
            ::getrlimit(RLIMIT_AS, &old);
            long pages = 0;
            if (FILE* f = std::fopen("/proc/self/statm", "r")) {
                if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
                std::fclose(f);
            }
            const rlim_t room = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + (rlim_t{1} << 30);
            const rlimit limit{std::min(room, old.rlim_max), old.rlim_max};
            ::setrlimit(RLIMIT_AS, &limit);
        }
        ~LimitGuard() { ::setrlimit(RLIMIT_AS, &old); }
    };
    CollectorShared shared;
    shared.running = true;
    {
        LimitGuard limit;
        Listener listener(core_, shared, LocalListener(), common);
        ASSERT_TRUE(listener.Started());
        EXPECT_TRUE(WaitUntil([&] { return shared.threadCount.load() == 0 && log_->CountSystem("остановлен") >= 2; }, 10s));
    }
    EXPECT_TRUE(log_->WaitForSystem("Системная ошибка. Код: " + std::to_string(ENOMEM)));
#endif
}

void PutU32(std::vector<uint8_t>& rec, size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) rec[offset + i] = uint8_t(v >> (8 * i));
}

// The older layout: a buffer size no datagram needs is capped as in the current one.
TEST(CollectorSettings, LegacySectionIsReadAndTheNextSaveIsCurrent) {
    TempDir home("qm-colset");
    core::Config config(home.path());
    {
        core::SettingsSection s = config.Open("mod_collector", "mod_collector");
        std::vector<uint8_t> common(kLegacyCommonSize, 0);
        common[0] = 1;     // EnableService
        common[1] = 0x5A;  // Param
        PutU32(common, 4, 0xFFFFFFFF);
        PutU32(common, 8, 250);
        s.File().WriteStruct("mod_collector", "Common", common);
        s.File().WriteString("mod_collector", "Count", "2");
        for (int i = 0; i < 2; ++i) {
            std::vector<uint8_t> rec(kLegacyListenerSize, 0);
            rec[0] = uint8_t(i == 0);
            for (const auto& [offset, text] : {std::pair{2, i == 0 ? "127.0.0.1" : "10.0.0.1"}, {80, "127.0.0.2"}}) {
                const std::string units = platform::Utf8ToUtf16LEBytes(text);
                std::copy(units.begin(), units.end(), rec.begin() + offset);
            }
            rec[66] = kPacketFilter | kServerCheck;
            PutU32(rec, 68, 5514 + i);
            PutU32(rec, 72, 11);
            PutU32(rec, 76, 22);
            s.File().WriteStruct("mod_collector", "Item." + std::to_string(i), rec);
        }
        // A wrong-sized record is not a record.
        s.File().WriteStruct("mod_collector", "Item.2", std::vector<uint8_t>(10, 0));
        ASSERT_TRUE(s.Commit());
    }
    CollectorSettings loaded;
    LoadCollectorSettings(config.Open("mod_collector", "mod_collector"), loaded);
    const CollectorCommon& c = loaded.common;
    EXPECT_EQ(std::tie(c.enableService, c.param, c.bufferSize, c.errorTimeout),
              std::make_tuple(true, uint8_t(0x5A), kMaxDatagramBytes, 250u));
    ASSERT_EQ(loaded.records.size(), 2u);
    const ListenerRecord& r = loaded.records[0].record;
    EXPECT_EQ(std::tie(r.enable, r.name, r.sendTimeout, r.recvTimeout, r.server, r.param),
              std::make_tuple(true, std::string("127.0.0.1"), 11u, 22u, std::string("127.0.0.2"),
                              uint8_t(kPacketFilter | kServerCheck)));
    EXPECT_EQ(r.Port(), 5514);
    EXPECT_FALSE(loaded.records[1].record.enable);

    // Saved in the current form, a deleted record left out, and read back the same.
    loaded.records.MarkDeleted(1);
    core::SettingsSection out = config.BeginSave("mod_collector", "mod_collector");
    core::SaveCommonAndRecords(out, loaded.common, loaded.records);
    ASSERT_TRUE(out.Commit());
    const core::SettingsSection again = config.Open("mod_collector", "mod_collector");
    EXPECT_TRUE(again.IsCurrentForm());
    EXPECT_FALSE(again.File().Get("mod_collector", "Common"));
    EXPECT_EQ(again.File().Get("mod_collector", "Item.0-Port"), "8A1500009F");
    CollectorSettings reread;
    LoadCollectorSettings(again, reread);
    ASSERT_EQ(reread.records.size(), 1u);
    EXPECT_EQ(reread.records[0].record.server, "127.0.0.2");
    EXPECT_EQ(reread.common.bufferSize, kMaxDatagramBytes);
}

TEST(CollectorSettings, CommonBlockLoadsWholeOrNotAtAllAndAHugeBufferSizeIsCapped) {
    TempDir home("qm-colset");
    core::Config config(home.path());
    const auto load = [&](const std::function<void(platform::ProfileFile&)>& write) {
        core::SettingsSection s = config.BeginSave("mod_collector", "mod_collector");
        write(s.File());
        EXPECT_TRUE(s.Commit());
        CollectorSettings loaded;
        LoadCollectorSettings(config.Open("mod_collector", "mod_collector"), loaded);
        return loaded;
    };
    const uint8_t size[4] = {0, 1, 0, 0}, on[1] = {1}, huge[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    CollectorSettings loaded = load([&](platform::ProfileFile& f) {
        f.WriteStruct("mod_collector", "Common.BufferSize", size);   // EnableService missing
        f.WriteString("mod_collector", "ItemCount", "FFFFFFFF00");   // bad checksum: no records
        f.WriteStruct("mod_collector", "Item.0-Port", size);         // no Enable: not a record
    });
    EXPECT_EQ(loaded.common.bufferSize, 1024u);
    EXPECT_TRUE(loaded.common.enableService);
    EXPECT_EQ(loaded.records.size(), 0u);
    loaded = load([&](platform::ProfileFile& f) {
        f.WriteStruct("mod_collector", "Common.EnableService", on);
        f.WriteStruct("mod_collector", "Common.BufferSize", huge);
    });
    EXPECT_EQ(loaded.common.bufferSize, kMaxDatagramBytes);
}

}  // namespace
}  // namespace qm::transport
