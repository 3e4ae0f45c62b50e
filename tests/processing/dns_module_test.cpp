#include "processing/dns/dns_module.h"

#include <netdb.h>

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <map>
#include <set>
#include <thread>
#include <tuple>

#include "core/core_context.h"
#include "core/string_table.h"
#include "processing/dns/sender_address.h"
#include "processing/processing_test_support.h"
#include "support/temp_dir.h"

namespace qm::processing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::HostNameLookup;
using platform::Ipv4Bytes;
using Strings = std::vector<std::string>;

// The system lookup and the SNMP poller, faked: fixed answers, every question
// written down, and a gate that holds one question ("dns 10.0.0.1") until released.
struct FakeNetwork : SystemNameSource {
    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, std::string> dns, snmp;
    std::set<std::string> dnsAgain;  // no answer for these: a temporary failure
    Strings asked;
    std::string held;

    std::optional<std::string> Ask(const std::string& kind, const std::string& ip) {
        const std::string question = kind + " " + ip;
        std::unique_lock lock(mutex);
        asked.push_back(question);
        changed.notify_all();
        changed.wait(lock, [&] { return held != question; });
        const auto& answers = kind == "dns" ? dns : snmp;
        const auto it = answers.find(ip);
        return it == answers.end() ? std::nullopt : std::optional(it->second);
    }
    static std::string Ip(const Ipv4Bytes& a) {
        return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." + std::to_string(a[3]);
    }
    HostNameLookup Dns(const platform::SocketAddress& a) {
        if (auto name = Ask("dns", a.Text())) return {*name, 0, 0};
        std::lock_guard lock(mutex);
        return {{}, dnsAgain.count(a.Text()) ? EAI_AGAIN : EAI_NONAME, 0};
    }
    std::optional<std::string> SystemName(const Ipv4Bytes& a) override { return Ask("snmp", Ip(a)); }
    void Hold(const std::string& question) {
        std::lock_guard lock(mutex);
        held = question;
        changed.notify_all();
    }
    void AwaitAsked(size_t count) {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 5s, [&] { return asked.size() >= count; }));
    }
    Strings Asked() {
        std::lock_guard lock(mutex);
        return std::exchange(asked, {});
    }
};

class Dns : public ::testing::Test {
protected:
    void SetUp() override {
        core_.paths.resourceFolder = home_.path() / "Resource";
        fs::create_directories(core_.paths.resourceFolder);
        core_.texts = std::make_unique<core::TextTable>(core::BuiltinStrings());
        core_.events = std::make_unique<core::EventCore>(core_.counters);
        module_ = std::make_unique<DnsModule>(
            core_, [this](const platform::SocketAddress& a) { return net_.Dns(a); }, [this] { return nowMs_.load(); });
        module_->Load(core::SettingsSection({}, "mod_dns", {}));
    }
    void TearDown() override {
        net_.Hold({});
        module_.reset();
        core_.events->Shutdown();
    }
    void UseMethods(uint8_t param) {
        DnsResolver r = DefaultResolver();
        r.param = param;
        ASSERT_TRUE(module_->ReplaceRecord(0, r));
    }
    void Storage(const std::string& lines) { std::ofstream(core_.paths.resourceFolder / "name.conf") << "[CACHE]\n" << lines; }
    std::string Show(const std::string& sender) { return module_->NameFor(sender); }
    Strings Reports() {
        core_.events->Settle(2000);
        Strings out;
        core::QueueSlice slice;
        while (core_.events->ReadNext(reader_, platform::Blocking::Yes, slice) == core::kOk) {
            for (const core::EventPtr& e : slice.Records()) out.emplace_back(e->Message());
            slice.Release();
        }
        return out;
    }

    testing::TempDir home_{"qm-dns"};
    core::CoreContext core_;
    core::ReaderState reader_;
    FakeNetwork net_;
    std::atomic<uint64_t> nowMs_{1000};
    std::unique_ptr<DnsModule> module_;
};

TEST_F(Dns, DefaultResolverReadsLocalStorageAndRemembersUntilRefresh) {
    EXPECT_TRUE(module_->Record(0)->primary);
    Storage("10.0.0.1=\"  core switch \t\"\n");
    EXPECT_EQ(Show("10.0.0.1"), "core switch");
    EXPECT_EQ(Show("10.0.0.2"), "10.0.0.2");
    Storage("10.0.0.1=renamed\n10.0.0.2=edge\n");
    EXPECT_EQ(Show("10.0.0.1"), "core switch");
    EXPECT_EQ(Show("10.0.0.2"), "10.0.0.2");

    ASSERT_TRUE(module_->ScheduleRefresh());
    EXPECT_EQ(Reports(), Strings{"Запланировано обновление кэша службы определения имён"});
    EXPECT_EQ(Show("10.0.0.1"), "renamed");
    EXPECT_EQ(Show("10.0.0.2"), "edge");
    // Back to the earlier name: that one is shown from then on, and kept once.
    Storage("10.0.0.1=core switch\n");
    module_->ScheduleRefresh();
    EXPECT_EQ(Show("10.0.0.1"), "core switch");
    EXPECT_EQ(Show("10.0.0.1"), "core switch");
    EXPECT_EQ(module_->KnownNames("10.0.0.1"), (Strings{"renamed", "core switch"}));
    EXPECT_EQ(module_->Hits().localStorage, 4u);
    EXPECT_TRUE(net_.Asked().empty());
}

TEST_F(Dns, MethodsGoInOrderAndOnlyAddressesReachTheNetwork) {
    UseMethods(kDnsLocalStorage | kDnsSystemLookup | kDnsSnmp);
    Storage("10.0.0.1=from-file\n10.0.0.2=\nrelay-host=relayed\n");
    net_.dns = {{"10.0.0.2", "two.example"}, {"10.0.0.3", "10.9.9.9"}};  // .3 poses as another address
    net_.snmp = {{"10.0.0.3", "sw-three\r\n"}};
    EXPECT_EQ(Show("10.0.0.2"), "two.example");
    EXPECT_EQ(Show("10.0.0.3"), "10.0.0.3");  // no SNMP poller yet
    module_->AttachSystemNameSource(net_);   // which has the misses, and only them, asked again
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(Show("10.0.0.1"), "from-file");
        EXPECT_EQ(Show("10.0.0.2"), "two.example");
        EXPECT_EQ(Show("10.0.0.3"), "sw-three");
        EXPECT_EQ(Show("10.0.0.4"), "10.0.0.4");
        for (const char* sender : {"printer.lan", "10.0.0.01", "10.0.0", "10.0.0.1.5", "10.0.0.1:514", "256.0.0.1",
                                   "10.0.0.1|a2", ""}) {
            EXPECT_FALSE(ParseDottedIpv4(sender)) << sender;
            EXPECT_EQ(Show(sender), sender);
        }
        EXPECT_EQ(Show("relay-host"), "relayed");
    }
    EXPECT_EQ(net_.Asked(), (Strings{"dns 10.0.0.2", "dns 10.0.0.3", "dns 10.0.0.3", "snmp 10.0.0.3", "dns 10.0.0.4",
                                     "snmp 10.0.0.4"}));
    const DnsHits hits = module_->Hits();
    EXPECT_EQ(std::tie(hits.localStorage, hits.systemLookup, hits.snmp), std::make_tuple(2u, 1u, 1u));
}

TEST_F(Dns, AnIpv6SenderIsLookedUpByTheSystemInTheFormTheCollectorWrites) {
    UseMethods(kDnsSystemLookup | kDnsSnmp);
    module_->AttachSystemNameSource(net_);
    net_.dns = {{"2001:db8::7", "core-sw.example"}, {"2001:db8::8", "2001:db8::9"}};
    EXPECT_EQ(Show("2001:db8::7"), "core-sw.example");
    EXPECT_EQ(Show("2001:db8::8"), "2001:db8::8");  // a name that is another address is no name
    // Other spellings of an address are texts a sender chose: nothing is asked.
    for (const char* sender : {"2001:DB8::7", "2001:0db8::7", "[2001:db8::7]", "2001:db8::7%1x", "::ffff:10.0.0.5"})
        EXPECT_EQ(Show(sender), sender);
    // The SNMP poller's agents are IPv4 ones: an IPv6 sender is not asked of it.
    EXPECT_EQ(net_.Asked(), (Strings{"dns 2001:db8::7", "dns 2001:db8::8"}));
}

TEST_F(Dns, TemporaryFailuresAreRetriedAfterAWhileNoNameIsNot) {
    UseMethods(kDnsSystemLookup);
    Storage("10.0.0.8=from-file\n");  // not a method of this resolver
    net_.dnsAgain.insert("10.0.0.7");
    EXPECT_EQ(module_->Resolve("10.0.0.7").state, NameState::NotResolved);
    EXPECT_EQ(module_->Resolve("10.0.0.8").state, NameState::NotResolved);
    nowMs_ += kTemporaryFailureRetryMs - 1;
    EXPECT_EQ(Show("10.0.0.7"), "10.0.0.7");
    EXPECT_EQ(net_.Asked().size(), 2u);
    nowMs_ += 1;
    net_.dns["10.0.0.7"] = "seven";
    EXPECT_EQ(Show("10.0.0.7"), "seven");
    nowMs_ += 100 * kTemporaryFailureRetryMs;
    EXPECT_EQ(Show("10.0.0.8"), "10.0.0.8");
    EXPECT_EQ(net_.Asked(), Strings{"dns 10.0.0.7"});
}

TEST_F(Dns, LookupsRunOutsideTheLockOncePerAddressAndUnloadWaitsForThem) {
    UseMethods(kDnsSystemLookup | kDnsSnmp);
    net_.dns = {{"10.0.0.1", "slow.example"}, {"10.0.0.2", "quick.example"}};
    net_.Hold("dns 10.0.0.1");
    std::thread first([&] { EXPECT_EQ(Show("10.0.0.1"), "slow.example"); });
    net_.AwaitAsked(1);
    EXPECT_EQ(module_->Resolve("10.0.0.1").state, NameState::Unknown);  // not asked twice
    EXPECT_EQ(Show("10.0.0.2"), "quick.example");
    EXPECT_TRUE(module_->ScheduleRefresh());  // lock free; and not lost on the running lookup
    net_.Hold({});
    first.join();
    EXPECT_EQ(net_.Asked(), (Strings{"dns 10.0.0.1", "dns 10.0.0.2"}));
    EXPECT_EQ(Show("10.0.0.1"), "slow.example");
    EXPECT_EQ(net_.Asked(), Strings{"dns 10.0.0.1"});

    // Detaching the SNMP source waits for the lookup using it; unloading, for any lookup running.
    module_->AttachSystemNameSource(net_);
    net_.Hold("snmp 10.0.0.3");
    std::thread late([&] { Show("10.0.0.3"); });
    net_.AwaitAsked(2);
    auto detached = std::async(std::launch::async, [&] { module_->DetachSystemNameSource(); });
    EXPECT_EQ(detached.wait_for(100ms), std::future_status::timeout);
    net_.Hold("dns 10.0.0.5");
    std::thread last([&] { Show("10.0.0.5"); });
    late.join();
    detached.get();
    net_.AwaitAsked(3);
    auto unloaded = std::async(std::launch::async, [&] { module_.reset(); });
    EXPECT_EQ(unloaded.wait_for(100ms), std::future_status::timeout);
    net_.Hold({});
    last.join();
}

TEST_F(Dns, ResolverChoiceAndRecordChanges) {
    Storage("10.0.0.1=file-name\n");
    net_.dns["10.0.0.1"] = "dns-name";
    DnsResolver r = DefaultResolver();
    r.id = 1;
    ASSERT_TRUE(module_->ReplaceRecord(0, r));
    EXPECT_EQ(module_->Resolve("10.0.0.1").state, NameState::Unavailable);
    r.id = 0;
    r.cacheFile = "../name.conf";  // never outside the resource folder
    std::ofstream(home_.path() / "name.conf") << "[CACHE]\n10.0.0.1=outside\n";
    ASSERT_EQ(module_->AddRecord(r), 1u);
    EXPECT_EQ(module_->CacheFilePath(1), fs::path());
    EXPECT_EQ(Show("10.0.0.1"), "10.0.0.1");
    r.param = kDnsSystemLookup;  // other methods: the remembered miss is asked again
    ASSERT_TRUE(module_->ReplaceRecord(1, r));
    EXPECT_EQ(Show("10.0.0.1"), "dns-name");
    ASSERT_TRUE(module_->DeleteRecord(1));
    EXPECT_EQ(Show("10.0.0.1"), "10.0.0.1");
}

TEST_F(Dns, RefreshThatCannotGetTheLockSaysSo) {
    std::promise<void> held, done;
    std::thread holder([&] {
        platform::GuardedLock lock(module_->Lock(), core_.counters.locks, platform::Blocking::Yes);
        held.set_value();
        done.get_future().wait();
    });
    held.get_future().wait();
    EXPECT_FALSE(module_->ScheduleRefresh());
    done.set_value();
    holder.join();
    EXPECT_EQ(Reports(), Strings{"Не удалось запланировать обновление кэша службы определения имён. Повторите попытку позже"});
}

TEST(DnsNames, CleanedBoundedAndEvictedLeastRecentlyUsedFirst) {
    EXPECT_EQ(CleanName(" \t\r\nsw\r\n1\x7f \n"), "sw  1");
    EXPECT_EQ(CleanName(std::string(2000, 'n')), std::string(kMaxNameUnits, 'n'));
    // The pair of units the emoji needs does not fit; the space left before it goes too.
    const std::string name = std::string(kMaxNameUnits - 2, 'x');
    EXPECT_EQ(CleanName(name + " \xF0\x9F\x98\x80"), name);

    NameCache cache(2);
    const auto a = cache.Begin("a", 0), b = cache.Begin("b", 0);
    EXPECT_FALSE(cache.Begin("c", 0).lookup);  // both lookups running: nothing is dropped
    cache.Finish("a", a.ticket, {"name-a"}, 0);
    cache.Finish("b", b.ticket, {"name-b"}, 0);
    cache.Begin("a", 0);
    EXPECT_TRUE(cache.Begin("c", 0).lookup);  // b made room
    EXPECT_TRUE(cache.Names("b").empty());
    EXPECT_EQ(cache.Begin("a", 0).current.name, "name-a");
}

TEST(DnsSettings, LegacyFormIsReadAndSavedInTheCurrentForm) {
    testing::TempDir home("qm-dnsset");
    core::CoreContext core;
    core.config = std::make_unique<core::Config>(home.path());
    {
        core::SettingsSection s = core.config->Open("mod_dns", "mod_dns");
        std::vector<uint8_t> first(kLegacyResolverSize, 0), second(kLegacyResolverSize, 0);
        first[1] = 1, first[2] = kDnsSystemLookup, test::Put(first, 4, "Legacy"), test::Put(first, 68, "old.conf");
        second[0] = 1, second[2] = 0xE0, test::Put(second, 4, "Spare");
        s.File().WriteStruct("mod_dns", "Common", std::vector<uint8_t>{0});
        s.File().WriteString("mod_dns", "Count", "3");
        s.File().WriteStruct("mod_dns", "Item.0", first);
        s.File().WriteStruct("mod_dns", "Item.1", second);
        s.File().WriteStruct("mod_dns", "Item.2", std::vector<uint8_t>(10, 0));  // not a record
        ASSERT_TRUE(s.Commit());
    }
    auto loaded = [&] {
        auto m = std::make_unique<DnsModule>(core);
        m->LoadSection();
        return m;
    };
    auto module = loaded();
    EXPECT_FALSE(module->Common()->enableService);
    ASSERT_EQ(module->RecordCount(), 2u);
    const DnsResolver r0 = *module->Record(0), r1 = *module->Record(1);
    EXPECT_EQ(std::tie(r0.id, r0.enable, r0.param, r0.name, r0.cacheFile, r0.primary),
              std::make_tuple(uint8_t(0), true, uint8_t(kDnsSystemLookup), std::string("Legacy"), std::string("old.conf"), true));
    EXPECT_EQ(std::tie(r1.id, r1.enable, r1.param, r1.name, r1.cacheFile, r1.primary),
              std::make_tuple(uint8_t(1), false, uint8_t(0xE0), std::string("Spare"), std::string(), false));

    ASSERT_TRUE(module->DeleteRecord(0));
    ASSERT_TRUE(module->SaveSection());
    EXPECT_EQ(core.config->Open("mod_dns", "mod_dns").File().ReadString("mod_dns", "Item.0-StrName", 32), "Spare");
    module = loaded();
    ASSERT_EQ(module->RecordCount(), 1u);
    EXPECT_EQ(std::tie(module->Record(0)->param, module->Record(0)->primary), std::make_tuple(uint8_t(0xE0), true));
    EXPECT_FALSE(module->Common()->enableService);
}

}  // namespace
}  // namespace qm::processing
