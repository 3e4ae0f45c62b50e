#pragma once
// One event list window without its widgets: reads the processing queue on
// the list timer, keeps the rows (each with its own event copy), hands each
// new or reused row to the worker pool and applies the results, sorts,
// composes the status bar and the details. Every call is made on the GUI
// thread; only the workers run elsewhere, and they never touch the rows.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
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
    // The current record, with the column widths the view reports; what is
    // written back when the window goes.
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

    // --- Rows, for the model
    size_t RowCount() const { return rows_.size(); }
    const EventRow& Row(size_t row) const { return *rows_[row]; }
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
    EventListMenuState MenuState(bool onTop, bool pinned, std::optional<size_t> clickedRow) const;
    // The event a row shows now (nothing beyond the rows): what a menu keeps
    // while it is open, as rows move under it.
    std::shared_ptr<const core::EventRecord> EventAt(size_t row) const;
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
    void ClearRows();
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
