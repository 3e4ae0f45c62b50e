#pragma once
// A module whose service is one running item per enabled record (a UDP
// listener, an HTTP server item): Start makes the items that are not running,
// Stop ends them all, and a deleted record's slot is taken over only once its
// item has stopped.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/table_module.h"

namespace qm::core {

template <typename C, typename R, typename Item>
class ItemServiceModule : public TableModule<C, R> {
public:
    // `running` is the flag the items watch; `disabledReport` the string
    // reported (a warning) when Start finds the service switched off.
    ItemServiceModule(CoreContext& core, uint16_t id, std::string section, TableLayout layout,
                      std::atomic<bool>& running, uint32_t disabledReport)
        : TableModule<C, R>(core, id, std::move(section), layout), running_(running), disabledReport_(disabledReport) {
        this->settings_.records.SetReusable([this](size_t i) { return i >= items_.size() || !items_[i]; });
    }

    // Starts the item of every record that is enabled, not deleted and not running.
    // The running flag changes only under the lock: a start or stop that
    // cannot have it must leave the items as they are, and an item whose
    // loop the flag ended but that stays registered is never started again.
    bool Start(platform::Blocking blocking) override {
        platform::GuardedLock lock(this->Lock(), this->core_.counters.locks, blocking);
        if (!lock) return false;
        running_.store(true);
        if (!this->settings_.common.enableService) {
            this->core_.Report(Severity::Warning, disabledReport_);
            return false;
        }
        items_.resize(this->settings_.records.size());
        bool any = false;
        for (size_t i = 0; i < this->settings_.records.size(); ++i) {
            const auto& slot = this->settings_.records[i];
            if (slot.deleted || !slot.record.enable || items_[i]) continue;
            std::unique_ptr<Item> item = MakeItem(slot.record);
            if (!item->Started()) continue;
            items_[i] = std::move(item);
            any = true;
        }
        return any;
    }

    bool Stop(platform::Blocking blocking) override {
        platform::GuardedLock lock(this->Lock(), this->core_.counters.locks, blocking);
        if (!lock) return false;
        running_.store(false);
        bool any = false;
        for (auto& item : items_) {
            if (!item) continue;
            item->Stop();
            item.reset();
            any = true;
        }
        AfterStop();
        return any;
    }

protected:
    // The running item of a record (Started() tells whether it runs).
    virtual std::unique_ptr<Item> MakeItem(const R& record) = 0;
    // Under the module lock, once every item has ended.
    virtual void AfterStop() {}

    // A value of the running item of record `index`, or `none` while it is
    // not running.
    template <typename T>
    T FromItem(size_t index, T none, const std::function<T(Item&)>& read) {
        platform::GuardedLock lock(this->Lock(), this->core_.counters.locks, platform::Blocking::Yes);
        return index < items_.size() && items_[index] ? read(*items_[index]) : none;
    }

private:
    std::atomic<bool>& running_;
    const uint32_t disabledReport_;
    std::vector<std::unique_ptr<Item>> items_;  // by record index; empty where stopped
};

}  // namespace qm::core
