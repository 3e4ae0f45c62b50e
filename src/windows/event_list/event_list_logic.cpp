#include "windows/event_list/event_list_logic.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <new>

#include "core/core_context.h"
#include "core/memory_accounting.h"
#include "platform/clock.h"
#include "processing/dbase/dbase_module.h"
#include "processing/dns/dns_module.h"
#include "processing/rules/rules_module.h"
#include "windows/event_list/csv_text.h"
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
    columns_ = ShownColumns(settings_.columns);
    RefreshColorSources();
}

EventListLogic::~EventListLogic() {
    inbox_->SetReadyCallback(nullptr);
    inbox_->Close();
    inbox_->WaitIdle(kCloseWaitMs);
}

// --- Settings

void EventListLogic::SetColumnWidth(int column, uint32_t width) { settings_.SetColumnWidth(column, width); }

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
    // Other columns need the view reset, which SetColumns brackets.
    const uint8_t columns = settings.columns;
    settings.columns = settings_.columns;
    settings_ = std::move(settings);
    options_.reset();
    SetColumns(columns);
}

void EventListLogic::SetColumns(uint8_t columnBits) {
    if (columnBits == settings_.columns) return;
    const bool bodyChanged = ((columnBits ^ settings_.columns) & kShowBodyOnly) != 0;
    view_.BeginResetRows();
    settings_.columns = columnBits;
    columns_ = ShownColumns(columnBits);
    // A column no longer shown no longer sorts the rows, as its arrow is gone.
    const int sortColumn = std::abs(settings_.sortDirection);
    if (ColumnBit(sortColumn) != 0 && !settings_.Shows(ColumnBit(sortColumn))) settings_.sortDirection = 0;
    if (bodyChanged) {
        // The message texts are others now: sort keys and the filter's verdicts go.
        sortKeys_.clear();
        if (filter_) RestartFilter();
    }
    view_.EndResetRows();
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
    // With a filter: rows it lets through now and did not before, the
    // reverse, and rows shown before and after.
    std::vector<uint32_t> toShow, toHide, changed;
    for (RowResult& r : results) {
        // Rows cleared meanwhile, or given a newer event of the same sender:
        // the result belongs to nobody.
        if (r.row >= rows_.size() || rows_[r.row]->stamp != r.stamp) continue;
        EventRow& row = *rows_[r.row];
        // New texts in the part already sorted: the next sort starts afresh.
        if (r.row < sortKeys_.size()) sortKeys_.clear();
        row.fill = std::move(r.fill);
        row.filled = true;
        ++applied;
        if (!filter_) {
            first = std::min(first, r.row);
            last = std::max(last, r.row);
        } else if (r.row < scanAt_) {  // rows beyond are the running test's
            const bool passes = Passes(row);
            if (passes && row.shown) changed.push_back(static_cast<uint32_t>(r.row));
            else if (passes) toShow.push_back(static_cast<uint32_t>(r.row));
            else if (row.shown) toHide.push_back(static_cast<uint32_t>(r.row));
        }
    }
    if (!filter_) {
        if (applied) view_.RowsChanged(first, last);
        return applied;
    }
    std::sort(toHide.begin(), toHide.end());
    std::sort(toShow.begin(), toShow.end());
    HideRows(toHide);
    ShowRows(toShow);
    if (!changed.empty()) {
        const auto [low, high] = std::minmax_element(changed.begin(), changed.end());
        view_.RowsChanged(PlaceOf(*low), PlaceOf(*high));
    }
    return applied;
}

void EventListLogic::Tick() {
    ApplyResults();
    if (RefreshColorSources()) view_.ColorsChanged();

    // While a new filter tests the rows, the places it has given stay put.
    if (rowsChanged_ && BusyWorkers() == 0 && !FilterPending()) {
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
            if (settings_.Has(kListDeselectGrouped) && index < first && (!filter_ || (row->shown && index < scanAt_)))
                view_.DeselectRow(filter_ ? PlaceOf(index) : index);
        }
        row->event = event;
        row->stamp = ++nextStamp_;
        work.push_back(EventWork{inbox_, options, event, index, row->stamp});
    }
    if (!appended.empty()) {
        // With a filter a new row is shown once its result lets it through.
        if (!filter_) view_.BeginInsertRows(first, appended.size());
        rows_.insert(rows_.end(), std::make_move_iterator(appended.begin()), std::make_move_iterator(appended.end()));
        if (!filter_) view_.EndInsertRows();
    }
    for (EventWork& w : work) {
        inbox_->ItemStarted();
        pool_.Submit(std::move(w));
    }
}

void EventListLogic::ClearRows() {
    view_.BeginResetRows();
    rows_.clear();
    shown_.clear();
    // A test of the rows under way goes on with the rows to come.
    if (FilterPending()) scanAt_ = 0;
    sortKeys_.clear();
    senderRows_.clear();
    senderIndexValid_ = true;
    view_.EndResetRows();
}

void EventListLogic::Sort() {
    const int32_t direction = settings_.sortDirection;
    const int column = direction < 0 ? -direction : direction;
    if (column < 1 || column >= kColumnCount) return;
    // The keys of the rows sorted last time are still good while their texts
    // are: only the rows added since get keys and are merged in.
    if (sortedDirection_ != direction) sortKeys_.clear();
    const size_t alreadySorted = sortKeys_.size();
    // Grown by half at a time: reserving only the rows of this tick would
    // move every key of a long list again at each tick.
    if (sortKeys_.capacity() < rows_.size()) sortKeys_.reserve(std::max(rows_.size(), sortKeys_.capacity() * 3 / 2));
    for (size_t i = alreadySorted; i < rows_.size(); ++i)
        sortKeys_.push_back(MakeSortKey(column, windows::CellText(rows_[i]->fill, column, BodyOnly()), i));
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
    if (!filter_) {
        view_.EndReorderRows(newIndexOfOld);
        return;
    }
    // The rows shown are the same ones, at the places their new order gives:
    // marked by their new numbers, then counted in order (one pass over
    // numbers, none over the rows themselves).
    constexpr uint32_t kHidden = UINT32_MAX;
    std::vector<uint32_t> placeOfRow(rows_.size(), kHidden);
    for (uint32_t row : shown_) placeOfRow[newIndexOfOld[row]] = 0;
    std::vector<uint32_t> shown;
    shown.reserve(shown_.size());
    for (size_t k = 0; k < placeOfRow.size(); ++k) {
        if (placeOfRow[k] == kHidden) continue;
        placeOfRow[k] = static_cast<uint32_t>(shown.size());
        shown.push_back(static_cast<uint32_t>(k));
    }
    std::vector<size_t> newPlaceOfOld(shown_.size());
    for (size_t place = 0; place < shown_.size(); ++place) newPlaceOfOld[place] = placeOfRow[newIndexOfOld[shown_[place]]];
    shown_.swap(shown);
    view_.EndReorderRows(newPlaceOfOld);
}

// --- Filter

bool EventListLogic::Passes(const EventRow& row) const {
    if (!row.filled || !row.fill.event) return false;
    const core::EventRecord& e = *row.fill.event;
    return filter_->Matches({windows::CellText(row.fill, kColumnMessage, BodyOnly()), e.severity,
                             row.fill.texts[kColumnSender], e.sender, e.Host()});
}

size_t EventListLogic::PlaceOf(size_t row) const {
    return static_cast<size_t>(std::lower_bound(shown_.begin(), shown_.end(), static_cast<uint32_t>(row)) -
                               shown_.begin());
}

void EventListLogic::ShowRows(const std::vector<uint32_t>& rows) {
    size_t i = 0;
    while (i < rows.size()) {
        const size_t at = PlaceOf(rows[i]);
        // The rows that follow go to the same place while no shown row lies
        // between them: one insertion for the run.
        size_t j = i + 1;
        while (j < rows.size() && (at == shown_.size() || shown_[at] > rows[j])) ++j;
        view_.BeginInsertRows(at, j - i);
        shown_.insert(shown_.begin() + static_cast<std::ptrdiff_t>(at), rows.begin() + static_cast<std::ptrdiff_t>(i),
                      rows.begin() + static_cast<std::ptrdiff_t>(j));
        for (size_t k = i; k < j; ++k) rows_[rows[k]]->shown = true;
        view_.EndInsertRows();
        i = j;
    }
}

void EventListLogic::HideRows(const std::vector<uint32_t>& rows) {
    // From the last run back, so the places of the runs before stay right.
    size_t end = rows.size();
    while (end > 0) {
        size_t begin = end - 1;
        const size_t last = PlaceOf(rows[begin]);
        size_t first = last;
        while (begin > 0 && first > 0 && shown_[first - 1] == rows[begin - 1]) --begin, --first;
        view_.BeginRemoveRows(first, last - first + 1);
        shown_.erase(shown_.begin() + static_cast<std::ptrdiff_t>(first),
                     shown_.begin() + static_cast<std::ptrdiff_t>(last + 1));
        for (size_t k = begin; k < end; ++k) rows_[rows[k]]->shown = false;
        view_.EndRemoveRows();
        end = begin;
    }
}

void EventListLogic::RestartFilter() {
    shown_.clear();
    for (const std::unique_ptr<EventRow>& row : rows_) row->shown = false;
    scanAt_ = 0;
}

std::optional<std::string> EventListLogic::SetFilter(const FilterTerms& terms) {
    if (!terms.Active()) {
        ClearFilter();
        return std::nullopt;
    }
    if (filter_ && filter_->Terms() == terms) return std::nullopt;
    std::string error;
    std::optional<RowFilter> made = RowFilter::Make(terms, &error);
    if (!made) return error;
    view_.BeginResetRows();
    filter_ = std::move(made);
    RestartFilter();
    view_.EndResetRows();
    return std::nullopt;
}

void EventListLogic::ClearFilter() {
    if (!filter_) return;
    view_.BeginResetRows();
    filter_.reset();
    shown_ = {};
    scanAt_ = kNotScanning;
    view_.EndResetRows();
}

bool EventListLogic::FilterStep(uint64_t budgetNs) {
    if (!FilterPending()) return true;
    const uint64_t start = platform::MonotonicNs();
    std::vector<uint32_t> found;
    size_t i = scanAt_;
    while (i < rows_.size()) {
        EventRow& row = *rows_[i];
        row.shown = Passes(row);
        if (row.shown) found.push_back(static_cast<uint32_t>(i));
        ++i;
        // The clock is read now and then: most rows take far less than a read.
        if (i % 256 == 0 && platform::MonotonicNs() - start >= budgetNs) break;
    }
    scanAt_ = i;
    // Every row found lies after every row shown so far: one run at the end.
    if (!found.empty()) {
        view_.BeginInsertRows(shown_.size(), found.size());
        shown_.insert(shown_.end(), found.begin(), found.end());
        view_.EndInsertRows();
    }
    if (scanAt_ < rows_.size()) return false;
    scanAt_ = kNotScanning;
    return true;
}

// --- Saving

std::string EventListLogic::ShownRowsCsv() const {
    std::vector<int> columns;
    for (int c : columns_)
        if (c != kColumnIcon) columns.push_back(c);
    std::vector<std::string> titles;
    for (int c : columns) titles.push_back(core_.Text(ColumnTitleId(c)));
    std::vector<std::string_view> fields(titles.begin(), titles.end());
    std::string out;
    AppendCsvRecord(out, fields);
    for (size_t place = 0; place < ShownCount(); ++place) {
        const RowFill& fill = rows_[RowOfShown(place)]->fill;
        fields.clear();
        for (int c : columns) fields.push_back(windows::CellText(fill, c, BodyOnly()));
        AppendCsvRecord(out, fields);
    }
    return out;
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
    in.filtered = filter_.has_value();
    in.shownRows = ShownCount();
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

std::string_view EventListLogic::CellText(size_t row, int column) const {
    return windows::CellText(rows_[row]->fill, column, BodyOnly());
}

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
    // the first tick that finds the workers done (and a new filter's test
    // of the rows finished).
    if (BusyWorkers() != 0 || FilterPending()) {
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

EventListMenuState EventListLogic::MenuState(bool onTop, bool pinned, std::optional<size_t> clickedPlace) const {
    return MenuStateFor(settings_.param, onTop, pinned, clickedPlace && *clickedPlace < ShownCount(),
                        EffectiveFontHeight(), core_.dotsPerInch);
}

std::shared_ptr<const core::EventRecord> EventListLogic::EventAt(size_t place) const {
    return place < ShownCount() ? rows_[RowOfShown(place)]->event : nullptr;
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
