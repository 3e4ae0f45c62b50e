#include "core/syslog_header.h"

#include <gtest/gtest.h>

#include <string>

namespace qm::core {
namespace {

struct HeaderTexts {
    HeaderForm form;
    std::string time, host, app, procId, msgId, data, body;
};

HeaderTexts Read(std::string_view message) {
    const SyslogHeader h = ParseSyslogHeader(message);
    return {h.form,
            std::string(h.time.In(message)),
            std::string(h.host.In(message)),
            std::string(h.app.In(message)),
            std::string(h.procId.In(message)),
            std::string(h.msgId.In(message)),
            std::string(h.data.In(message)),
            std::string(message.substr(h.bodyAt))};
}

void ExpectHeader(std::string_view message, const HeaderTexts& want) {
    SCOPED_TRACE(std::string(message));
    const HeaderTexts got = Read(message);
    EXPECT_EQ(got.form, want.form);
    EXPECT_EQ(got.time, want.time);
    EXPECT_EQ(got.host, want.host);
    EXPECT_EQ(got.app, want.app);
    EXPECT_EQ(got.procId, want.procId);
    EXPECT_EQ(got.msgId, want.msgId);
    EXPECT_EQ(got.data, want.data);
    EXPECT_EQ(got.body, want.body);
}

constexpr HeaderForm k5424 = HeaderForm::kRfc5424;
constexpr HeaderForm k3164 = HeaderForm::kRfc3164;
constexpr HeaderForm kNone = HeaderForm::kNone;

// The message texts as they follow "<PRI>" from the senders named.
TEST(SyslogHeader, Rfc5424AsSendersWriteIt) {
    // RFC 5424's own examples: nil fields, the BOM, structured data with
    // escapes, and no MSG at all.
    ExpectHeader("1 2003-10-11T22:14:15.003Z mymachine.example.com su - ID47 - \xEF\xBB\xBF'su root' failed",
                 {k5424, "2003-10-11T22:14:15.003Z", "mymachine.example.com", "su", "", "ID47", "", "'su root' failed"});
    ExpectHeader(R"(1 2003-10-11T22:14:15.003Z host evntslog - ID47 [exampleSDID@32473 iut="3" eventSource="Appl\"ic\]ation"][examplePriority@32473 class="high"] text)",
                 {k5424, "2003-10-11T22:14:15.003Z", "host", "evntslog", "", "ID47",
                  R"([exampleSDID@32473 iut="3" eventSource="Appl\"ic\]ation"][examplePriority@32473 class="high"])", "text"});
    ExpectHeader("1 2003-08-24T05:14:15.000003-07:00 192.0.2.1 myproc 8710 - -",
                 {k5424, "2003-08-24T05:14:15.000003-07:00", "192.0.2.1", "myproc", "8710", "", "", ""});
    // A Juniper router, and a header cut short after MSGID.
    ExpectHeader(R"(1 2007-09-25T15:40:19.123Z router mgd 3046 UI_DBASE_LOGOUT_EVENT [junos@2636.1.1.1.2.18 username="regress"] User 'regress' exiting)",
                 {k5424, "2007-09-25T15:40:19.123Z", "router", "mgd", "3046", "UI_DBASE_LOGOUT_EVENT",
                  R"([junos@2636.1.1.1.2.18 username="regress"])", "User 'regress' exiting"});
    ExpectHeader("1 - - - - ID1", {k5424, "", "", "", "", "ID1", "", ""});
    // Structured data left open is no structured data: the rest is body.
    ExpectHeader(R"(1 - h a - - [x@1 a="]" b)", {k5424, "", "h", "a", "", "", "", R"([x@1 a="]" b)"});
    // Not RFC 5424 after all: a version followed by words falls to the BSD form.
    ExpectHeader("1 apple 2 pears", {kNone, "", "", "", "", "", "", "1 apple 2 pears"});
    ExpectHeader("1 2003-10-11 host app - - - x", {kNone, "", "", "", "", "", "", "1 2003-10-11 host app - - - x"});
}

TEST(SyslogHeader, Rfc3164AndTheFormsDevicesSend) {
    ExpectHeader("Oct 11 22:14:15 mymachine su: 'su root' failed for lonvick on /dev/pts/8",
                 {k3164, "Oct 11 22:14:15", "mymachine", "su", "", "", "", "'su root' failed for lonvick on /dev/pts/8"});
    ExpectHeader("Feb  5 17:32:18 10.0.0.99 sshd[2112]: Accepted publickey",
                 {k3164, "Feb  5 17:32:18", "10.0.0.99", "sshd", "2112", "", "", "Accepted publickey"});
    // rsyslog's RSYSLOG_ForwardFormat: an RFC 3339 time in the BSD layout.
    ExpectHeader("2024-01-02T03:04:05.123456+01:00 web1 nginx[77]: GET /",
                 {k3164, "2024-01-02T03:04:05.123456+01:00", "web1", "nginx", "77", "", "", "GET /"});
    // No host name; a tag without its colon; no tag at all.
    ExpectHeader("Oct 11 22:14:15 cron[5]: job done", {k3164, "Oct 11 22:14:15", "", "cron", "5", "", "", "job done"});
    ExpectHeader("Oct 11 22:14:15 gw dhcpd[8] lease renewed", {k3164, "Oct 11 22:14:15", "gw", "dhcpd", "8", "", "", "lease renewed"});
    ExpectHeader("Oct 11 22:14:15 gw link up on port 3", {k3164, "Oct 11 22:14:15", "gw", "", "", "", "", "link up on port 3"});
    // Cisco IOS: a sequence number, the '*' of an unsynchronised clock,
    // milliseconds and a colon after the time; with the host named first;
    // with a year.
    ExpectHeader("81: *Mar  1 00:05:29.619: %SYS-5-CONFIG_I: Configured from console by console",
                 {k3164, "Mar  1 00:05:29.619", "", "%SYS-5-CONFIG_I", "", "", "", "Configured from console by console"});
    ExpectHeader("120: sw-core: Mar 12 10:01:02.333: %LINK-3-UPDOWN: Interface Gi0/1, changed state to up",
                 {k3164, "Mar 12 10:01:02.333", "sw-core", "%LINK-3-UPDOWN", "", "", "", "Interface Gi0/1, changed state to up"});
    ExpectHeader("Mar 12 2024 10:01:02: %ASA-6-302013: Built outbound TCP connection",
                 {k3164, "Mar 12 2024 10:01:02", "", "%ASA-6-302013", "", "", "", "Built outbound TCP connection"});
    // Only a tag: "TAG: text" still names the application.
    ExpectHeader("kernel: eth0 link up", {k3164, "", "", "kernel", "", "", "", "eth0 link up"});
    // Nothing to recognise: key=value firewalls, MikroTik topics, a plain
    // word with a colon inside, a month that is not one, an empty message.
    for (const char* plain : {R"(date=2024-01-02 time=03:04:05 devname="FG100" type="traffic")",
                              "dhcp,info dhcp-client on ether1 got IP address 10.1.1.5", "http://example.com/ down",
                              "Foo 11 22:14:15 host app: x", "Oct 11 22:14 host app: x", "", "   ",
                              "8\x11: *Mar  1 00:05:29.618: %SYS-5-CONFIG_I: a control byte is no host name"}) {
        ExpectHeader(plain, {kNone, "", "", "", "", "", "", plain});
    }
}

// A header in the part of a long message a 16-bit place cannot reach is
// left out rather than pointing at the wrong text.
TEST(SyslogHeader, FieldsPastTheReachOfAPlaceAreLeftOut) {
    const std::string data = "[x@1 a=\"" + std::string(70000, 'z') + "\"]";
    const std::string message = "1 - host app - - " + data + " tail";
    const HeaderTexts got = Read(message);
    EXPECT_EQ(got.host, "host");
    EXPECT_EQ(got.data, "");
    EXPECT_EQ(got.body, "tail");
}

}  // namespace
}  // namespace qm::core
