// The value collector: its shared per-vendor limit, its tags and gaps, its
// copies and its threads.
#include "core/value_collector.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace qm::core {
namespace {

// A collector whose limit and clock the test turns.
struct Fixture {
    uint32_t limit = 5000;
    uint64_t now = 1000;
    platform::LockStats stats;
    ValueCollector values{[this] { return limit; }, &stats, [this] { return now; }};
};

std::vector<int64_t> Values(const ValueRead& read) {
    std::vector<int64_t> out;
    for (const ValueSample& s : read.samples) out.push_back(s.gap ? -999 : s.value.AsSigned());
    return out;
}

TEST(ValueCollector, TheLimitIsSharedPerVendorAndKeepsTheNewestInOrder) {
    Fixture f;
    // L = 0 switches the collector off.
    f.limit = 0;
    EXPECT_FALSE(f.values.Push("", "dev", "t", Reading::I32(1)));
    EXPECT_FALSE(f.values.Read("dev", "t").vendorFound);

    // L = 1 and L = 2 both keep just the newest sample.
    for (uint32_t limit : {1u, 2u}) {
        Fixture g;
        g.limit = limit;
        for (int i = 1; i <= 3; ++i) EXPECT_TRUE(g.values.Push("", "dev", "t", Reading::I32(i)));
        const ValueRead read = g.values.Read("dev", "t");
        EXPECT_EQ(read.vendorCount, 1u) << limit;
        EXPECT_EQ(Values(read), (std::vector<int64_t>{3})) << limit;
    }

    // The default: the 5000th push drops the oldest, the count stays 4999;
    // the order survives the ring going round several times.
    for (int i = 0; i < 12345; ++i) f.limit = 5000, f.values.Push("", "dev", "t", Reading::I64(i));
    ValueRead read = f.values.Read("dev", "t");
    ASSERT_EQ(read.vendorCount, 4999u);
    ASSERT_EQ(read.samples.size(), 4999u);
    for (size_t i = 0; i < read.samples.size(); ++i) ASSERT_EQ(read.samples[i].value.AsSigned(), 12345 - 4999 + static_cast<int64_t>(i));

    // A smaller limit later does not shrink what is held: the count stays
    // and each push replaces the oldest, as the array always did.
    f.limit = 10;
    f.values.Push("", "dev", "t", Reading::I64(-1));
    read = f.values.Read("dev", "t");
    EXPECT_EQ(read.vendorCount, 4999u);
    EXPECT_EQ(read.samples.back().value.AsSigned(), -1);
    EXPECT_EQ(read.samples.front().value.AsSigned(), 12345 - 4999 + 1);

    // Ten tags at the same rate share one vendor's room.
    Fixture h;
    h.limit = 101;
    for (int round = 0; round < 50; ++round)
        for (int tag = 0; tag < 10; ++tag) h.values.Push("", "sw", "t" + std::to_string(tag), Reading::U32(round));
    EXPECT_EQ(h.values.Read("sw", "t3").vendorCount, 100u);
    EXPECT_EQ(h.values.Read("sw", "t3").samples.size(), 10u);
}

TEST(ValueCollector, TagsCarryTheModuleAndGapsShowInEveryTagOfTheirVendorOnly) {
    Fixture f;
    f.values.Push("mod_icmp", "10.0.0.1", "msec", Reading::I32(5));
    EXPECT_TRUE(f.values.Read("10.0.0.1", "msec").vendorFound);
    EXPECT_TRUE(f.values.Read("10.0.0.1", "msec").samples.empty());
    EXPECT_EQ(Values(f.values.Read("10.0.0.1", "msec (mod_icmp)")), (std::vector<int64_t>{5}));

    f.now = 1001;
    f.values.Push("mod_icmp", "10.0.0.1", std::nullopt, std::nullopt);  // vendor-wide gap
    f.values.Push("mod_snmp", "10.0.0.1", "ifIn", std::nullopt);        // a tagged gap: still a gap for all
    f.values.Push("mod_snmp", "10.0.0.1", "ifIn", Reading::U64(UINT64_MAX));
    f.values.Push("mod_icmp", "10.0.0.2", std::nullopt, std::nullopt);

    const ValueRead icmp = f.values.Read("10.0.0.1", "msec (mod_icmp)");
    ASSERT_EQ(icmp.samples.size(), 3u);
    EXPECT_FALSE(icmp.samples[0].gap);
    EXPECT_EQ(icmp.samples[0].time, 1000u);
    EXPECT_TRUE(icmp.samples[1].gap);
    EXPECT_EQ(icmp.samples[1].tag, nullptr);
    EXPECT_EQ(icmp.samples[1].time, 1001u);
    EXPECT_TRUE(icmp.samples[2].gap);
    EXPECT_EQ(*icmp.samples[2].tag, "ifIn (mod_snmp)");
    EXPECT_EQ(icmp.vendorCount, 4u);

    const ValueRead snmp = f.values.Read("10.0.0.1", "ifIn (mod_snmp)");
    ASSERT_EQ(snmp.samples.size(), 3u);
    EXPECT_EQ(snmp.samples[2].value.Text(), "18446744073709551615");

    // Vendors are compared exactly.
    EXPECT_FALSE(f.values.Read("10.0.0.1 ", "msec (mod_icmp)").vendorFound);
    f.values.Push("", "Router", "t", Reading::I32(1));
    EXPECT_FALSE(f.values.Read("router", "t").vendorFound);
    EXPECT_EQ(f.values.Vendors(), (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "Router"}));
    EXPECT_EQ(f.values.Tags("10.0.0.1"), (std::vector<std::string>{"msec (mod_icmp)", "ifIn (mod_snmp)"}));
}

TEST(ValueCollector, CopiesOutliveTheStoreAndPushesFromManyThreadsAreAllCounted) {
    Fixture f;
    f.values.Push("Core", "127.0.0.1", "_memory", Reading::I64(INT64_MIN));
    ValueRead read = f.values.Read("127.0.0.1", "_memory (Core)");
    f.values.Release();
    ASSERT_EQ(read.samples.size(), 1u);
    EXPECT_EQ(*read.samples[0].tag, "_memory (Core)");
    EXPECT_EQ(read.samples[0].value.Text(), "-9223372036854775808");
    EXPECT_FALSE(f.values.Read("127.0.0.1", "_memory (Core)").vendorFound);

    f.limit = 100000;
    std::vector<std::thread> pushers;
    for (int t = 0; t < 4; ++t)
        pushers.emplace_back([&f, t] {
            for (int i = 0; i < 5000; ++i) f.values.Push("", "dev", "t" + std::to_string(t), Reading::I32(i));
        });
    std::atomic<bool> reading{true};
    std::thread reader([&] {
        while (reading) f.values.Read("dev", "t0");
    });
    for (auto& p : pushers) p.join();
    reading = false;
    reader.join();
    read = f.values.Read("dev", "t0");
    EXPECT_EQ(read.vendorCount, 20000u);
    EXPECT_EQ(read.samples.size(), 5000u);
    EXPECT_EQ(f.stats.users.load(), 0u);
}

}  // namespace
}  // namespace qm::core
