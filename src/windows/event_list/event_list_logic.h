#pragma once
// One event list window without its widgets: reads the processing queue on
// the list timer, keeps the rows (each with its own event copy), hands each
// new or reused row to the worker pool and applies the results, sorts,
// filters, composes the status bar, the details and the rows as CSV. Every
// call is made on the GUI thread; only the workers run elsewhere, and they
// never touch the rows.
//
// A filter only decides which rows are shown: the rows stay. Each row is
// tested once when its worker's result arrives; a new filter tests the
// rows already there in slices (FilterStep), so a long list never holds
// the GUI thread for long. Meanwhile the rows not yet tested are hidden.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/event_core.h"
#include "processing/rules/rules_settings.h"
#include "windows/event_list/event_list_menu.h"
#include "windows/event_list/event_list_settings.h"
#include "windows/event_list/event_list_view.h"
#include "windows/event_list/event_row.h"
#include "windows/event_list/event_worker.h"
#include "windows/event_list/result_inbox.h"
#include "windows/event_list/row_filter.h"
#include "windows/event_list/row_sort.h"
#include "windows/event_list/status_info.h"
#include "windows/event_list/status_texts.h"
#include "windows/info_content.h"

namespace qm::core {
struct CoreContext;
}

namespace qm::windows {

class EventWorkerPool;

class EventListLogic {
public:
    // The pool and the view must outlive the logic.
    EventListLogic(core::CoreContext& core, EventWorkerPool& pool, EventListView& view, EventListSettings settings);
    // Takes no more results and waits for the items still queued or running.
    ~EventListLogic();
    EventListLogic(const EventListLogic&) = delete;
    EventListLogic& operator=(const EventListLogic&) = delete;

    // --- Settings
    const EventListSettings& Settings() const { return settings_; }
    // The current record, with the column widths the view reports (by column
    // number); what is written back when the window goes.
    void SetColumnWidth(int column, uint32_t width);
    // Param and EventParam from the window module or the settings dialog.
    void ApplyOptions(uint8_t param, uint8_t eventParam);
    // Everything at once (Apply type settings). Rows stay, unless what fills
    // them changed (event types, rules, colour scheme, grouping, names):
    // then the next tick shows the queue again from its start.
    void ApplySettings(EventListSettings settings);
    // The font height to create: FontHeight, else the core font's, else 10.
    int32_t EffectiveFontHeight() const;

    // --- Timers (periods: Settings().mainTimer / statusTimer)
    // The list timer: applies waiting results, then sorts/scrolls, follows a
    // drain of the queue and takes the next slice of at most 100 events.
    void Tick();
    // Applies the workers' results waiting; returns how many rows changed.
    size_t ApplyResults();
    // Told from a worker thread when results wait; must only schedule
    // ApplyResults on the GUI thread. Set it before the first Tick.
    void SetResultsReadyCallback(ResultInbox::ReadyCallback callback);
    // The status timer: the parts to show (one when simple, else five).
    std::vector<StatusPart> StatusTick();
    std::vector<int32_t> StatusEdges(int32_t clientWidth) const;

    // --- Columns
    // The column numbers shown, in display order.
    const std::vector<int>& Columns() const { return columns_; }
    // Which header fields are shown and whether the message loses its
    // header (kShow... bits). The view is reset; no worker is needed.
    void SetColumns(uint8_t columnBits);

    // --- Rows, for the model
    // Every row the list holds, shown or not.
    size_t RowCount() const { return rows_.size(); }
    const EventRow& Row(size_t row) const { return *rows_[row]; }
    // The text of a column of a row, as shown.
    std::string_view CellText(size_t row, int column) const;
    // The rows shown: all of them without a filter; the row at each place.
    size_t ShownCount() const { return filter_ ? shown_.size() : rows_.size(); }
    size_t RowOfShown(size_t place) const { return filter_ ? shown_[place] : place; }

    // --- Filter
    // A new filter (the view is reset and the rows are tested again in
    // slices); one that lets everything through clears it. When the text is
    // an expression that does not compile: the reason, and nothing changes.
    std::optional<std::string> SetFilter(const FilterTerms& terms);
    void ClearFilter();
    const RowFilter* Filter() const { return filter_ ? &*filter_ : nullptr; }
    // Rows wait to be tested against a new filter.
    bool FilterPending() const { return scanAt_ != kNotScanning; }
    // Tests waiting rows for about `budgetNs`; true when none wait any more.
    bool FilterStep(uint64_t budgetNs);

    // --- Saving
    // The rows shown, in their order, as CSV: a header record with the
    // titles of the columns shown (but "#", which has no text), then one
    // record per row.
    std::string ShownRowsCsv() const;
    // The live colours of a row (scheme and list colours as they are now).
    RowColors ColorsOf(size_t row) const;
    // The list's own colours: ListColor.0 background, .1 text.
    RowColors ListColors() const;
    // Selected rows: ListColor.3 text, ListColor.2 background.
    RowColors SelectedColors() const;

    // --- User actions
    // A click on column header `column`; true when the rows were re-sorted.
    bool HeaderClicked(int column);
    // Menu toggles of Param bits (autoscroll 0x80, deselect 0x02).
    void ToggleParam(uint8_t bit);
    // Zoom steps; true when FontHeight changed (the view sets the new font).
    bool ZoomIn();
    bool ZoomOut();
    // `clickedPlace`: the place among the rows shown of the row clicked.
    EventListMenuState MenuState(bool onTop, bool pinned, std::optional<size_t> clickedPlace) const;
    // The event of the row at a place among the rows shown, now (nothing
    // beyond them): what a menu keeps while it is open, as rows move under it.
    std::shared_ptr<const core::EventRecord> EventAt(size_t place) const;
    // The info box content for an event ("Подробно...", double click).
    InfoContent Details(const core::EventRecord& event) const;
    // The info box content for a double click on status part `part`.
    InfoContent StatusPartInfo(int part) const;

    // --- Counters
    // Items queued, computing or waiting to be applied.
    uint32_t BusyWorkers() const { return inbox_->Busy(); }
    // Items queued or computing: what destruction waits for.
    uint32_t RunningWorkers() const { return inbox_->Running(); }
    uint32_t ErrorCount() const { return errors_; }
    uint64_t Processed() const;
    uint64_t ProcessingMs() const;

private:
    static constexpr size_t kNotScanning = SIZE_MAX;

    void ClearRows();
    bool BodyOnly() const { return settings_.Shows(kShowBodyOnly); }
    // The filter's verdict on a filled row; an empty row is not shown.
    bool Passes(const EventRow& row) const;
    // Where a shown row is among the rows shown.
    size_t PlaceOf(size_t row) const;
    // Shows or hides rows (ascending row numbers), telling the view in runs.
    void ShowRows(const std::vector<uint32_t>& rows);
    void HideRows(const std::vector<uint32_t>& rows);
    // Every row waits for the filter again (within a view reset).
    void RestartFilter();
    void Sort();
    // The events of one slice that pass the type mask, in queue order: the
    // do-not-add rules, grouping, new rows, and an item for the pool each.
    void TakeEvents(const std::vector<std::shared_ptr<const core::EventRecord>>& events);
    void RebuildSenderIndex();
    // Picks up changes of the scheme and the list colours; true when changed.
    bool RefreshColorSources();
    std::shared_ptr<const WorkerOptions> Options();

    core::CoreContext& core_;
    EventWorkerPool& pool_;
    EventListView& view_;
    EventListSettings settings_;

    std::shared_ptr<ResultInbox> inbox_;
    std::shared_ptr<const WorkerOptions> options_;  // null: rebuilt at next use

    // By pointer, so sorting a long list moves pointers, not rows.
    std::vector<std::unique_ptr<EventRow>> rows_;
    std::vector<int> columns_;
    // With a filter: the rows it lets through, ascending, of those tested;
    // the rows from scanAt_ on are not tested yet (kNotScanning: all are).
    std::optional<RowFilter> filter_;
    std::vector<uint32_t> shown_;
    size_t scanAt_ = kNotScanning;
    // First row of each sender, for grouping; kept only while grouping is on.
    std::unordered_map<std::string, size_t> senderRows_;
    bool senderIndexValid_ = true;
    core::ReaderState reader_;
    bool rowsChanged_ = false;
    bool rereadPending_ = false;
    // Keys of the rows that are in order for sortedDirection_, one per row
    // from the first, in row order: a sort after new rows were added merges
    // them in instead of sorting everything. Emptied when a sorted row changes.
    int32_t sortedDirection_ = 0;
    std::vector<SortKey> sortKeys_;
    uint64_t nextStamp_ = 0;
    uint32_t errors_ = 0;

    // The colours rows refer to, as last seen; a change repaints every row.
    processing::ColorScheme scheme_;
    std::array<uint32_t, 6> listColors_{};

    EventRate rate_;
    uint64_t queueLimit_ = 0;  // the database's MsgLimit as last read
};

}  // namespace qm::windows
