// The script words of each module: what they change, what the echo prints.
#include <array>

#include "script/command_words.h"
#include "script/statement_lexer.h"

namespace qm::script {

namespace {

using P = PrintForm;

ModuleWords Dbase() {
    ModuleWords w;
    w.module = "mod_dbase";
    w.createsItems = false;
    w.reportsUnknownCall = true;
    w.printedCommon = {{"EventParam", "EventParam", P::Hex},
                       {"MsgLimit", "MsgLimit", P::Unsigned},
                       {"Timeout", "Timeout", P::Unsigned},
                       {"LastLogFile", "StrLastLog", P::Text},
                       {"LogFormat", "StrLogFormat", P::Text}};
    w.printedItem = {{"Delete", std::string(kDeleteMark), P::Signed},
                     {"Enable", "Enable", P::Signed},
                     {"LogNameFormat", "StrLogNameFormat", P::Text},
                     {"Name", "StrName", P::Text},
                     {"RotateSize", "RotateSize", P::Unsigned},
                     {"RotateMidnight", "RotateMidnight", P::Signed},
                     {"KeepFiles", "KeepFiles", P::Unsigned},
                     {"KeepDays", "KeepDays", P::Unsigned}};
    // Rotation and retention: sizes in MB, counts and days; 0 switches each off.
    w.item = {{{"delete", "del"}, Refused()},
              {{"enable", "en"}, Flag("Enable")},
              {{"name"}, Refused()},
              {{"nameformat", "namefmt"}, Text("StrLogNameFormat", 63)},
              {{"rotatesize", "rotate_size"}, Range("RotateSize", 0, 1048576, 0)},
              {{"rotatemidnight", "rotate_midnight"}, Flag("RotateMidnight")},
              {{"keepfiles", "keep_files"}, Range("KeepFiles", 0, 100000, 0)},
              {{"keepdays", "keep_days"}, Range("KeepDays", 0, 36500, 0)},
              {{"default", "reset"},
               Reset({{"Enable", "1"},
                      {"StrName", "Default"},
                      {"StrLogNameFormat", "log_%.2u%.2u%.2u_%.2u%.2u%.2u.log"},
                      {"RotateSize", "0"},
                      {"RotateMidnight", "0"},
                      {"KeepFiles", "0"},
                      {"KeepDays", "0"}})}};
    w.common = {{{"lastlog", "last_log"}, Text("StrLastLog", 63)},
                {{"format", "fmt"}, Text("StrLogFormat", 63)},
                {{"timeout", "tmo"}, Range("Timeout", 900, 120000, 10000)},
                {{"msglimit", "limit", "msg_limit"}, Range("MsgLimit", 100, 100000, 8000)},
                {{"event_external", "event_ext", "ext"}, Bit("EventParam", 0x20)},
                {{"event_internal", "event_int", "int"}, Bit("EventParam", 0x10)},
                {{"event_archive", "event_arch", "arch"}, Bit("EventParam", 0x08)},
                {{"default", "reset"},
                 Reset({{"Timeout", "10000"},
                        {"MsgLimit", "8000"},
                        {"StrLastLog", "log_last.log"},
                        {"StrLogFormat", "%s|a2;%s;%u %u %u %u %u %u %u;"},
                        {"EventParam", "56"}})}};
    w.call = {{{"start"}, CallAction::None}, {{"stop"}, CallAction::None}, {{"save"}, CallAction::Save}};
    return w;
}

ModuleWords Dns() {
    ModuleWords w;
    w.module = "mod_dns";
    w.createsItems = false;
    w.printedCommon = {{"EnableService", "EnableService", P::Signed}};
    w.printedItem = {{"Delete", std::string(kDeleteMark), P::Signed}, {"Enable", "Enable", P::Signed},
                     {"ID", "ID", P::Unsigned},                        {"Param", "Param", P::Hex},
                     {"Name", "StrName", P::Text},                     {"CacheFile", "StrCacheFile", P::Text}};
    w.item = {{{"delete", "del"}, Refused()},
              {{"enable", "en"}, Flag("Enable")},
              {{"name"}, Refused()},
              {{"filename", "cache_file"}, Text("StrCacheFile", 31)},
              {{"file"}, Bit("Param", 0x80)},
              {{"dns"}, Bit("Param", 0x40)},
              {{"snmp"}, Bit("Param", 0x20)},
              {{"default", "reset"},
               Reset({{std::string(kDeleteMark), "0"},
                      {"ID", "0"},
                      {"Enable", "1"},
                      {"Param", "128"},
                      {"StrName", "Default"},
                      {"StrCacheFile", "name.conf"}})}};
    w.common = {{{"enable", "en"}, Refused()}};
    w.call = {{{"update", "refresh"}, CallAction::Refresh}, {{"save"}, CallAction::Save}};
    return w;
}

ModuleWords Collector() {
    ModuleWords w;
    w.module = "mod_collector";
    w.newItem = {{"Port", "514"}, {"SendTimeout", "5000"}, {"RecvTimeout", "60000"}, {"Param", "128"}, {"IdleTimeout", "600000"}};
    w.printedCommon = {{"EnableService", "EnableService", P::Signed},
                       {"BufferSize", "BufferSize", P::Unsigned},
                       {"ErrorTimeout", "ErrorTimeout", P::Unsigned},
                       {"Param", "Param", P::Hex}};
    w.printedItem = {{"Delete", std::string(kDeleteMark), P::Signed}, {"Enable", "Enable", P::Signed},
                     {"RecvTimeout", "RecvTimeout", P::Signed},      {"SendTimeout", "SendTimeout", P::Signed},
                     {"Param", "Param", P::Hex},                      {"Port", "Port", P::Unsigned},
                     {"Name", "StrName", P::Text},                    {"Server", "StrServer", P::Text},
                     {"Proto", "Proto", P::Unsigned},                 {"CertFile", "StrCertFile", P::Text},
                     {"KeyFile", "StrKeyFile", P::Text},              {"CAFile", "StrCAFile", P::Text},
                     {"IdleTimeout", "IdleTimeout", P::Unsigned}};
    // A TCP or TLS listener may share its address with a UDP one:
    // "#set:mod_collector.tcp=0.0.0.0{...}" names it.
    w.kindWord = "proto";
    w.item = {{{"delete", "del"}, Flag(std::string(kDeleteMark))},
              {{"proto", "protocol"}, Choice("Proto", {{"udp", 0}, {"tcp", 1}, {"tls", 2}})},
              {{"cert", "certfile", "cert_file"}, Text("StrCertFile", 259)},
              {{"key", "keyfile", "key_file"}, Text("StrKeyFile", 259)},
              {{"ca", "cafile", "ca_file"}, Text("StrCAFile", 259)},
              {{"idle", "idle_timeout"}, Range("IdleTimeout", 0, 86400000, 600000)},
              {{"enable", "en"}, Flag("Enable")},
              {{"name"}, Text("StrName", 31)},
              {{"port"}, Range("Port", 1, 65535, 514)},
              {{"server"}, Text("StrServer", 31)},
              {{"recv", "rcv"}, Range("RecvTimeout", 900, 120000, 60000)},
              {{"send", "snd"}, Range("SendTimeout", 900, 120000, 5000)},
              {{"filter"}, Bit("Param", 0x80)},
              {{"srvcheck", "srv_check", "server_check"}, Bit("Param", 0x40)},
              {{"default", "reset"},
               Reset({{std::string(kDeleteMark), "0"},
                      {"Enable", "0"},
                      {"RecvTimeout", "60000"},
                      {"SendTimeout", "5000"},
                      {"Param", "128"},
                      {"Port", "514"},
                      {"StrServer", ""},
                      {"IdleTimeout", "600000"}})}};
    w.common = {{{"enable", "en"}, Flag("EnableService")},
                {{"buffer", "buffer_size"}, Range("BufferSize", 100, 10240, 1024)},
                {{"error"}, Range("ErrorTimeout", 900, 120000, 10000)},
                {{"default", "reset"},
                 Reset({{"EnableService", "0"}, {"Param", "0"}, {"BufferSize", "1024"}, {"ErrorTimeout", "10000"}})}};
    w.call = {{{"start"}, CallAction::Start}, {{"stop"}, CallAction::Stop}, {{"save"}, CallAction::Save}};
    return w;
}

ModuleWords Relay() {
    ModuleWords w;
    w.module = "mod_relay";
    w.printedCommon = {{"EnableService", "EnableService", P::Signed},
                       {"SendTimeout", "SendTimeout", P::Signed},
                       {"RepeatTimeout", "RepeatTimeout", P::Unsigned},
                       {"BacklogSize", "BacklogSize", P::Unsigned}};
    w.printedItem = {{"Delete", std::string(kDeleteMark), P::Signed},
                     {"Enable", "Enable", P::Signed},
                     {"EventParam", "EventParam", P::Hex},
                     {"Port", "Port", P::Unsigned},
                     {"Name", "StrName", P::Text},
                     {"Proto", "Proto", P::Unsigned},
                     {"CAFile", "StrCAFile", P::Text}};
    // "#set:mod_relay.tcp=192.0.2.10{...}": the TCP destination on an
    // address that may have a UDP one as well.
    w.kindWord = "proto";
    w.item = {{{"delete", "del"}, Flag(std::string(kDeleteMark))},
              {{"enable", "en"}, Flag("Enable")},
              {{"name"}, Text("StrName", 31)},
              {{"port"}, Range("Port", 1, 65535, 514)},
              {{"event_internal", "event_int", "int"}, Bit("EventParam", 0x10)},
              {{"event_external", "event_ext", "ext"}, Bit("EventParam", 0x20)},
              {{"proto", "protocol"}, Choice("Proto", {{"udp", 0}, {"tcp", 1}, {"tls", 2}})},
              {{"ca", "cafile", "ca_file"}, Text("StrCAFile", 259)},
              {{"default", "reset"},
               Reset({{std::string(kDeleteMark), "0"},
                      {"Enable", "0"},
                      {"EventParam", "48"},
                      {"Port", "514"},
                      {"Proto", "0"},
                      {"StrCAFile", ""}})}};
    w.common = {{{"enable", "en"}, Flag("EnableService")},
                {{"timeout", "tmo"}, Range("SendTimeout", 900, 120000, 5000)},
                {{"repeat", "repeat"}, Range("RepeatTimeout", 900, 120000, 10000)},
                {{"backlog", "backlog_size"}, Range("BacklogSize", 1, 4096, 64)},
                {{"default", "reset"},
                 Reset({{"EnableService", "0"}, {"SendTimeout", "5000"}, {"RepeatTimeout", "10000"}, {"BacklogSize", "64"}})}};
    w.call = {{{"start"}, CallAction::Start}, {{"stop"}, CallAction::Stop}, {{"save"}, CallAction::Save}};
    return w;
}

ModuleWords HttpServer() {
    ModuleWords w;
    w.module = "mod_httpserver";
    w.reportsUnknownCall = true;
    w.printedCommon = {{"EnableService", "EnableService", P::Signed}, {"ChunkSize", "ChunkSize", P::Unsigned},
                       {"ErrorTimeout", "ErrorTimeout", P::Unsigned},  {"MaxConn", "MaxConn", P::Unsigned},
                       {"Param", "Param", P::Hex},                      {"Timeout", "Timeout", P::Unsigned}};
    w.printedItem = {{"Delete", std::string(kDeleteMark), P::Signed},  {"Enable", "Enable", P::Signed},
                     {"EventParam", "EventParam", P::Unsigned},        {"MsgBufferSize", "MsgBufferSize", P::Unsigned},
                     {"Param", "Param", P::Hex},                        {"Port", "Port", P::Unsigned},
                     {"Name", "StrName", P::Text}};
    w.item = {{{"delete", "del"}, Flag(std::string(kDeleteMark))},
              {{"enable", "en"}, Flag("Enable")},
              {{"name"}, Text("StrName", 31)},
              {{"port"}, Range("Port", 1, 65535, 81)},
              {{"buffersize", "buffer_size"}, Range("MsgBufferSize", 1, 100, 50)},
              {{"dns"}, Bit("Param", 0x80)},
              {{"event_external", "event_ext", "ext"}, Bit("EventParam", 0x20)},
              {{"event_internal", "event_int", "int"}, Bit("EventParam", 0x10)},
              {{"default", "reset"},
               Reset({{std::string(kDeleteMark), "0"},
                      {"Enable", "0"},
                      {"Port", "81"},
                      {"MsgBufferSize", "50"},
                      {"Param", "128"},
                      {"EventParam", "48"}})}};
    w.common = {{{"enable", "en"}, Flag("EnableService")},
                {{"chunksize", "chunk_size"}, Range("ChunkSize", 100, 10240, 1024)},
                {{"errortimeout", "error_timeout"}, Range("ErrorTimeout", 900, 120000, 2000)},
                {{"maxconn", "max_conn"}, Range("MaxConn", 1, 100, 10)},
                {{"timeout", "tmo"}, Range("Timeout", 900, 120000, 5000)},
                {{"default", "reset"},
                 Reset({{"EnableService", "0"},
                        {"ChunkSize", "1024"},
                        {"ErrorTimeout", "2000"},
                        {"MaxConn", "10"},
                        {"Timeout", "5000"}})}};
    w.call = {{{"start"}, CallAction::Start}, {{"stop"}, CallAction::Stop}, {{"save"}, CallAction::Save}};
    return w;
}

ModuleWords Icmp() {
    ModuleWords w;
    w.module = "mod_icmp";
    w.reportsUnknownCall = true;
    w.printedCommon = {{"EnableService", "EnableService", P::Signed}, {"RealIP", "RealIP", P::Signed},
                       {"RecvTimeout", "RecvTimeout", P::Signed},      {"SendTimeout", "SendTimeout", P::Signed},
                       {"PacketSize", "PacketSize", P::Unsigned},      {"RepeatTimeout", "RepeatTimeout", P::Unsigned}};
    w.printedItem = {{"Delete", std::string(kDeleteMark), P::Signed},
                     {"Enable", "Enable", P::Signed},
                     {"EnableMax", "EnableMax", P::Signed},
                     {"EnableMin", "EnableMin", P::Unsigned},
                     {"MaxVal", "MaxVal", P::Signed},
                     {"MinVal", "MinVal", P::Signed},
                     {"Param", "Param", P::Hex},
                     {"Format", "StrOutFmt", P::Text},
                     {"Name", "StrName", P::Text}};
    w.item = {{{"delete", "del"}, Flag(std::string(kDeleteMark))},
              {{"enable", "en"}, Flag("Enable")},
              {{"name"}, Text("StrName", 31)},
              {{"format", "fmt"}, Text("StrOutFmt", 63)},
              {{"min"}, Flag("EnableMin")},
              {{"max"}, Flag("EnableMax")},
              {{"minval"}, Signed32("MinVal")},
              {{"maxval"}, Signed32("MaxVal")},
              {{"chart"}, Bit("Param", 0x80)},
              {{"default", "reset"},
               Reset({{std::string(kDeleteMark), "0"},
                      {"Enable", "0"},
                      {"EnableMin", "0"},
                      {"EnableMax", "0"},
                      {"MinVal", "0"},
                      {"MaxVal", "0"},
                      {"Param", "128"},
                      {"StrOutFmt", "[msec]"}})}};
    w.common = {{{"enable", "en"}, Flag("EnableService")},
                {{"recv", "rcv"}, Range("RecvTimeout", 900, 120000, 5000)},
                {{"send", "snd"}, Range("SendTimeout", 900, 120000, 5000)},
                {{"repeat", "rpt"}, Range("RepeatTimeout", 900, 120000, 10000)},
                {{"packet", "pkt"}, Range("PacketSize", 11, 1999, 32)},
                {{"realip", "ip"}, Flag("RealIP")},
                {{"default", "reset"},
                 Reset({{"EnableService", "0"},
                        {"RealIP", "0"},
                        {"RecvTimeout", "5000"},
                        {"SendTimeout", "5000"},
                        {"RepeatTimeout", "10000"},
                        {"PacketSize", "32"}})}};
    w.call = {{{"start"}, CallAction::Start}, {{"stop"}, CallAction::Stop}, {{"save"}, CallAction::Save}};
    return w;
}

ModuleWords Laurent() {
    ModuleWords w;
    w.module = "mod_laurent";
    w.printedCommon = {{"EnableService", "EnableService", P::Signed}, {"ConnectTimeout", "ConnectTimeout", P::Signed},
                       {"RecvTimeout", "RecvTimeout", P::Signed},     {"SendTimeout", "SendTimeout", P::Signed},
                       {"RepeatTimeout", "RepeatTimeout", P::Unsigned}};
    w.printedItem = {{"Delete", std::string(kDeleteMark), P::Signed}, {"Enable", "Enable", P::Signed},
                     {"CmdListID", "CmdListID", P::Signed64},         {"Param", "Param", P::Hex},
                     {"Port", "Port", P::Unsigned},                   {"Name", "StrName", P::Text},
                     {"Password", "StrPass", P::Text}};
    w.item = {{{"delete", "del"}, Flag(std::string(kDeleteMark))},
              {{"enable", "en"}, Flag("Enable")},
              {{"name", "ip"}, Text("StrName", 31)},
              {{"port"}, Range("Port", 1, 65535, 2424)},
              {{"password", "pass", "pwd"}, Text("StrPass", 31)},
              {{"chart"}, Bit("Param", 0x80)},
              {{"list", "listid", "cmd"}, ListRef("CmdListID")},
              // No password is made up for a board: its own goes in by the password word.
              {{"default", "reset"},
               Reset({{std::string(kDeleteMark), "0"},
                      {"Enable", "0"},
                      {"Port", "2424"},
                      {"StrPass", ""},
                      {"Param", "128"},
                      {"CmdListID", "0"}})}};
    w.common = {{{"enable", "en"}, Flag("EnableService")},
                {{"recv", "rcv"}, Range("RecvTimeout", 900, 120000, 5000)},
                {{"send", "snd"}, Range("SendTimeout", 900, 120000, 5000)},
                {{"conn"}, Range("ConnectTimeout", 900, 120000, 5000)},
                {{"repeat", "rpt"}, Range("RepeatTimeout", 900, 120000, 10000)},
                {{"default", "reset"},
                 Reset({{"EnableService", "0"},
                        {"RecvTimeout", "5000"},
                        {"SendTimeout", "5000"},
                        {"ConnectTimeout", "5000"},
                        {"RepeatTimeout", "10000"}})}};
    w.list = {{{"enable"}, Flag("Enable")},
              {{"name"}, Text("StrName", 31)},
              {{"format"}, Text("StrOutFmt", 127)},
              {{"uid"}, ListUid("ID")},
              {{"default", "reset"}, Reset({{std::string(kDeleteMark), "0"}, {"Enable", "0"}})},
              {{"push"}, Push()},
              {{"pop"}, Pop()},
              {{"cmd", "command"}, Entry(Text("StrValue", 63))},
              {{"min"}, Entry(Flag("EnableMin"))},
              {{"max"}, Entry(Flag("EnableMax"))},
              {{"minval"}, Entry(Signed32("MinVal"))},
              {{"maxval"}, Entry(Signed32("MaxVal"))}};
    // "CmdListID" of a list is its entry count.
    w.printedList = {{"Delete", std::string(kDeleteMark), P::Signed}, {"Enable", "Enable", P::Signed},
                     {"CmdListID", "ListSize", P::Unsigned},           {"UID", "ID", P::Signed64},
                     {"Name", "StrName", P::Text},                     {"StringFormat", "StrOutFmt", P::Text}};
    w.printedEntry = {{"EnableMax", "EnableMax", P::Signed}, {"EnableMin", "EnableMin", P::Signed},
                      {"Max", "MaxVal", P::Signed},          {"Min", "MinVal", P::Signed},
                      {"Tag", "StrTag", P::Text},            {"Value", "StrValue", P::Text}};
    w.listUidKey = "ID";
    w.entryTagKey = "StrTag";
    w.call = {{{"start"}, CallAction::Start}, {{"stop"}, CallAction::Stop}, {{"save"}, CallAction::Save}};
    return w;
}

ModuleWords Snmp() {
    ModuleWords w;
    w.module = "mod_snmp";
    w.printedCommon = {{"EnableService", "EnableService", P::Signed}, {"RepeatTimeout", "RepeatTimeout", P::Unsigned}};
    w.printedItem = {{"Delete", std::string(kDeleteMark), P::Signed}, {"Enable", "Enable", P::Signed},
                     {"OIDListID", "OIDID", P::Signed64},             {"Param", "Param", P::Hex},
                     {"Retries", "Retries", P::Signed},               {"Timeout", "Timeout", P::Signed},
                     {"Name", "StrName", P::Text},                    {"Community", "StrCommunity", P::Text}};
    w.item = {{{"delete", "del"}, Flag(std::string(kDeleteMark))},
              {{"enable", "en"}, Flag("Enable")},
              {{"name", "ip"}, Text("StrName", 31)},
              {{"community"}, Text("StrCommunity", 15)},
              {{"timeout", "tmo"}, Range("Timeout", 900, 120000, 5000)},
              {{"retries"}, Range("Retries", 1, 30, 1)},
              {{"chart"}, Bit("Param", 0x80)},
              {{"list", "listid", "oid"}, ListRef("OIDID")},
              {{"default", "reset"},
               Reset({{std::string(kDeleteMark), "0"},
                      {"Enable", "0"},
                      {"OIDID", "0"},
                      {"Param", "128"},
                      {"Retries", "2"},
                      {"Timeout", "5000"},
                      {"StrCommunity", "public"}})}};
    w.common = {{{"enable", "en"}, Flag("EnableService")},
                {{"repeattimeout", "repeat_timeout", "rpt"}, Range("RepeatTimeout", 900, 120000, 10000)},
                {{"default", "reset"}, Reset({{"EnableService", "0"}, {"RepeatTimeout", "10000"}})}};
    w.list = {{{"enable"}, Flag("Enable")},
              {{"name"}, Text("StrName", 31)},
              {{"format"}, Text("StrOutFmt", 127)},
              {{"uid"}, ListUid("ID")},
              {{"default", "reset"}, Reset({{std::string(kDeleteMark), "0"}, {"Enable", "0"}})},
              {{"push"}, Push()},
              {{"pop"}, Pop()},
              {{"oid"}, Entry(Text("StrValue", 63))},
              {{"min"}, Entry(Flag("EnableMin"))},
              {{"max"}, Entry(Flag("EnableMax"))},
              {{"minval"}, Entry(Signed32("MinVal"))},
              {{"maxval"}, Entry(Signed32("MaxVal"))},
              {{"correct"}, Entry(Correction("Correct"))}};
    // "CmdListID" is the list's entry count, as the other list-keeping module prints it.
    w.printedList = {{"Delete", std::string(kDeleteMark), P::Signed}, {"Enable", "Enable", P::Signed},
                     {"CmdListID", "ListSize", P::Unsigned},           {"UID", "ID", P::Signed64},
                     {"Name", "StrName", P::Text},                     {"StringFormat", "StrOutFmt", P::Text}};
    w.printedEntry = {{"EnableMax", "EnableMax", P::Signed}, {"EnableMin", "EnableMin", P::Signed},
                      {"Max", "MaxVal", P::Signed},          {"Min", "MinVal", P::Signed},
                      {"Correct", "Correct", P::Unsigned},   {"Tag", "StrTag", P::Text},
                      {"Value", "StrValue", P::Text}};
    w.listUidKey = "ID";
    w.entryTagKey = "StrTag";
    w.call = {{{"start"}, CallAction::Start}, {{"stop"}, CallAction::Stop}, {{"save"}, CallAction::Save}};
    return w;
}

}  // namespace

const ModuleWords* WordsFor(std::string_view module) {
    static const std::array<ModuleWords, 8> all = {Dbase(), Dns(),  Collector(), Relay(),
                                                   HttpServer(), Icmp(), Laurent(),   Snmp()};
    for (const ModuleWords& w : all)
        if (SameWord(w.module, module)) return &w;
    return nullptr;
}

}  // namespace qm::script
