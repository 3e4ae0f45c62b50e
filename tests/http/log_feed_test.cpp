// The JSON feed on a core of its own: the cursor a follower keeps (since,
// next, more) across types it is not given and across drains, the header
// fields, and strings that stay valid JSON whatever bytes they hold.
#include "http/log_feed.h"

#include <gtest/gtest.h>

#include "core/core_context.h"
#include "http/json_text.h"
#include "http_test_support.h"

namespace qm::http {
namespace {

using namespace qm::testing;

std::string JsonOf(std::string_view text) {
    std::string out;
    AppendJsonString(out, text);
    return out;
}

TEST(JsonText, ControlCharactersAndBadBytesBecomeValidJson) {
    EXPECT_EQ(JsonOf("a\"b\\c\x01\t\n\x7f z"), R"("a\"b\\c\u0001\u0009\u000a\u007f z")");
    // A lone byte of a longer sequence, a truncated sequence, an encoded
    // surrogate and an overlong '/': one U+FFFD per bad byte; good UTF-8 stays.
    EXPECT_EQ(JsonOf("\xff|\xc3|\xed\xa0\x80|\xc0\xaf|\xd1\x8f\xf0\x9f\x99\x82"),
              "\"\xEF\xBF\xBD|\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD|\xd1\x8f\xf0\x9f\x99\x82\"");
    std::string nul = "x";
    AppendJsonStringOrNull(nul, "");
    AppendJsonString(nul, std::string_view("\0", 1));
    EXPECT_EQ(nul, "xnull\"\\u0000\"");
}

class LogFeedTest : public ::testing::Test {
protected:
    void SetUp() override { core_.events = std::make_unique<core::EventCore>(core_.counters); }
    void TearDown() override { core_.events->Shutdown(); }

    void Send(std::string_view line) {
        ASSERT_EQ(core_.events->Submit(core::kEventExternal, core::kNoSeverity, line, Loopback(0, "10.0.0.7")), core::kOk);
    }
    void Settle() { ASSERT_TRUE(core_.events->Settle(20000)); }
    // The answer's cursor fields and the ids of its events.
    std::string Cursor(std::string_view query) {
        return JsonEval(LogFeed(core_, query, kExportedTypes),
                        "[d['drained'], d['newest'], d['next'], d['more'], [e['id'] for e in d['events']]]");
    }

    static constexpr uint8_t kExportedTypes = core::kEventExternal | core::kEventInternal;
    core::CoreContext core_;
};

TEST_F(LogFeedTest, AFollowerGetsEveryEventOnceAndSeesWhatADrainTook) {
    for (int i = 1; i <= 5; ++i) Send("<14>line " + std::to_string(i));
    Settle();
    ASSERT_EQ(core_.events->Report(6, "the program's own"), core::kOk);  // 6, not exported
    Settle();
    Send("no priority: refused");  // 7 is never a record
    Settle();
    Send("<14>line 8");
    Settle();

    // [drained, newest, next, more, ids]
    EXPECT_EQ(Cursor("since=0&limit=2"), "[0, 8, 2, true, [1, 2]]");
    EXPECT_EQ(Cursor("limit=10&since=2"), "[0, 8, 8, false, [3, 4, 5, 8]]");
    EXPECT_EQ(Cursor("since=5&limit=1"), "[0, 8, 8, false, [8]]") << "a record of another type is passed over";
    EXPECT_EQ(Cursor("since=8"), "[0, 8, 8, false, []]");
    EXPECT_EQ(Cursor("limit=2"), "[0, 8, 8, false, [8]]") << "no since: the newest records";
    EXPECT_EQ(Cursor("since=x&limit=0"), "[0, 8, 8, false, [8]]") << "a bad number counts as none, the limit as 1";

    std::vector<core::EventPtr> taken;
    ASSERT_EQ(core_.events->Drain(taken, platform::Blocking::Yes), core::kOk);
    EXPECT_EQ(Cursor(""), "[8, 8, 8, false, []]") << "an empty queue: follow from the newest number";
    Send("<14>line 9");
    Send("<14>line 10");
    Settle();
    // A follower at 8 lost nothing; one still at 3 sees that 4 to 8 were drained.
    EXPECT_EQ(Cursor("since=8"), "[8, 10, 10, false, [9, 10]]");
    EXPECT_EQ(Cursor("since=3&limit=1"), "[8, 10, 9, true, [9]]");

    // A long queue is searched, not read from its start.
    for (int i = 0; i < 450; ++i) Send("<14>bulk " + std::to_string(i));
    Settle();
    EXPECT_EQ(Cursor("since=300&limit=3"), "[8, 460, 303, true, [301, 302, 303]]");
    EXPECT_EQ(Cursor("since=459&limit=1000"), "[8, 460, 460, false, [460]]");
    EXPECT_EQ(JsonEval(LogFeed(core_, "since=0&limit=5000", kExportedTypes), "len(d['events'])"), "452")
        << "the queue's 452 records, within the largest limit";
}

TEST_F(LogFeedTest, EventsCarryTheirHeaderFieldsAndRunsTellNumberingsApart) {
    Send("<165>1 2003-10-11T22:14:15.003Z mymachine evntslog 42 ID47 [exampleSDID@32473 iut=\"3\"] An application event");
    Send("<13>Oct 11 22:14:15 host2 su[77]: 'su root' failed");
    Send("<11>plain \x01text");
    Settle();
    const std::string feed = LogFeed(core_, "since=0", kExportedTypes);
    EXPECT_EQ(JsonEval(feed, "[[e[k] for k in ('senderTime', 'host', 'app', 'procid', 'msgid', 'structuredData', 'body')]"
                             " for e in d['events']]"),
              "[[\"2003-10-11T22:14:15.003Z\", \"mymachine\", \"evntslog\", \"42\", \"ID47\", "
              "\"[exampleSDID@32473 iut=\\\"3\\\"]\", \"An application event\"], "
              "[\"Oct 11 22:14:15\", \"host2\", \"su\", \"77\", null, null, \"'su root' failed\"], "
              "[null, null, null, null, null, null, \"plain \\u0001text\"]]");
    EXPECT_EQ(JsonEval(feed, "[[e[k] for k in ('type', 'sender', 'severity', 'severityName', 'facility', 'facilityName',"
                             " 'relayed', 'charset')] for e in d['events']][0]"),
              "[\"external\", \"10.0.0.7\", 5, \"notice\", 20, \"local4\", false, \"UTF-8\"]");
    EXPECT_EQ(JsonEval(feed, "[d['events'][2]['message'], d['started']]"), "[\"plain \\u0001text\", null]");
    // An ISO 8601 receive time with the local offset.
    EXPECT_EQ(JsonEval(feed, "__import__('re').fullmatch(r'\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d',"
                             " d['events'][0]['time']) is not None"),
              "true");

    core::CoreContext other;
    other.events = std::make_unique<core::EventCore>(other.counters);
    EXPECT_NE(JsonEval(feed, "d['run']"), JsonEval(LogFeed(other, "", kExportedTypes), "d['run']"));
    EXPECT_EQ(JsonEval(feed, "d['run']"), JsonEval(LogFeed(core_, "", kExportedTypes), "d['run']"));
    other.events->Shutdown();
}

}  // namespace
}  // namespace qm::http
