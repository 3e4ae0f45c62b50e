// The SNMP layer and one poll, against a real snmpd on loopback and, for
// what snmpd cannot be made to send, a client that answers as told.
#include <gtest/gtest.h>

#include "polling/snmp/snmp_client.h"
#include "polling/snmp/snmp_poll.h"
#include "polling/snmp_agent.h"

namespace qm::polling::snmp {
namespace {

using polling::Reading;

constexpr const char* kMarker = " (!)";

struct Pushed {
    std::vector<std::pair<std::string, Reading>> values;
    int gaps = 0;
    ValueSink Sink() {
        return [this](std::optional<std::string_view> tag, std::optional<Reading> v) {
            if (tag && v) {
                values.emplace_back(std::string(*tag), *v);
            } else {
                ++gaps;
            }
        };
    }
};

class FakeClient : public SnmpClient {
public:
    std::optional<SnmpResponse> answer;
    std::optional<SnmpResponse> Get(const SnmpTarget&, const std::vector<std::string>&) override { return answer; }
};

OidEntry Entry(std::string tag, uint8_t correct = 0) {
    OidEntry e;
    e.value = ".1.3.6.1.2.1.1.1.0";
    e.tag = std::move(tag);
    e.correct = correct;
    return e;
}

class SnmpRealAgent : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testing::SnmpAgent::Installed()) GTEST_SKIP() << "snmpd is not installed (Debian package snmpd)";
        agent_ = std::make_unique<testing::SnmpAgent>();
        ASSERT_TRUE(agent_->Ready()) << "snmpd did not answer on " << agent_->Agent();
        client_ = MakeNetSnmpClient();
    }
    std::unique_ptr<testing::SnmpAgent> agent_;
    std::unique_ptr<SnmpClient> client_;
};

TEST(SnmpOid, DottedTextWithOrWithoutLeadingDot) {
    EXPECT_EQ(ParseOid(".1.3.6.1"), (std::vector<uint32_t>{1, 3, 6, 1}));
    EXPECT_EQ(ParseOid("1.3.6.1"), (std::vector<uint32_t>{1, 3, 6, 1}));
    EXPECT_EQ(ParseOid("1.3.4294967295"), (std::vector<uint32_t>{1, 3, 4294967295u}));
    for (const char* bad : {"", ".", "1", "1..3", "1.3.", "1.3.4294967296", "1.3.x", "sysName.0", " 1.3"})
        EXPECT_FALSE(ParseOid(bad)) << bad;
    EXPECT_EQ(AgentAddress("10.0.0.1:1161"), "10.0.0.1");
    EXPECT_EQ(AgentAddress("10.0.0.1"), "10.0.0.1");
}

TEST_F(SnmpRealAgent, TypedValuesOnePerOidInOrder) {
    const std::string p = testing::SnmpAgent::kPrivate;
    auto r = client_->Get(agent_->Target(), {"1.3.6.1.2.1.1.5.0", p + "1.0", p + "2.0", p + "3.0",
                                             ".1.3.6.1.2.1.31.1.1.1.6.1", ".1.3.6.1.2.1.4.20.1.1.127.0.0.1",
                                             p + "77.0"});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->errorStatus, 0);
    ASSERT_EQ(r->values.size(), 7u);
    EXPECT_EQ(r->values[0].type, kTypeOctetString);
    EXPECT_EQ(r->values[0].bytes, "quill-agent");
    EXPECT_EQ(r->values[1].type, kTypeInteger);
    EXPECT_EQ(static_cast<int64_t>(r->values[1].number), -42);
    EXPECT_EQ(r->values[2].type, kTypeCounter32);
    EXPECT_EQ(r->values[2].number, 1234u);
    EXPECT_EQ(r->values[3].type, kTypeTimeTicks);
    EXPECT_EQ(r->values[3].number, 8640000u);
    EXPECT_EQ(r->values[4].type, kTypeCounter64);
    EXPECT_EQ(r->values[5].type, kTypeIpAddress);
    EXPECT_EQ(r->values[5].bytes, std::string("\x7f\0\0\x01", 4));
    EXPECT_EQ(r->values[6].type, kTypeNoSuchObject);

    // A failed OID conversion and a wrong community are failed requests.
    EXPECT_FALSE(client_->Get(agent_->Target(), {"1.3.6.x"}));
    EXPECT_FALSE(client_->Get(agent_->Target("wrong", 200, 1), {"1.3.6.1.2.1.1.5.0"}));
}

TEST_F(SnmpRealAgent, PollFillsTheFormat) {
    const std::string p = testing::SnmpAgent::kPrivate;
    std::vector<OidEntry> entries = {Entry("desc"), Entry("int"), Entry("cnt", kCorrectDiv10), Entry("up"),
                                     Entry("num", kCorrectToInt), Entry("hex", kCorrectHex)};
    entries[1].value = p + "1.0";
    entries[2].value = p + "2.0";
    entries[2].enableMax = true;
    entries[2].maxVal = 1234;  // inclusive
    entries[3].value = p + "3.0";
    entries[4].value = p + "4.0";
    entries[5].value = "1.3.6.1.2.1.1.5.0";
    Pushed pushed;
    const PollResult r = PollAgent(*client_, agent_->Target(), entries,
                                   "[desc]; [int] [cnt] [up] [num] [hex] [int] [nope] {[int]*2}", kMarker,
                                   pushed.Sink());
    EXPECT_EQ(r.code, kPollWarning);
    // The device's '|' can no longer start a relay suffix; its braces are
    // worked out like the format's own.
    EXPECT_EQ(r.text,
              "Agent\xC2\xA6" "forged %n 2.00; -42 123.4 (!) 1 day 00:00:00 -17 71-75-69-6C-6C-2D-61-67-65-6E-74 -42 "
              "[nope] -84.00");
    ASSERT_EQ(pushed.values.size(), 4u);
    EXPECT_EQ(pushed.values[0], std::make_pair(std::string("int"), Reading::I32(-42)));
    EXPECT_EQ(pushed.values[1], std::make_pair(std::string("cnt"), Reading::U32(1234)));
    EXPECT_EQ(pushed.values[2], std::make_pair(std::string("up"), Reading::U32(8640000)));
    EXPECT_EQ(pushed.values[3], std::make_pair(std::string("num"), Reading::I32(-17)));
    EXPECT_EQ(pushed.gaps, 0);

    // A wrong community: a failed poll with one gap.
    Pushed failed;
    EXPECT_EQ(PollAgent(*client_, agent_->Target("wrong", 200, 1), entries, "[desc]", kMarker, failed.Sink()).code,
              kPollFailed);
    EXPECT_EQ(failed.gaps, 1);
}

// What snmpd cannot be made to send, over the wire from snmpsimd: the
// extremes of each number type, a binary string, a typed address and an
// exception in the middle of the answer.
TEST(SnmpSimulatedAgent, ExtremeAndBinaryValuesSurviveTheWire) {
    if (!testing::SnmpSimulator::Installed()) GTEST_SKIP() << "snmpsimd is not installed (Debian package snmpsim)";
    const testing::SnmpSimulator sim(
        "1.3.6.1.2.1.1.1.0|4|Sim agent|forged %n {2*3}\n"
        "1.3.6.1.2.1.1.5.0|4|simhost\n"
        "1.3.6.1.4.1.99.1.0|2|-2147483648\n"
        "1.3.6.1.4.1.99.2.0|70|18446744073709551615\n"
        "1.3.6.1.4.1.99.3.0|4x|0a002c\n"
        "1.3.6.1.4.1.99.4.0|64|192.0.2.7\n"
        "1.3.6.1.4.1.99.5.0|66|4294967295\n"
        "1.3.6.1.4.1.99.6.0|4| 2500 units\n");
    ASSERT_TRUE(sim.Ready()) << "snmpsimd did not answer on " << sim.Agent();
    std::vector<OidEntry> entries = {Entry("desc"), Entry("min"), Entry("big"), Entry("hex", kCorrectHex),
                                     Entry("ip"), Entry("gauge"), Entry("num", kCorrectDiv100), Entry("none")};
    for (int i = 1; i <= 7; ++i) entries[i].value = "1.3.6.1.4.1.99." + std::to_string(i == 7 ? 9 : i) + ".0";
    entries[2].enableMax = true;
    entries[2].maxVal = -1;  // widened with its sign: only 2^64-1 reaches it
    Pushed pushed;
    const auto client = MakeNetSnmpClient();
    const PollResult r = PollAgent(*client, sim.Target(), entries,
                                   "[desc]; [min] [big] [hex] [ip] [gauge] [num] [none]", kMarker, pushed.Sink());
    EXPECT_EQ(r.code, kPollWarning);
    EXPECT_EQ(r.text,
              "Sim agent\xC2\xA6" "forged %n 6.00; -2147483648 18446744073709551615 (!) 0A-00-2C 192.0.2.7 "
              "4294967295 25.0  (!)");
    const std::vector<std::pair<std::string, Reading>> expected = {
        {"min", Reading::I32(INT32_MIN)}, {"big", Reading::U64(UINT64_MAX)},
        {"gauge", Reading::U32(UINT32_MAX)}, {"num", Reading::I32(2500)}};
    EXPECT_EQ(pushed.values, expected);
    EXPECT_EQ(pushed.gaps, 0);
}

TEST(SnmpPoll, WhatTheAgentSendsIsReadWithinItsBounds) {
    FakeClient client;
    SnmpResponse answer;
    SnmpValue big{kTypeCounter64, {}, 0x8000000000000001ull};
    SnmpValue octets{kTypeOctetString, std::string("\x0A\0\x2C", 3), 0};
    answer.values = {big, octets};
    client.answer = answer;
    std::vector<OidEntry> entries = {Entry("big"), Entry("hex", kCorrectHex), Entry("more")};
    entries[0].enableMin = true;
    entries[0].minVal = -1;  // widened with its sign: every value is at most 2^64-1
    Pushed pushed;
    // Fewer bindings than entries: the missing one keeps its placeholder.
    PollResult r = PollAgent(client, {}, entries, "[big] [hex] [more]", kMarker, pushed.Sink());
    EXPECT_EQ(r.text, "9223372036854775809 (!) 0A-00-2C [more]");
    EXPECT_EQ(r.code, kPollWarning);
    EXPECT_EQ(pushed.values.at(0).second, Reading::U64(0x8000000000000001ull));

    // An error status: one gap and every placeholder marked.
    answer.errorStatus = 2;
    client.answer = answer;
    Pushed errored;
    r = PollAgent(client, {}, entries, "[big]/[hex]/[big]", kMarker, errored.Sink());
    EXPECT_EQ(r.text, " (!)/ (!)/ (!)");
    EXPECT_EQ(r.code, kPollWarning);
    EXPECT_EQ(errored.gaps, 1);
    EXPECT_TRUE(errored.values.empty());
}

TEST(SnmpValueText, TypeTable) {
    OidEntry plain = Entry("t");
    EXPECT_EQ(MakeValueText({kTypeTimeTicks, {}, 360000}, plain, kMarker).text, "01:00:00");
    EXPECT_EQ(MakeValueText({kTypeTimeTicks, {}, 8640000 * 3 + 6100}, plain, kMarker).text, "3 day 00:01:01");
    EXPECT_FALSE(MakeValueText({kTypeOctetString, {}, 0}, plain, kMarker).text);
    EXPECT_FALSE(MakeValueText({kTypeNull, {}, 0}, plain, kMarker).text);
    OidEntry limits = Entry("t", kCorrectDiv1000);
    limits.enableMin = true;
    limits.minVal = -5;
    const ValueText low = MakeValueText({kTypeInteger, {}, static_cast<uint64_t>(int64_t{-5})}, limits, kMarker);
    EXPECT_EQ(low.text, "-0.0 (!)");
    EXPECT_TRUE(low.breach);
    // A decimal read stops at the end of the bytes, not at a NUL.
    EXPECT_EQ(MakeValueText({kTypeOctetString, std::string("12", 2), 0}, Entry("t", kCorrectDiv100), kMarker).text,
              "0.1");
    EXPECT_EQ(MakeValueText({kTypeOctetString, "99999999999", 0}, Entry("t", kCorrectToInt), kMarker).text,
              "2147483647");
}

}  // namespace
}  // namespace qm::polling::snmp
