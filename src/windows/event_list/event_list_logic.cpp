#include "windows/event_list/event_list_logic.h"

#include <algorithm>
#include <mutex>
#include <new>

#include "core/core_context.h"
#include "core/memory_accounting.h"
#include "platform/clock.h"
#include "processing/dbase/dbase_module.h"
#include "processing/dns/dns_module.h"
#include "processing/rules/rules_module.h"
#include "windows/event_list/event_details.h"
#include "windows/event_list/event_worker_pool.h"
#include "windows/event_list/row_sort.h"
#include "windows/zoom.h"

namespace qm::windows {

namespace {

// A window that is going away waits this long for its items; a worker
// blocked longer than that (a name look-up) finishes into a closed inbox.
constexpr unsigned kCloseWaitMs = 30000;

template <typename T>
T* FindModule(core::CoreContext& core, uint16_t id) {
    return core.registry ? core.registry->FindAs<T>(id) : nullptr;
}

}  // namespace

EventListLogic::EventListLogic(core::CoreContext& core, EventWorkerPool& pool, EventListView& view,
                               EventListSettings settings)
    : core_(core),
      pool_(pool),
      view_(view),
      settings_(std::move(settings)),
      inbox_(std::make_shared<ResultInbox>()),
      scheme_(processing::ColorScheme::Defaults()),
      listColors_(core.settings.listColors) {
    settings_.Clamp(core_.dotsPerInch);
    RefreshColorSources();
}

EventListLogic::~EventListLogic() {
    inbox_->SetReadyCallback(nullptr);
    inbox_->Close();
    inbox_->WaitIdle(kCloseWaitMs);
}

// --- Settings

void EventListLogic::SetColumnWidth(int column, uint32_t width) {
    if (column >= 0 && column < static_cast<int>(kEventListColumns))
        settings_.colSize[column] = std::min(width, kMaxColumnWidth);
}

void EventListLogic::ApplyOptions(uint8_t param, uint8_t eventParam) {
    settings_.param = param;
    settings_.eventParam = eventParam;
    options_.reset();
}

void EventListLogic::ApplySettings(EventListSettings settings) {
    settings.Clamp(core_.dotsPerInch);
    // Rows chosen, coloured or named by the old event types, rules or
    // options would stay as they were: the list reads the queue again.
    constexpr uint8_t kRowOptions = kListColorScheme | kListGroupBySender | kListResolveNames;
    if (settings.eventParam != settings_.eventParam || settings.rules != settings_.rules ||
        (settings.param & kRowOptions) != (settings_.param & kRowOptions))
        rereadPending_ = true;
    settings_ = std::move(settings);
    options_.reset();
}

int32_t EventListLogic::EffectiveFontHeight() const {
    if (settings_.fontHeight != 0) return settings_.fontHeight;
    if (core_.settings.font.height != 0) return core_.settings.font.height;
    return kFallbackFontHeight;
}

std::shared_ptr<const WorkerOptions> EventListLogic::Options() {
    if (!options_) {
        auto o = std::make_shared<WorkerOptions>();
        o->param = settings_.param;
        o->rules = settings_.rules;
        o->listColors = listColors_;
        options_ = std::move(o);
    }
    return options_;
}

// --- Timers

void EventListLogic::SetResultsReadyCallback(ResultInbox::ReadyCallback callback) {
    inbox_->SetReadyCallback(std::move(callback));
}

size_t EventListLogic::ApplyResults() {
    std::vector<RowResult> results = inbox_->Take();
    size_t applied = 0, first = SIZE_MAX, last = 0;
    for (RowResult& r : results) {
        // Rows cleared meanwhile, or given a newer event of the same sender:
        // the result belongs to nobody.
        if (r.row >= rows_.size() || rows_[r.row]->stamp != r.stamp) continue;
        EventRow& row = *rows_[r.row];
        // New texts in the part already sorted: the next sort starts afresh.
        if (r.row < sortKeys_.size()) sortKeys_.clear();
        row.fill = std::move(r.fill);
        row.filled = true;
        first = std::min(first, r.row);
        last = std::max(last, r.row);
        ++applied;
    }
    if (applied) view_.RowsChanged(first, last);
    return applied;
}

void EventListLogic::Tick() {
    ApplyResults();
    if (RefreshColorSources()) view_.ColorsChanged();

    if (rowsChanged_ && BusyWorkers() == 0) {
        if (settings_.Has(kListSortable) && settings_.sortDirection != 0) Sort();
        if (settings_.Has(kListAutoscroll) && !rows_.empty()) view_.EnsureLastVisible();
        rowsChanged_ = false;
    }

    core::EventCore* events = core_.events.get();
    if (!events) return;
    // After a drain the rows show events the queue no longer holds, and the
    // read position means nothing in the new queue. While workers are busy
    // the rows can't go yet, and reading on would start them twice on the
    // same events or skip new ones: the whole turn waits.
    if (const uint32_t generation = events->Generation(); generation != reader_.generation || rereadPending_) {
        if (BusyWorkers() != 0) return;
        ClearRows();
        reader_ = {0, generation};
        rereadPending_ = false;
    }
    core::ReaderState next = reader_;
    core::QueueSlice slice;
    const int rc = events->ReadNext(next, platform::Blocking::No, slice);
    if (next.generation != reader_.generation) {
        // Drained between the check above and the read.
        if (BusyWorkers() != 0) return;
        ClearRows();
    }
    reader_ = next;
    if (rc != core::kOk) return;  // nothing new, or the queue is busy: next tick

    // Copies of the events this window takes, so the queue lock is not held
    // while rules match.
    std::vector<std::shared_ptr<const core::EventRecord>> taken;
    taken.reserve(slice.size());
    for (const core::EventPtr& record : slice.Records()) {
        if (!(record->type & settings_.eventParam)) continue;
        try {
            taken.push_back(std::make_shared<const core::EventRecord>(*record));
        } catch (const std::bad_alloc&) {
            ++errors_;
            core_.counters.errors.fetch_add(1, std::memory_order_relaxed);
        }
    }
    slice.Release();
    TakeEvents(taken);
}

void EventListLogic::TakeEvents(const std::vector<std::shared_ptr<const core::EventRecord>>& events) {
    if (events.empty()) return;
    processing::RulesModule* rules = settings_.rules.empty()
                                         ? nullptr
                                         : FindModule<processing::RulesModule>(core_, core::kModuleRules);
    const bool grouping = settings_.Has(kListGroupBySender);
    if (grouping && !senderIndexValid_) RebuildSenderIndex();
    const size_t first = rows_.size();
    std::vector<std::unique_ptr<EventRow>> appended;
    std::vector<EventWork> work;
    std::shared_ptr<const WorkerOptions> options = Options();
    for (const std::shared_ptr<const core::EventRecord>& event : events) {
        if (rules && rules->DoNotAdd(*event, settings_.rules)) continue;
        size_t index = SIZE_MAX;
        if (grouping) {
            if (const auto it = senderRows_.find(event->sender); it != senderRows_.end()) index = it->second;
        }
        EventRow* row = nullptr;
        if (index == SIZE_MAX) {
            index = first + appended.size();
            if (grouping) senderRows_.emplace(event->sender, index);
            else senderIndexValid_ = false;
            row = appended.emplace_back(std::make_unique<EventRow>()).get();
            rowsChanged_ = true;
        } else {
            row = index < first ? rows_[index].get() : appended[index - first].get();
            if (settings_.Has(kListDeselectGrouped) && index < first) view_.DeselectRow(index);
        }
        row->event = event;
        row->stamp = ++nextStamp_;
        work.push_back(EventWork{inbox_, options, event, index, row->stamp});
    }
    if (!appended.empty()) {
        view_.BeginAppendRows(first, appended.size());
        rows_.insert(rows_.end(), std::make_move_iterator(appended.begin()), std::make_move_iterator(appended.end()));
        view_.EndAppendRows();
    }
    for (EventWork& w : work) {
        inbox_->ItemStarted();
        pool_.Submit(std::move(w));
    }
}

void EventListLogic::ClearRows() {
    view_.BeginResetRows();
    rows_.clear();
    sortKeys_.clear();
    senderRows_.clear();
    senderIndexValid_ = true;
    view_.EndResetRows();
}

void EventListLogic::Sort() {
    const int32_t direction = settings_.sortDirection;
    const int column = direction < 0 ? -direction : direction;
    if (column < 1 || column > 4) return;
    // The keys of the rows sorted last time are still good while their texts
    // are: only the rows added since get keys and are merged in.
    if (sortedDirection_ != direction) sortKeys_.clear();
    const size_t alreadySorted = sortKeys_.size();
    sortKeys_.reserve(rows_.size());
    for (size_t i = alreadySorted; i < rows_.size(); ++i)
        sortKeys_.push_back(MakeSortKey(column, rows_[i]->fill.texts[column], i));
    SortKeys(sortKeys_, alreadySorted, direction);

    std::vector<size_t> newIndexOfOld(rows_.size());
    view_.BeginReorderRows();
    std::vector<std::unique_ptr<EventRow>> sorted;
    sorted.reserve(rows_.size());
    for (size_t k = 0; k < sortKeys_.size(); ++k) {
        const size_t old = sortKeys_[k].row;
        sorted.push_back(std::move(rows_[old]));
        newIndexOfOld[old] = k;
        sortKeys_[k].row = k;
    }
    rows_.swap(sorted);
    sortedDirection_ = direction;
    // Made again when grouping next needs it.
    senderRows_.clear();
    senderIndexValid_ = false;
    view_.EndReorderRows(newIndexOfOld);
}

void EventListLogic::RebuildSenderIndex() {
    senderRows_.clear();
    for (size_t i = 0; i < rows_.size(); ++i) senderRows_.emplace(rows_[i]->event->sender, i);
    senderIndexValid_ = true;
}

bool EventListLogic::RefreshColorSources() {
    processing::RulesModule* rules = FindModule<processing::RulesModule>(core_, core::kModuleRules);
    const processing::ColorScheme scheme = rules ? rules->Scheme() : processing::ColorScheme::Defaults();
    const std::array<uint32_t, 6> list = core_.settings.listColors;
    if (scheme == scheme_ && list == listColors_) return false;
    scheme_ = scheme;
    if (list != listColors_) options_.reset();
    listColors_ = list;
    return true;
}

std::vector<StatusPart> EventListLogic::StatusTick() {
    StatusInputs in;
    const core::CoreCounters& c = core_.counters;
    in.startupBusy = c.startupBusy.load(std::memory_order_relaxed);
    in.moduleThreads = c.moduleThreads.load(std::memory_order_relaxed);
    in.busyHandlers = c.busyHandlers.load(std::memory_order_relaxed);
    in.memoryInUse = core::TakeMemorySnapshot().InUse();
    in.bytesReceived = c.bytesReceived.load(std::memory_order_relaxed);
    in.datagramsReceived = c.datagramsReceived.load(std::memory_order_relaxed);
    in.bytesSent = c.bytesSent.load(std::memory_order_relaxed);
    in.datagramsSent = c.datagramsSent.load(std::memory_order_relaxed);
    if (core::EventCore* events = core_.events.get()) {
        in.queueCount = events->QueueCount();
        in.eventsPerMinute = rate_.Update(events->MessageCounter(), platform::MonotonicMs());
    }
    if (auto* dbase = FindModule<processing::DbaseModule>(core_, core::kModuleDbase)) {
        // The database holds its lock while it writes; the status bar does
        // not wait for that and keeps the limit it saw last.
        std::unique_lock lock(dbase->Lock(), std::try_to_lock);
        if (lock.owns_lock()) {
            if (auto common = dbase->Common()) queueLimit_ = common->msgLimit;
        }
        in.queueLimit = queueLimit_;
    }
    in.rows = rows_.size();
    in.processed = Processed();
    in.processingMs = ProcessingMs();
    const uint64_t now = platform::UnixSecondsNow();
    in.runningSeconds = core_.startUtc && now > core_.startUtc ? now - core_.startUtc : 0;
    return StatusParts(core_, in, settings_.Has(kListSimpleStatus));
}

InfoContent EventListLogic::StatusPartInfo(int part) const {
    const core::CoreCounters& c = core_.counters;
    StatusInputs state;
    state.startupBusy = c.startupBusy.load(std::memory_order_relaxed);
    state.moduleThreads = c.moduleThreads.load(std::memory_order_relaxed);
    state.busyHandlers = c.busyHandlers.load(std::memory_order_relaxed);
    OperatingFigures f;
    f.state = StatePart(core_, state).text;
    const uint64_t now = platform::UnixSecondsNow();
    f.runningSeconds = core_.startUtc && now > core_.startUtc ? now - core_.startUtc : 0;
    f.memoryInUse = core::TakeMemorySnapshot().InUse();
    f.snapshots = c.memorySnapshots.Get();
    f.threads = c.threads.load(std::memory_order_relaxed);
    f.windows = c.windows.load(std::memory_order_relaxed);
    f.collisions = c.locks.collisions.load(std::memory_order_relaxed);
    f.lockUsers = c.locks.users.load(std::memory_order_relaxed);
    f.datagramsReceived = c.datagramsReceived.load(std::memory_order_relaxed);
    f.bytesReceived = c.bytesReceived.load(std::memory_order_relaxed);
    f.datagramsSent = c.datagramsSent.load(std::memory_order_relaxed);
    f.bytesSent = c.bytesSent.load(std::memory_order_relaxed);
    if (core::EventCore* events = core_.events.get()) f.queueCount = events->QueueCount();
    return StatusInfo(core_, part, settings_.Has(kListSimpleStatus), f);
}

std::vector<int32_t> EventListLogic::StatusEdges(int32_t clientWidth) const {
    return StatusPartEdges(settings_.sbarParts, clientWidth, settings_.Has(kListSimpleStatus));
}

// --- Rows

RowColors EventListLogic::ColorsOf(size_t row) const {
    const processing::ColorChoice& c = rows_[row]->fill.colors;
    if (!rows_[row]->filled) return ListColors();
    switch (c.source) {
        case processing::ColorSource::Rule: return {c.colors.text, c.colors.background};
        case processing::ColorSource::Scheme: {
            const size_t i = std::min(c.index, processing::kSchemeEntries - 1);
            return {scheme_.text[i], scheme_.background[i]};
        }
        case processing::ColorSource::List: break;
    }
    return ListColors();
}

RowColors EventListLogic::ListColors() const { return {listColors_[1], listColors_[0]}; }
RowColors EventListLogic::SelectedColors() const { return {listColors_[3], listColors_[2]}; }

// --- User actions

bool EventListLogic::HeaderClicked(int column) {
    const int32_t direction = DirectionAfterHeaderClick(settings_.sortDirection, column, settings_.Has(kListSortable));
    if (direction == settings_.sortDirection) return false;
    settings_.sortDirection = direction;
    // Items in flight carry row numbers: with any busy the rows are sorted at
    // the first tick that finds the workers done.
    if (BusyWorkers() != 0) {
        rowsChanged_ = true;
        return false;
    }
    Sort();
    return true;
}

void EventListLogic::ToggleParam(uint8_t bit) {
    settings_.param ^= bit;
    options_.reset();
    if (bit == kListAutoscroll && settings_.Has(kListAutoscroll) && !rows_.empty()) view_.EnsureLastVisible();
}

bool EventListLogic::ZoomIn() {
    const std::optional<int32_t> height = windows::ZoomIn(EffectiveFontHeight(), core_.dotsPerInch);
    if (!height) return false;
    settings_.fontHeight = *height;
    return true;
}

bool EventListLogic::ZoomOut() {
    const std::optional<int32_t> height = windows::ZoomOut(EffectiveFontHeight(), core_.dotsPerInch);
    if (!height) return false;
    settings_.fontHeight = *height;
    return true;
}

EventListMenuState EventListLogic::MenuState(bool onTop, bool pinned, std::optional<size_t> clickedRow) const {
    return MenuStateFor(settings_.param, onTop, pinned, clickedRow && *clickedRow < rows_.size(),
                        EffectiveFontHeight(), core_.dotsPerInch);
}

std::shared_ptr<const core::EventRecord> EventListLogic::EventAt(size_t row) const {
    return row < rows_.size() ? rows_[row]->event : nullptr;
}

InfoContent EventListLogic::Details(const core::EventRecord& event) const {
    std::string alias;
    if (auto* dns = FindModule<processing::DnsModule>(core_, core::kModuleDns)) {
        // What is known already: the GUI thread never waits for a look-up.
        std::vector<std::string> names = dns->KnownNames(event.sender);
        if (!names.empty()) alias = std::move(names.back());
    }
    return EventDetails(core_, event, alias);
}

// --- Counters

uint64_t EventListLogic::Processed() const {
    std::lock_guard lock(core_.generalLock);
    return inbox_->processed;
}

uint64_t EventListLogic::ProcessingMs() const {
    std::lock_guard lock(core_.generalLock);
    return inbox_->processingMs;
}

}  // namespace qm::windows
