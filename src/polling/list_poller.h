#pragma once
// The module shape every list poller shares: items that name a list of
// entries, a service thread that polls every enabled item once a round under
// the module lock, one event per item and round, readings and gaps for the
// value collector, and the record sets the script words and the dialog edit.
// A poller says only what one item's poll does (Poll) and, if it must, what
// Start checks first; its `Shape` names its records and texts:
//
//   struct Shape {
//       using Common = ...;  // enableService, repeatTimeout
//       using Item = ...;    // enable, name (the address), param
//       using Entry = ...;   // an entry of a list
//       static constexpr auto kListRef = &Item::...;  // the list's `ID`
//       static constexpr uint16_t kId = ...;
//       static constexpr const char* kSection = "mod_...";
//       static constexpr uint32_t kStarted, kStopped, kDisabled;  // string ids
//   };
//
// The service thread calls Poll with the lock held; the record sets take the
// lock with three tries, so a running round makes them fail as collisions.
#include <arpa/inet.h>
#include <netinet/in.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/core_context.h"
#include "core/module.h"
#include "core/record_sets.h"
#include "core/service_worker.h"
#include "platform/codepage.h"
#include "polling/poller_settings.h"

namespace qm::polling {

// The pause of a round that found nothing to do, or the lock busy.
constexpr uint32_t kPollerIdleWaitMs = 10000;

template <typename Shape>
class ListPoller : public core::Module, public core::RecordSets {
public:
    using Common = typename Shape::Common;
    using Item = typename Shape::Item;
    using Entry = typename Shape::Entry;
    using List = PollList<Entry>;
    using Settings = PollerSettings<Common, Item, Entry>;

    explicit ListPoller(core::CoreContext& core) : Module(core, Shape::kId, Shape::kSection) {}
    // The derived module stops the service in its own destructor: the rounds
    // use its members.
    ~ListPoller() override = default;

    void Load(const core::SettingsSection& section) override {
        Settings loaded;
        LoadPollerSettings(section, loaded);
        settings_ = std::move(loaded);
        GiveListsOwnIds();
    }
    void SaveTo(core::SettingsSection& section) override { SavePollerSettings(section, settings_); }

    bool Start(platform::Blocking blocking) override {
        std::lock_guard service(serviceMutex_);
        active_ = true;
        {
            platform::GuardedLock lock(Lock(), core_.counters.locks, blocking);
            if (!lock || worker_.Started()) return false;
            if (!settings_.common.enableService) {
                core_.Report(core::Severity::Warning, Shape::kDisabled);
                return false;
            }
            if (!ReadyToStart()) return false;
        }
        // The lock is free again before the thread asks for it: a first round
        // that found it held would be skipped as busy for a whole idle wait.
        core::ServiceRounds rounds;
        rounds.round = [this] { return Round(); };
        rounds.lock = &Lock();
        rounds.busyPause = kPollerIdleWaitMs;
        rounds.startedReport = Shape::kStarted;
        rounds.stoppedReport = Shape::kStopped;
        return worker_.Start(std::move(rounds));
    }
    bool Stop(platform::Blocking) override {
        std::lock_guard service(serviceMutex_);
        active_ = false;
        return worker_.Stop();
    }
    uint32_t ThreadCount() const { return worker_.Started() ? 1 : 0; }

    // One round over every item (module lock held); the pause before the next.
    uint32_t Round() {
        if (settings_.items.LiveCount() == 0) return kPollerIdleWaitMs;
        for (const auto& slot : settings_.items) {
            // Stop ends the round after the item being polled, not after all.
            if (!Polling()) break;
            if (slot.deleted || !slot.record.enable) continue;
            if (const List* list = ListFor(slot.record.*Shape::kListRef)) Poll(slot.record, *list);
        }
        return settings_.common.repeatTimeout;
    }

    // Records for editors: the common block, items, lists (each with its
    // entries beside it) and one list's entries.
    core::RecordSets* Records() override { return this; }
    bool Has(core::RecordSet) const override { return true; }
    std::optional<std::vector<core::RecordCopy>> Copy(core::SetRef set) override;
    core::RecordCopy Blank(core::SetRef set) const override;
    bool Add(core::SetRef set, const core::RecordCopy& record) override;
    bool Replace(core::SetRef set, size_t index, const core::RecordCopy& record,
                 const core::RecordCopy& original) override;

protected:
    // One item's poll and its event; called by the service thread with the
    // module lock held, for an enabled item and the enabled list it names.
    virtual void Poll(const Item& item, const List& list) = 0;
    // Checked by Start (lock held) before the service thread is made; false
    // starts nothing and says why itself.
    virtual bool ReadyToStart() { return true; }

    // False once Stop was asked for: a long poll gives up between steps.
    bool Polling() const { return active_ && worker_.Running(); }
    // A pause inside a poll that Stop cuts short; false once stopping.
    bool Pause(uint32_t ms) { return worker_.Pause(ms); }

    // One event of an item: the string's text with `text`, as an Internal
    // line from `sender`, in the system's code page as the intake reads it.
    void Emit(uint32_t stringId, std::string_view text, const sockaddr_in& sender) {
        const std::string line = core_.Text(stringId, std::string(text));
        if (core_.events) core_.events->Submit(core::kEventInternal, 100, platform::Utf8ToAnsi(line), sender);
    }
    // A reading (or with no tag and no value, a gap) for the collector,
    // when the item hands its values on.
    void Push(const Item& item, std::optional<std::string_view> tag, std::optional<core::Reading> value) {
        if ((item.param & kParamToCollector) && core_.values) core_.values->Push(Shape::kSection, item.name, tag, value);
    }
    void PushGap(const Item& item) { Push(item, std::nullopt, std::nullopt); }

    Settings settings_;
    core::ServiceWorker worker_{core_};

private:
    const List* ListFor(uint64_t id) const {
        // 0 is an item that names no list, never a list's identity.
        if (id == 0) return nullptr;
        for (const auto& slot : settings_.lists)
            if (!slot.deleted && slot.record.enable && slot.record.id == id) return &slot.record;
        return nullptr;
    }
    uint64_t FreshListId() const { return core::FreshId(settings_.lists, &List::id, core_.SecondsSinceEpoch()); }
    // A file from before lists had their identity checked may hold a list
    // with ID 0 (which every item without a list named) or two with one ID
    // (the items named only the first): the first holder keeps its ID, and
    // the others get a fresh one, so each can be named on its own.
    void GiveListsOwnIds() {
        core::MendIds(settings_.lists, &List::id, core_.SecondsSinceEpoch(), [this](size_t slot, uint64_t old) {
            std::fprintf(stderr, "settings: [%s] list %zu had ID %llu, %s; it now has ID %llu\n", Shape::kSection, slot,
                         static_cast<unsigned long long>(old), old == 0 ? "which means no list" : "as an earlier list has",
                         static_cast<unsigned long long>(settings_.lists[slot].record.id));
        });
    }
    static void FitList(List& list) {
        core::ApplyFieldRules(List::Fields(), list);
        for (Entry& e : list.entries) core::ApplyFieldRules(Entry::Fields(), e);
        list.listSize = static_cast<uint32_t>(list.entries.size());
    }
    // A list's entries travel beside it, as records of their own, so the
    // script engine and the editors see and hand back a list with its
    // entries as one change.
    static core::RecordCopy ListCopy(const typename core::RecordTable<List>::Slot& slot) {
        List bare = slot.record;
        bare.entries.clear();
        core::RecordCopy copy = core::RecordCopy::Of(std::move(bare), slot.deleted);
        for (const Entry& e : slot.record.entries) copy.entries.push_back(core::RecordCopy::Of(e));
        return copy;
    }
    // The list a copy describes, or nothing when an entry is not one of ours
    // or there are more than a list holds.
    static std::optional<List> ListOf(const core::RecordCopy& copy) {
        if (!copy.Holds<List>()) return std::nullopt;
        List list = copy.As<List>();
        list.entries.clear();
        for (const core::RecordCopy& entry : copy.entries) {
            if (!entry.Holds<Entry>()) return std::nullopt;
            if (!entry.deleted) list.entries.push_back(entry.As<Entry>());
        }
        if (list.entries.size() > kMaxListEntries) return std::nullopt;
        return list;
    }

    std::mutex serviceMutex_;  // one Start or Stop at a time
    std::atomic<bool> active_{false};
};

// The event's sender for an item's address: dotted IPv4 and `port`;
// 255.255.255.255 for anything else (a host name).
sockaddr_in PollSender(std::string_view address, uint16_t port = 0);

}  // namespace qm::polling

#include "polling/list_poller_records.h"
