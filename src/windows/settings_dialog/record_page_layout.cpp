#include "windows/settings_dialog/record_page_layout.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "core/module.h"
#include "core/string_ids.h"
#include "windows/event_list/event_list_settings.h"
#include "windows/window_frame.h"
#include "windows/window_module/window_entry.h"

namespace qm::windows::qt {

namespace {

using core::RecordSet;
namespace str = core::str;

Named Id(uint64_t value, uint32_t textId) { return {value, textId, {}, 0}; }
Named Literal(uint64_t value, std::string text) { return {value, 0, std::move(text), 0}; }
Named Formatted(uint64_t value, uint32_t format, uint32_t arg) { return {value, format, {}, arg}; }

// The condition kinds in the order of the rule page's drop-down list.
std::vector<Named> ConditionKinds() {
    std::vector<Named> kinds{Id(0, str::kConditionAddress), Id(1, str::kConditionMessage)};
    for (uint32_t s = 0; s <= 8; ++s) kinds.push_back(Formatted(2 + s, str::kConditionStatus, str::kSeverityEmergency + s));
    for (uint32_t t = 0; t < 4; ++t) kinds.push_back(Formatted(11 + t, str::kConditionVendor, str::kEventTypeSystem + t));
    kinds.insert(kinds.end(), {Id(15, str::kConditionHost), Id(16, str::kConditionApp), Id(17, str::kConditionMsgId)});
    return kinds;
}

std::vector<Named> CorrectCodes() {
    return {Literal(0, "---"),      Literal(64, "0.0 /10"), Literal(32, "0.0 /100"),
            Literal(16, "0.0 /1000"), Literal(8, "HEX"),    Literal(4, "0 /1 (to int)")};
}

// Pollers share the shape of their lists (`ID`, `StrName`, `StrOutFmt`) and their entries' limits.
// A new item and a new list are enabled; a list starts with the page's
// output format and, where it has one, the page's first entry.
PageLayout Poller(uint32_t title, uint16_t module, std::string listFormat,
                  std::vector<Proposal> firstEntry = {}) {
    PageLayout p;
    p.title = title;
    p.module = module;
    p.common = p.items = p.lists = p.service = true;
    p.proposals = {{RecordSet::Item, "Enable", "1"},
                   {RecordSet::List, "Enable", "1"},
                   {RecordSet::List, "StrOutFmt", std::move(listFormat)}};
    if (!firstEntry.empty()) p.proposedEntries = {std::move(firstEntry)};
    return p;
}

std::vector<PageLayout> MakeLayouts() {
    std::vector<PageLayout> pages;

    PageLayout scheme;
    scheme.title = str::kPageColorScheme;
    scheme.module = core::kModuleRules;
    scheme.common = true;
    pages.push_back(scheme);

    PageLayout rules;
    rules.title = str::kPageRules;
    rules.module = core::kModuleRules;
    rules.items = true;
    rules.listUidKey = "UID";
    rules.hints = {
        {RecordSet::Item,
         "Param",
         FieldLook::Bits,
         {Formatted(0x8000, str::kRuleConditionMark, 1), Formatted(0x4000, str::kRuleConditionMark, 2),
          Id(0x2000, str::kRuleListCondition1), Id(0x1000, str::kRuleListCondition2),
          Id(0x0800, str::kDoNotAddEvent), Id(0x0400, str::kContinueRules), Id(0x0200, str::kModify),
          Id(0x0100, str::kColorSchemeLabel), Id(0x0080, str::kCutFromMessage), Id(0x0040, str::kRunProgram),
          Id(0x0020, str::kNoWindow)}},
        {RecordSet::Item,
         "InMatch",
         FieldLook::Choice,
         {Id(0, str::kCombineNone), Id(1, str::kCombineAnd), Id(2, str::kCombineOr), Id(3, str::kCombineExcept)}},
        {RecordSet::Item, "InCond1", FieldLook::Choice, ConditionKinds()},
        {RecordSet::Item, "InCond2", FieldLook::Choice, ConditionKinds()},
        {RecordSet::Item, "InListID1", FieldLook::ListRef, {}},
        {RecordSet::Item, "InListID2", FieldLook::ListRef, {}},
        {RecordSet::Item, "OutTextMode", FieldLook::Choice, {Id(0, str::kConditionAddress), Id(1, str::kConditionMessage)}},
    };
    // The "=" and list marks sit beside their condition on the rule page;
    // here each says which condition it belongs to. "=" reads the same in
    // every language, the list marks come from the string table.
    rules.hints[0].names[0].text = "=";
    rules.hints[0].names[1].text = "=";
    rules.proposals = {{RecordSet::Item, "Enable", "1"}};
    pages.push_back(rules);

    PageLayout lists;
    lists.title = str::kPageLists;
    lists.module = core::kModuleRules;
    lists.lists = true;
    lists.listUidKey = "UID";
    lists.proposals = {{RecordSet::List, "Enable", "1"}};
    pages.push_back(lists);

    // Every window, to see them all in one place; the windows added here and
    // the settings shown below the table are an event list's.
    PageLayout windows;
    windows.title = str::kPageWindows;
    windows.module = core::kModuleWindow;
    windows.items = true;
    windows.windowType = kWindowEventList;
    windows.everyWindow = true;
    windows.hints = {{RecordSet::Item, "Type", FieldLook::ReadOnly, {}}};
    windows.proposals = {{RecordSet::Item, "Enable", "1"}, {RecordSet::Item, "Type", std::to_string(kWindowEventList)},
                         {RecordSet::Item, "Param", std::to_string(kWindowVisible)}};
    pages.push_back(windows);

    PageLayout info;
    info.title = str::kPageInfoWindow;
    info.module = core::kModuleWindow;
    info.items = true;
    info.windowType = kWindowInfoBox;
    info.proposals = {{RecordSet::Item, "Enable", "1"}, {RecordSet::Item, "Type", std::to_string(kWindowInfoBox)},
                      {RecordSet::Item, "Param", std::to_string(0x1000 | 0x8000)}};
    pages.push_back(info);

    PageLayout dns;
    dns.title = str::kPageDns;
    dns.module = core::kModuleDns;
    dns.common = dns.items = true;
    pages.push_back(dns);

    PageLayout dbase;
    dbase.title = str::kPageDatabase;
    dbase.module = core::kModuleDbase;
    dbase.common = dbase.items = dbase.service = true;
    pages.push_back(dbase);

    PageLayout collector;
    collector.title = str::kPageCollector;
    collector.module = core::kModuleCollector;
    collector.common = collector.items = collector.service = true;
    // A new listener closes silent TCP connections as a file without the key does.
    collector.proposals = {{RecordSet::Item, "Enable", "1"}, {RecordSet::Item, "Port", "514"}, {RecordSet::Item, "IdleTimeout", "600000"}};
    pages.push_back(collector);

    PageLayout relay;
    relay.title = str::kPageRelay;
    relay.module = core::kModuleRelay;
    relay.common = relay.items = relay.service = true;
    relay.proposals = {{RecordSet::Item, "Enable", "1"}, {RecordSet::Item, "Port", "514"}};
    pages.push_back(relay);

    PageLayout snmp = Poller(str::kPageSnmp, core::kModuleSnmp, "Description: [desc]",
                             {{RecordSet::Entry, "StrValue", ".1.3.6.1.2.1.1.1.0"}, {RecordSet::Entry, "StrTag", "desc"}});
    snmp.hints.push_back({RecordSet::Common, "RepeatTimeout", FieldLook::Seconds, {}});
    snmp.hints.push_back({RecordSet::Item, "Timeout", FieldLook::Seconds, {}});
    snmp.hints.push_back({RecordSet::Item, "OIDID", FieldLook::ListRef, {}});
    snmp.hints.push_back({RecordSet::Entry, "Correct", FieldLook::Choice, CorrectCodes()});
    snmp.proposals.insert(snmp.proposals.end(), {{RecordSet::Item, "StrCommunity", "public"},
                                                 {RecordSet::Item, "Timeout", "1000"},
                                                 {RecordSet::Item, "Retries", "2"}});
    pages.push_back(snmp);

    PageLayout icmp;
    icmp.title = str::kPageIcmp;
    icmp.module = core::kModuleIcmp;
    icmp.common = icmp.items = icmp.service = true;
    // A host's replies reach the graphs only with bit 0x80; a new host sends them.
    icmp.proposals = {{RecordSet::Item, "Enable", "1"},
                      {RecordSet::Item, "StrOutFmt", "On-line, response [msec]"},
                      {RecordSet::Item, "Param", std::to_string(0x80)}};
    pages.push_back(icmp);

    PageLayout laurent = Poller(str::kPageLaurent, core::kModuleLaurent, "Temperature: [temp] *C",
                                {{RecordSet::Entry, "StrValue", "$KE,TMP"}, {RecordSet::Entry, "StrTag", "temp"}});
    laurent.hints.push_back({RecordSet::Item, "CmdListID", FieldLook::ListRef, {}});
    laurent.proposals.insert(laurent.proposals.end(),
                             {{RecordSet::Item, "Port", "2424"}, {RecordSet::Item, "StrPass", ""}});
    pages.push_back(laurent);

    PageLayout graphs;
    graphs.title = str::kPageGraphs;
    graphs.module = core::kModuleWindow;
    graphs.items = true;
    graphs.windowType = kWindowGraph;
    graphs.proposals = {{RecordSet::Item, "Enable", "1"}, {RecordSet::Item, "Type", std::to_string(kWindowGraph)},
                        {RecordSet::Item, "Param", std::to_string(0x1000)}};
    pages.push_back(graphs);

    PageLayout http;
    http.title = str::kPageHttp;
    http.module = core::kModuleHttpServer;
    http.common = http.items = http.service = true;
    http.proposals = {{RecordSet::Item, "Enable", "1"}};
    pages.push_back(http);

    // Shown once the ModbusTCP module offers its records.
    PageLayout modbus = Poller(str::kPageModbus, core::kModuleModbus, "Value =[reg]");
    modbus.hints.push_back({RecordSet::Item, "RegListID", FieldLook::ListRef, {}});
    modbus.hints.push_back({RecordSet::Entry,
                            "Correct",
                            FieldLook::Choice,
                            {Literal(128, "---"), Literal(64, "0.0 /10"), Literal(32, "0.0 /100"), Literal(16, "0.0 /1000")}});
    modbus.hints.push_back({RecordSet::Entry,
                            "Type",
                            FieldLook::Choice,
                            {Literal(128, "Signed"), Literal(64, "Unsigned"), Literal(32, "Float"), Literal(16, "String")}});
    modbus.hints.push_back({RecordSet::Entry,
                            "Func",
                            FieldLook::Choice,
                            {Literal(1, "DO (0x01)"), Literal(2, "DI (0x02)"), Literal(3, "AI (0x03)"), Literal(4, "AO (0x04)")}});
    modbus.hints.push_back({RecordSet::Entry,
                            "RegCount",
                            FieldLook::Choice,
                            {Literal(1, "1 byte"), Literal(2, "2 byte"), Literal(3, "3 byte"), Literal(4, "4 byte")}});
    pages.push_back(modbus);
    return pages;
}

}  // namespace

const std::vector<OptionGroup>& EventListOptionGroups() {
    // What decides which events a list shows and how their rows are filled,
    // then what only changes how the list looks and behaves, then its columns.
    static const std::vector<OptionGroup> groups{
        {str::kEventHandling, "EventParam", ~uint64_t{0}},
        {str::kEventHandling, "Param", kListColorScheme | kListGroupBySender | kListResolveNames},
        {str::kInterfaceOptions, "Param", kListAutoscroll | kListSortable | kListSimpleStatus | kListDeselectGrouped},
        // The syslog header's fields shown as columns, and the message without them.
        {str::kColumns, "Columns", ~uint64_t{0}},
    };
    return groups;
}

const std::vector<PageLayout>& RecordPageLayouts() {
    static const std::vector<PageLayout> layouts = MakeLayouts();
    return layouts;
}

FieldHint HintFor(const PageLayout& page, RecordSet set, std::string_view key) {
    for (const FieldHint& h : page.hints)
        if (h.set == set && core::SameIgnoringCase(h.key, key)) return h;
    // Identities the module hands out, counts it keeps in step and what the
    // window itself stores: changing them by hand breaks references. (A
    // resolver's `ID` is no identity but its choice of role, and stays open.)
    static constexpr std::array<std::string_view, 2> kKept{"UID", "ListSize"};
    static constexpr std::array<std::string_view, 3> kWindowKept{"Type", "Rect", "Icon"};
    const auto any = [&](const auto& keys) {
        return std::any_of(keys.begin(), keys.end(), [&](std::string_view k) { return core::SameIgnoringCase(k, key); });
    };
    const bool kept = any(kKept) || (set == RecordSet::List && core::SameIgnoringCase("ID", key)) || (page.windowType && any(kWindowKept));
    if (kept) return {set, std::string(key), FieldLook::ReadOnly, {}};
    return {set, std::string(key), FieldLook::Plain, {}};
}

FieldHint HintFor(const PageLayout& page, RecordSet set, const core::FieldDef& field) {
    FieldHint hint = HintFor(page, set, field.key);
    // A read-only field still shows its names, in a disabled control.
    if (hint.names.empty() &&
        (hint.look == FieldLook::Bits || hint.look == FieldLook::Choice || hint.look == FieldLook::ReadOnly))
        hint.names = field.names;
    if (hint.look != FieldLook::Plain || field.names.empty()) return hint;
    if (field.kind == core::FieldKind::Bits) hint.look = FieldLook::Bits;
    if (field.kind == core::FieldKind::Choice) hint.look = FieldLook::Choice;
    if (hint.look != FieldLook::Plain) hint.names = field.names;
    return hint;
}

}  // namespace qm::windows::qt
