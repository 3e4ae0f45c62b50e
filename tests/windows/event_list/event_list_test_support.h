#pragma once
// An event list window without widgets: the real event core, rules and
// (when asked) name resolution modules, a worker pool and a view that writes
// down what it was told.
#include <arpa/inet.h>
#include <netdb.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/core_context.h"
#include "core/string_table.h"
#include "processing/dns/dns_module.h"
#include "processing/rules/rules_module.h"
#include "support/temp_dir.h"
#include "support/udp_peer.h"
#include "support/wait_until.h"
#include "windows/event_list/event_details.h"
#include "windows/event_list/event_list_logic.h"
#include "windows/event_list/event_worker_pool.h"

namespace qm::windows::test {

using namespace std::chrono_literals;

// Writes down what the list told it; the selection is the test's to set.
struct FakeView : EventListView {
    size_t resets = 0, colorChanges = 0, scrolls = 0;
    std::vector<size_t> lastOrder;
    std::set<size_t> selected;

    void BeginResetRows() override {}
    void EndResetRows() override { ++resets, selected.clear(); }
    void BeginInsertRows(size_t, size_t) override {}
    void EndInsertRows() override {}
    void BeginRemoveRows(size_t, size_t) override {}
    void EndRemoveRows() override {}
    void RowsChanged(size_t, size_t) override {}
    void BeginReorderRows() override {}
    void EndReorderRows(std::span<const size_t> order) override { lastOrder.assign(order.begin(), order.end()); }
    void ColorsChanged() override { ++colorChanges; }
    bool DeselectRow(size_t row) override { return selected.erase(row) > 0; }
    void EnsureLastVisible() override { ++scrolls; }
};

// A gate that holds the reverse look-ups of addresses until opened.
struct LookupGate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    size_t waiting = 0;

    platform::HostNameLookup Ask() {
        std::unique_lock lock(mutex);
        ++waiting;
        changed.notify_all();
        changed.wait(lock, [&] { return open; });
        return {{}, EAI_NONAME, 0};
    }
    void Open() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
    bool AwaitWaiting(size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 20s, [&] { return waiting >= count; });
    }
};

using qm::testing::WaitUntil;

class EventListTest : public ::testing::Test {
protected:
    EventListTest() {
        core_.paths.resourceFolder = home_.path() / "Resource";
        std::filesystem::create_directories(core_.paths.resourceFolder);
        core_.texts = std::make_unique<core::TextTable>(core::BuiltinStrings());
        core_.events = std::make_unique<core::EventCore>(core_.counters);
        core_.registry = std::make_unique<core::ModuleRegistry>(core_);
        auto rules = std::make_unique<processing::RulesModule>(core_);
        rules_ = rules.get();
        core_.registry->Add(std::move(rules));
    }
    ~EventListTest() override { gate_.Open(); }

    // The name resolution module; addresses it looks up stop at the gate
    // when `gated`, else have no name; `storage` is its local name file.
    processing::DnsModule& AddDns(const std::string& storage, bool gated = false) {
        std::ofstream(core_.paths.resourceFolder / "name.conf") << "[CACHE]\n" << storage;
        auto dns = std::make_unique<processing::DnsModule>(core_, [this, gated](const platform::SocketAddress&) {
            return gated ? gate_.Ask() : platform::HostNameLookup{{}, EAI_NONAME, 0};
        });
        dns->Load(core::SettingsSection({}, "mod_dns", {}));
        processing::DnsResolver r = processing::DefaultResolver();
        r.param = processing::kDnsLocalStorage | (gated ? processing::kDnsSystemLookup : 0);
        EXPECT_TRUE(dns->ReplaceRecord(0, r));
        processing::DnsModule& ref = *dns;
        core_.registry->Add(std::move(dns));
        return ref;
    }

    // A rule for events whose message holds `pattern`, doing `param`.
    static processing::Rule MessageRule(std::string pattern, uint16_t param) {
        processing::Rule r;
        r.inCond1 = processing::kCondMessage;
        r.strInCond1 = std::move(pattern);
        r.param = param;
        return r;
    }
    uint64_t AddRule(processing::Rule rule) {
        rule.enable = 1;
        const std::optional<size_t> slot = rules_->AddRule(rule);
        EXPECT_TRUE(slot);
        return rules_->RuleAt(*slot)->record.uid;
    }

    std::unique_ptr<EventListLogic> Window(uint8_t param, uint8_t eventParam = 0x78, std::vector<uint64_t> rules = {}) {
        EventListSettings s;
        s.param = param;
        s.eventParam = eventParam;
        s.rules = std::move(rules);
        return std::make_unique<EventListLogic>(core_, pool_, view_, s);
    }

    // An External line from `sender` (a relay suffix carries it, and a time).
    void Send(const std::string& sender, const std::string& message, int severity = 6,
              const std::string& time = "1 2 2024 3 4 5 0") {
        const sockaddr_in from = qm::testing::Loopback(0, "192.0.2.1");
        const std::string line = "<" + std::to_string(8 + severity) + ">" + message + "|a2;" + sender + ";" + time + ";";
        ASSERT_EQ(core_.events->Submit(core::kEventExternal, core::kNoSeverity, line, from), core::kOk);
    }
    void Settle() { ASSERT_TRUE(core_.events->Settle(20000)); }
    void Drain() {
        std::vector<core::EventPtr> gone;
        ASSERT_EQ(core_.events->Drain(gone, platform::Blocking::Yes), core::kOk);
    }
    // Applies results until every item of the window is done.
    static bool Finish(EventListLogic& w) {
        return WaitUntil([&] {
            w.ApplyResults();
            return w.BusyWorkers() == 0;
        });
    }
    static std::string Text(const EventListLogic& w, size_t row, int column) { return std::string(w.CellText(row, column)); }

    qm::testing::TempDir home_{"qm-evl"};
    core::CoreContext core_;
    processing::RulesModule* rules_ = nullptr;
    LookupGate gate_;
    EventWorkerPool pool_{core_, 4};
    FakeView view_;
};

}  // namespace qm::windows::test
