#pragma once
// A list poller's module on a core of its own with a value collector, its
// records added through its record sets as the script words and the dialog
// add them, and what its service leaves in the queue and the collector.
#include <gtest/gtest.h>

#include <algorithm>

#include "polling/poller_settings.h"
#include "core/value_collector.h"
#include "transport/transport_test_support.h"

namespace qm::testing {

template <typename Module>
class PollerTest : public ModuleTest<Module> {
protected:
    void SetUp() override {
        ModuleTest<Module>::SetUp();
        this->core_.values = std::make_unique<core::ValueCollector>([] { return 1000u; });
    }
    template <typename Record>
    void Add(core::RecordSet set, const Record& record) {
        ASSERT_TRUE(this->module_->Add({set}, core::RecordCopy::Of(record)));
    }
    using ListEntry = typename Module::Entry;
    // A list as the record sets hand it on: its entries beside it.
    static core::RecordCopy ListRecord(uint64_t id, const std::vector<ListEntry>& entries, std::string format) {
        polling::PollList<ListEntry> list;
        list.id = id;
        list.outFormat = std::move(format);
        core::RecordCopy copy = core::RecordCopy::Of(list);
        for (const ListEntry& e : entries) copy.entries.push_back(core::RecordCopy::Of(e));
        return copy;
    }
    void AddList(uint64_t id, const std::vector<ListEntry>& entries, std::string format) {
        ASSERT_TRUE(this->module_->Add({core::RecordSet::List}, ListRecord(id, entries, std::move(format))));
    }
    std::vector<core::ValueSample> Samples(const std::string& vendor, const std::string& tag) {
        return this->core_.values->Read(vendor, tag + " (" + this->module_->Section() + ")").samples;
    }
    bool HasGap(const std::string& vendor, const std::string& tag) {
        return std::ranges::any_of(Samples(vendor, tag), [](const core::ValueSample& s) { return s.gap; });
    }
    std::optional<core::EventRecord> WaitForEvent(std::string_view text,
                                                  std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        return this->log_->WaitFor(EventLog::Of(core::kEventInternal, text), limit);
    }
    size_t Events(std::string_view text) {
        return this->log_->Matching(EventLog::Of(core::kEventInternal, text)).size();
    }
};

}  // namespace qm::testing
