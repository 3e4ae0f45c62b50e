#pragma once
// The event list window's inside: the filter bar (Ctrl+F), the table, the
// status bar, the two timers and the context menu (with the columns, the
// filter and saving as CSV), over an EventListLogic that does the thinking.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QLabel>
#include <QTableView>
#include <QTimer>
#include <QWidget>

#include "windows/event_list/event_list_logic.h"
#include "windows/qt/elided_label.h"
#include "windows/event_list/qt/event_list_filter_bar.h"
#include "windows/event_list/qt/event_list_model.h"
#include "windows/qt/frame_content.h"
#include "windows/qt/parted_status_bar.h"

namespace qm::core {
struct CoreContext;
}

namespace qm::windows::qt {

// A graph window the row menu offers.
struct GraphChoice {
    size_t index = 0;  // in the window table
    std::string name;
    bool visible = false;
};

// What the list needs of the window module for its menu and details.
struct EventListHost {
    std::function<void(const InfoContent&)> showInfo;
    std::function<uint16_t()> frameParam;        // the window entry's Param
    std::function<void(uint16_t bit)> toggleFrameParam;
    // The graph windows that draw this sender's values, and showing or hiding one.
    std::function<std::vector<GraphChoice>(const std::string& sender)> graphsOf;
    std::function<void(size_t index)> toggleWindow;
};

class EventListStatusBar : public PartedStatusBar {
    Q_OBJECT
public:
    explicit EventListStatusBar(QWidget* parent);
    void Show(const std::vector<StatusPart>& parts, const std::vector<int32_t>& edges);
    // The whole text of a part, and what of it fits (ending in "…" when cut).
    QString PartText(int part) const;
    QString ShownText(int part) const;
    int PartCount() const { return visibleParts_; }
    // Where part `part` is, in the bar's coordinates (empty when hidden).
    QRect PartRect(int part) const;

signals:
    // A double click on a part (0 for the state, ...).
    void PartDoubleClicked(int part);

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    std::vector<QLabel*> icons_;  // owned by this widget
    std::vector<ElidedLabel*> texts_;
    int visibleParts_ = 0;
};

class EventListContent : public QWidget, public FrameContent {
    Q_OBJECT
public:
    EventListContent(core::CoreContext& core, EventWorkerPool& pool, uint64_t uid, EventListHost host,
                     bool resetColumns);
    ~EventListContent() override;

    QWidget* Widget() override { return this; }
    void SaveTypeSettings() override;
    bool CurrentTypeSettings(WindowTypeSettings& out) const override;
    // The dialog's settings: shown at once, the timers on their new periods.
    void ApplyTypeSettings(const WindowTypeSettings& settings) override;
    uint32_t BusyWorkers() const override { return logic_ ? logic_->BusyWorkers() : 0; }
    uint32_t RunningWorkers() const override { return logic_ ? logic_->RunningWorkers() : 0; }

    // For tests and the screenshot run.
    EventListLogic& Logic() { return *logic_; }
    QTableView& Table() { return *table_; }
    EventListStatusBar& StatusBar() { return *status_; }
    void TickNow();
    void StatusNow();
    // The details of the row at this place of the table.
    void ShowDetails(int place);
    // The operating or memory information of a status part in the info box.
    void ShowStatusInfo(int part);
    // Zoom steps as the menu takes them (in when positive); false when every
    // step was refused.
    bool Zoom(int steps);
    // The Columns submenu's entries: the header fields shown (kShow... bits).
    void ShowColumns(uint8_t columnBits);
    // Ctrl+F: the bar shown, the caret in its text. Esc or its close button:
    // the bar hidden and every row shown again.
    void OpenFilter();
    void CloseFilter();
    EventListFilterBar& FilterBar() { return *filterBar_; }
    // "Save as CSV...": the rows shown, as shown, into `path`; the reason
    // in words when the file could not be written.
    std::optional<std::string> SaveCsv(const std::string& path);

private:
    void ApplyFont();
    // Column widths by column number: the five list columns unless all of
    // them are 0, and the header's columns shown.
    void ApplyColumns(const EventListSettings& widths);
    // The bar's filter to the logic, and its test of the rows under way.
    void FilterChanged();
    void KeepFiltering();
    void AskCsvFile();
    // Widens the date, sender and level columns to what the font needs, so
    // a larger font does not cut a date, a level name or a header.
    void FitColumnsToFont();
    // The header's arrow follows the sort column and direction.
    void ShowSortColumn();
    void ApplyColors();
    void ApplyHeaderStyle();
    void StartTimers();
    void ShowMenu(const QPoint& at);
    void ShowDetailsOf(const std::shared_ptr<const core::EventRecord>& event);
    bool Deselect(size_t row);

    core::CoreContext& core_;
    const uint64_t uid_;
    EventListHost host_;
    EventListModel model_;
    QTableView* table_ = nullptr;        // owned by this widget
    EventListStatusBar* status_ = nullptr;
    EventListFilterBar* filterBar_ = nullptr;
    std::unique_ptr<EventListLogic> logic_;
    QTimer listTimer_;
    QTimer statusTimer_;
    // Runs the test of the rows against a new filter, a slice a turn of
    // the event loop, with the loop's other work between slices.
    QTimer filterTimer_;
    // Set while the program itself sets the widths, which the view reports
    // back by place, not by column.
    bool applyingColumns_ = false;
    QString csvFolder_;  // where the last file was saved
};

}  // namespace qm::windows::qt
