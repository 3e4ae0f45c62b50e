#include "windows/event_list/qt/event_list_content.h"

#include <cstdlib>

#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QShortcut>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QVBoxLayout>

#include "core/core_context.h"
#include "platform/file_io.h"
#include "windows/event_list/event_list_settings.h"
#include "windows/info_box/info_box_settings.h"
#include "windows/qt/colors.h"
#include "windows/qt/gui_thread.h"
#include "windows/qt/icon_set.h"
#include "windows/qt/popup_menus.h"
#include "windows/qt/program_font.h"
#include "windows/window_module/window_type_settings.h"
#include "windows/window_module/window_entry.h"

namespace qm::windows::qt {

namespace {

constexpr int kStatusParts = 5;
// A slice of the test of the rows against a new filter: well below what a
// user notices, and few slices for a full list.
constexpr uint64_t kFilterSliceNs = 10'000'000;

EventListSettings LoadSettings(core::CoreContext& core, uint64_t uid) {
    if (!core.config) return {};
    const core::SettingsSection section = core.config->Open(kWindowSettingsFile, kEventListSection);
    return LoadEventListSettings(section, uid, core.dotsPerInch);
}

}  // namespace

EventListStatusBar::EventListStatusBar(QWidget* parent) : PartedStatusBar(parent) {
    std::vector<QWidget*> parts;
    for (int i = 0; i < kStatusParts; ++i) {
        auto* icon = new QLabel(this);  // owned by its part
        icon->setFixedSize(16, 16);
        auto* text = new ElidedLabel(this);
        QWidget* part = NewPart(icon, text);
        part->setAttribute(Qt::WA_StyledBackground);
        parts.push_back(part);
        icons_.push_back(icon);
        texts_.push_back(text);
    }
    SetParts(std::move(parts));
}

void EventListStatusBar::Show(const std::vector<StatusPart>& parts, const std::vector<int32_t>& edges) {
    visibleParts_ = static_cast<int>(std::min({parts.size(), edges.size(), texts_.size()}));
    PlaceParts({edges.begin(), edges.begin() + visibleParts_});
    for (size_t i = 0; i < static_cast<size_t>(visibleParts_); ++i) {
        texts_[i]->SetFullText(QString::fromStdString(parts[i].text));
        const QIcon icon = parts[i].icon >= 0 ? ProgramIcons().Icon(parts[i].icon) : QIcon();
        const QPixmap pixmap = icon.isNull() ? QPixmap() : icon.pixmap(16, 16);
        // An unchanged icon is not set again: each set asks the part for a new layout.
        if (pixmap.cacheKey() != icons_[i]->pixmap().cacheKey()) icons_[i]->setPixmap(pixmap);
        icons_[i]->setVisible(!icon.isNull());
    }
}

QString EventListStatusBar::PartText(int part) const {
    if (part < 0 || part >= visibleParts_) return {};
    return texts_[static_cast<size_t>(part)]->FullText();
}

QRect EventListStatusBar::PartRect(int part) const {
    if (part < 0 || part >= visibleParts_) return {};
    return Parts()[static_cast<size_t>(part)]->geometry();
}

void EventListStatusBar::mouseDoubleClickEvent(QMouseEvent* event) {
    // The parts' labels leave double clicks to the bar.
    for (int part = 0; part < visibleParts_; ++part) {
        if (PartRect(part).contains(event->position().toPoint())) {
            emit PartDoubleClicked(part);
            return;
        }
    }
    QWidget::mouseDoubleClickEvent(event);
}

QString EventListStatusBar::ShownText(int part) const {
    if (part < 0 || part >= visibleParts_) return {};
    return texts_[static_cast<size_t>(part)]->text();
}

EventListContent::EventListContent(core::CoreContext& core, EventWorkerPool& pool, uint64_t uid, EventListHost host,
                                   bool resetColumns)
    : core_(core), uid_(uid), host_(std::move(host)) {
    auto* layout = new QVBoxLayout(this);  // owned by this widget
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    filterBar_ = new EventListFilterBar(core, this);
    filterBar_->hide();
    table_ = new QTableView(this);
    status_ = new EventListStatusBar(this);
    layout->addWidget(filterBar_);
    layout->addWidget(table_, 1);
    layout->addWidget(status_);

    QStringList headers;
    for (int column = 0; column < kColumnCount; ++column)
        headers << QString::fromStdString(core.Text(ColumnTitleId(column)));
    model_.SetHeaders(headers);
    model_.SetSelectionHooks([this](size_t row) { return Deselect(row); },
                             [this] {
                                 if (model_.rowCount() > 0) table_->scrollToBottom();
                             });
    logic_ = std::make_unique<EventListLogic>(core, pool, model_, LoadSettings(core, uid));
    model_.SetLogic(logic_.get());

    // Results arrive from worker threads; an apply is posted each time the
    // inbox stops being empty, and one that finds it emptied does nothing.
    QPointer<EventListContent> self(this);
    logic_->SetResultsReadyCallback([self] {
        PostToGui([self] {
            if (self) self->logic_->ApplyResults();
        });
    });

    table_->setModel(&model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setShowGrid(false);
    table_->setWordWrap(false);
    table_->setTextElideMode(Qt::ElideRight);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->horizontalHeader()->setHighlightSections(false);
    table_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(table_, &QWidget::customContextMenuRequested, this, &EventListContent::ShowMenu);
    connect(table_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) { ShowDetails(index.row()); });
    connect(status_, &EventListStatusBar::PartDoubleClicked, this, &EventListContent::ShowStatusInfo);
    connect(status_, &PartedStatusBar::Resized, this, &EventListContent::StatusNow);
    connect(table_->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int section) {
        logic_->HeaderClicked(model_.ColumnAt(section));
        ShowSortColumn();
    });
    connect(table_->horizontalHeader(), &QHeaderView::sectionResized, this, [this](int section, int, int width) {
        if (!applyingColumns_) logic_->SetColumnWidth(model_.ColumnAt(section), static_cast<uint32_t>(std::max(0, width)));
    });

    // The bar: its filter to the logic as it changes; closing it shows every row.
    connect(filterBar_, &EventListFilterBar::Changed, this, &EventListContent::FilterChanged);
    connect(filterBar_, &EventListFilterBar::CloseRequested, this, &EventListContent::CloseFilter);
    auto* find = new QShortcut(QKeySequence::Find, this);  // owned by this widget
    find->setContext(Qt::WidgetWithChildrenShortcut);
    connect(find, &QShortcut::activated, this, &EventListContent::OpenFilter);
    connect(&filterTimer_, &QTimer::timeout, this, [this] {
        if (!logic_->FilterStep(kFilterSliceNs)) return;
        filterTimer_.stop();
        StatusNow();
    });

    // A reset shows the record's default widths (widened where the font
    // needs it); they are what is saved then, as the window's place is.
    ApplyColumns(resetColumns ? EventListSettings{} : logic_->Settings());
    ApplyFont();
    if (resetColumns)
        for (int section = 0; section < model_.columnCount(); ++section)
            logic_->SetColumnWidth(model_.ColumnAt(section), static_cast<uint32_t>(table_->columnWidth(section)));
    ApplyColors();
    ApplyHeaderStyle();
    StartTimers();
}

EventListContent::~EventListContent() {
    listTimer_.stop();
    statusTimer_.stop();
    filterTimer_.stop();
    model_.SetLogic(nullptr);
    logic_.reset();
}

void EventListContent::StartTimers() {
    connect(&listTimer_, &QTimer::timeout, this, &EventListContent::TickNow);
    connect(&statusTimer_, &QTimer::timeout, this, &EventListContent::StatusNow);
    listTimer_.start(static_cast<int>(logic_->Settings().mainTimer));
    statusTimer_.start(static_cast<int>(logic_->Settings().statusTimer));
}

void EventListContent::TickNow() {
    logic_->Tick();
    KeepFiltering();
}

void EventListContent::StatusNow() {
    status_->Show(logic_->StatusTick(), logic_->StatusEdges(status_->width()));
}

bool EventListContent::Zoom(int steps) {
    bool changed = false;
    for (int i = 0; i < std::abs(steps); ++i) changed = (steps > 0 ? logic_->ZoomIn() : logic_->ZoomOut()) || changed;
    if (changed) ApplyFont();
    return changed;
}

void EventListContent::ApplyFont() {
    const QFont font = FontOf(core_.settings.font, logic_->EffectiveFontHeight());
    table_->setFont(font);
    status_->setFont(font);
    const QFontMetrics metrics(font);
    table_->verticalHeader()->setDefaultSectionSize(std::max(metrics.height() + 4, 18));
    table_->setIconSize(QSize(16, 16));
    FitColumnsToFont();
}

void EventListContent::FitColumnsToFont() {
    QStyleOptionViewItem cell;
    cell.initFrom(table_->viewport());
    cell.font = table_->font();
    cell.fontMetrics = QFontMetrics(cell.font);
    cell.features = QStyleOptionViewItem::HasDisplay;
    cell.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    const auto cellWidth = [&](const QString& text) {
        cell.text = text;
        return table_->style()->sizeFromContents(QStyle::CT_ItemViewItem, &cell, QSize(), table_).width();
    };
    // Dates have a fixed form of two-digit numbers; the widest digit gives
    // the widest date.
    int date = 0;
    for (unsigned digit = 0; digit <= 9; ++digit) {
        const unsigned n = digit * 11;
        date = std::max(date, cellWidth(QString::fromStdString(core_.Text(core::str::kEventTime, n, n, n, n, n))));
    }
    int level = 0;
    for (uint32_t id = core::str::kSeverityEmergency; id <= core::str::kSeverityUnknown; ++id)
        level = std::max(level, cellWidth(QString::fromStdString(core_.Text(id))));

    QHeaderView* header = table_->horizontalHeader();
    const auto widen = [&](int column, int content) {
        const int section = model_.SectionOf(column);
        if (section < 0) return;
        const int needed = std::max(content, header->sectionSizeHint(section));
        if (table_->columnWidth(section) < needed) table_->setColumnWidth(section, needed);
    };
    widen(kColumnDate, date);
    widen(kColumnSender, 0);  // senders vary; only the header must fit
    widen(kColumnLevel, level);
    for (int column = kFirstHeaderColumn; column < kColumnCount; ++column) widen(column, 0);
}

void EventListContent::ShowSortColumn() {
    const EventListSettings& settings = logic_->Settings();
    const int section = model_.SectionOf(std::abs(settings.sortDirection));
    const bool shown = settings.Has(kListSortable) && settings.sortDirection != 0 && section >= 0;
    QHeaderView* header = table_->horizontalHeader();
    header->setSortIndicatorShown(shown);
    // Greater texts first is the descending order.
    header->setSortIndicator(shown ? section : -1,
                             settings.sortDirection > 0 ? Qt::DescendingOrder : Qt::AscendingOrder);
    // The arrow takes room in the header.
    FitColumnsToFont();
}

void EventListContent::ApplyColumns(const EventListSettings& widths) {
    bool any = false;
    for (uint32_t w : widths.colSize) any = any || w != 0;
    applyingColumns_ = true;
    for (int section = 0; section < model_.columnCount(); ++section) {
        const int column = model_.ColumnAt(section);
        if (column < static_cast<int>(kEventListColumns) && !any) continue;
        table_->setColumnWidth(section, static_cast<int>(widths.ColumnWidth(column)));
    }
    applyingColumns_ = false;
}

void EventListContent::ShowColumns(uint8_t columnBits) {
    // The view forgets which column a width was for while it is reset.
    applyingColumns_ = true;
    logic_->SetColumns(columnBits);
    applyingColumns_ = false;
    ApplyColumns(logic_->Settings());
    FitColumnsToFont();
    ShowSortColumn();
    KeepFiltering();
}

// --- Filter

void EventListContent::OpenFilter() {
    filterBar_->show();
    filterBar_->FocusText();
}

void EventListContent::CloseFilter() {
    filterBar_->Reset();
    filterBar_->hide();
    logic_->ClearFilter();
    filterTimer_.stop();
    table_->setFocus();
    StatusNow();
}

void EventListContent::FilterChanged() {
    const std::optional<std::string> refused = logic_->SetFilter(filterBar_->Terms());
    filterBar_->ShowRefusal(
        refused ? QString::fromStdString(core_.Text(core::str::kFilterBadRegex, refused->c_str())) : QString());
    KeepFiltering();
    StatusNow();
}

void EventListContent::KeepFiltering() {
    // Not a zero timer: the event loop may run those back to back in one
    // turn, and the slices would add up to one long stall.
    if (logic_->FilterPending() && !filterTimer_.isActive()) filterTimer_.start(1);
}

// --- Saving

std::optional<std::string> EventListContent::SaveCsv(const std::string& path) {
    if (const int error = platform::ReplaceFile(path, logic_->ShownRowsCsv()))
        return core_.Text(core::str::kRawFileWriteFailed, path.c_str(), error);
    return std::nullopt;
}

void EventListContent::AskCsvFile() {
    QString title = QString::fromStdString(core_.Text(core::str::kSaveCsv));
    if (title.endsWith("...")) title.chop(3);
    // Not run in a loop of its own: the window may go while the dialog is
    // open, and takes the dialog with it.
    auto* dialog = new QFileDialog(this, title, csvFolder_.isEmpty() ? QDir::homePath() : csvFolder_,
                                   QString::fromStdString(core_.Text(core::str::kCsvFileTypes)));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix("csv");
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& file) {
        csvFolder_ = QFileInfo(file).absolutePath();
        const std::optional<std::string> failed = SaveCsv(file.toStdString());
        if (!failed) return;
        auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(), QString::fromStdString(*failed), QMessageBox::Ok,
                                    this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    });
    dialog->open();
}

void EventListContent::ApplyColors() {
    const RowColors list = logic_->ListColors();
    const RowColors selected = logic_->SelectedColors();
    QPalette palette = table_->palette();
    palette.setColor(QPalette::Base, ToQColor(list.background));
    palette.setColor(QPalette::Text, ToQColor(list.text));
    palette.setColor(QPalette::Highlight, ToQColor(selected.background));
    palette.setColor(QPalette::HighlightedText, ToQColor(selected.text));
    table_->setPalette(palette);
}

void EventListContent::ApplyHeaderStyle() {
    table_->horizontalHeader()->setSectionsClickable(logic_->Settings().Has(kListSortable));
    ShowSortColumn();
}

bool EventListContent::Deselect(size_t row) {
    QItemSelectionModel* selection = table_->selectionModel();
    if (selection == nullptr) return false;
    const QModelIndex index = model_.index(static_cast<int>(row), 0);
    const bool was = selection->isRowSelected(static_cast<int>(row), {});
    if (was) selection->select(index, QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    if (selection->currentIndex().row() == static_cast<int>(row)) selection->setCurrentIndex({}, QItemSelectionModel::NoUpdate);
    return was;
}

void EventListContent::ShowDetails(int place) {
    if (place < 0) return;
    ShowDetailsOf(logic_->EventAt(static_cast<size_t>(place)));
}

void EventListContent::ShowDetailsOf(const std::shared_ptr<const core::EventRecord>& event) {
    if (!event) return;
    const InfoContent details = logic_->Details(*event);
    if (host_.showInfo) host_.showInfo(details);
}

void EventListContent::ShowStatusInfo(int part) {
    if (host_.showInfo) host_.showInfo(logic_->StatusPartInfo(part));
}

void EventListContent::ShowMenu(const QPoint& at) {
    const QModelIndex clicked = table_->indexAt(at);
    const uint16_t frameParam = host_.frameParam ? host_.frameParam() : 0;
    const std::optional<size_t> row = clicked.isValid() ? std::optional<size_t>(clicked.row()) : std::nullopt;
    const EventListMenuState state = logic_->MenuState(frameParam & kWindowOnTop, frameParam & kWindowPinned, row);
    // Rows are added, re-sorted and regrouped while the menu is open: the
    // details are those of the event clicked, not of the row number.
    const std::shared_ptr<const core::EventRecord> clickedEvent = row ? logic_->EventAt(*row) : nullptr;
    const auto text = [this](uint32_t id) { return QString::fromStdString(core_.Text(id)); };

    QMenu menu;
    QAction* autoscroll = menu.addAction(text(core::str::kAutoscroll));
    autoscroll->setCheckable(true);
    autoscroll->setChecked(state.autoscrollChecked);
    QAction* onTop = menu.addAction(text(core::str::kStayOnTop));
    onTop->setCheckable(true);
    onTop->setChecked(state.onTopChecked);
    QAction* pin = menu.addAction(text(core::str::kPinWindow));
    pin->setCheckable(true);
    pin->setChecked(state.pinChecked);
    QAction* deselect = menu.addAction(text(core::str::kDeselectRow));
    deselect->setCheckable(true);
    deselect->setChecked(state.deselectChecked);
    deselect->setEnabled(state.deselectEnabled);
    menu.addSeparator();
    QAction* zoomIn = menu.addAction(text(core::str::kZoomIn));
    zoomIn->setEnabled(state.zoomInEnabled);
    QAction* zoomOut = menu.addAction(text(core::str::kZoomOut));
    zoomOut->setEnabled(state.zoomOutEnabled);
    menu.addSeparator();
    // The header's fields as columns, and the message without them.
    QMenu* columns = menu.addMenu(text(core::str::kColumns));
    std::vector<std::pair<QAction*, uint8_t>> columnActions;
    const uint8_t shown = logic_->Settings().columns;
    const auto addColumn = [&](uint32_t title, uint8_t bit) {
        QAction* action = columns->addAction(text(title));
        action->setCheckable(true);
        action->setChecked((shown & bit) != 0);
        columnActions.emplace_back(action, bit);
    };
    for (int column = kFirstHeaderColumn; column < kColumnCount; ++column)
        addColumn(ColumnTitleId(column), ColumnBit(column));
    columns->addSeparator();
    addColumn(core::str::kMessageBodyOnly, kShowBodyOnly);
    QAction* filter = menu.addAction(text(core::str::kFilterMenu));
    filter->setShortcut(QKeySequence::Find);  // shown; the window's own shortcut does the work
    QAction* saveCsv = menu.addAction(text(core::str::kSaveCsv));
    menu.addSeparator();
    // The graphs of the clicked row's sender: a graph whose vendor is that
    // address draws the values polled from the same device.
    QMenu* graphs = menu.addMenu(text(core::str::kShowGraph));
    std::vector<std::pair<QAction*, size_t>> graphActions;
    if (clickedEvent && host_.graphsOf) {
        for (const GraphChoice& graph : host_.graphsOf(clickedEvent->sender)) {
            QAction* action = graphs->addAction(QString::fromStdString(graph.name));
            action->setCheckable(true);
            action->setChecked(graph.visible);
            graphActions.emplace_back(action, graph.index);
        }
    }
    graphs->setEnabled(!graphActions.empty());
    QAction* details = menu.addAction(text(core::str::kDetails));
    details->setEnabled(state.detailsEnabled);
    menu.setDefaultAction(details);

    const QPointer<EventListContent> self(this);
    QAction* chosen = RunPopupMenu(menu, *this, table_->viewport()->mapToGlobal(at));
    if (!self || chosen == nullptr) return;
    if (chosen == autoscroll) logic_->ToggleParam(kListAutoscroll);
    else if (chosen == deselect) logic_->ToggleParam(kListDeselectGrouped);
    else if (chosen == onTop && host_.toggleFrameParam) host_.toggleFrameParam(kWindowOnTop);
    else if (chosen == pin && host_.toggleFrameParam) host_.toggleFrameParam(kWindowPinned);
    else if (chosen == zoomIn && logic_->ZoomIn()) ApplyFont();
    else if (chosen == zoomOut && logic_->ZoomOut()) ApplyFont();
    else if (chosen == details) ShowDetailsOf(clickedEvent);
    else if (chosen == filter) OpenFilter();
    else if (chosen == saveCsv) AskCsvFile();
    for (const auto& [action, bit] : columnActions)
        if (chosen == action) ShowColumns(logic_->Settings().columns ^ bit);
    for (const auto& [action, index] : graphActions)
        if (chosen == action && host_.toggleWindow) host_.toggleWindow(index);
}

bool EventListContent::CurrentTypeSettings(WindowTypeSettings& out) const {
    out = WindowTypeSettings{logic_->Settings()};
    return true;
}

void EventListContent::ApplyTypeSettings(const WindowTypeSettings& given) {
    const EventListSettings* settings = given.EventList();
    if (!settings) return;
    applyingColumns_ = true;
    logic_->ApplySettings(*settings);
    applyingColumns_ = false;
    ApplyColumns(logic_->Settings());
    ApplyFont();
    ApplyHeaderStyle();
    listTimer_.start(static_cast<int>(logic_->Settings().mainTimer));
    statusTimer_.start(static_cast<int>(logic_->Settings().statusTimer));
    KeepFiltering();
    StatusNow();
}

void EventListContent::SaveTypeSettings() {
    if (!core_.config) return;
    core::SettingsSection section = core_.config->OpenToChange(kWindowSettingsFile, kEventListSection);
    SaveEventListSettings(section, uid_, logic_->Settings());
    section.File().WriteString(section.Name(), "Version", "2");
    section.Commit();
}

}  // namespace qm::windows::qt
