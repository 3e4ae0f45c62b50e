#include "windows/graph/qt/graph_content.h"

#include <QContextMenuEvent>
#include <QShowEvent>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QToolTip>
#include <QVBoxLayout>

#include "core/core_context.h"
#include "platform/clock.h"
#include "core/value_collector.h"
#include "windows/info_box/info_box_settings.h"
#include "windows/qt/colors.h"
#include "windows/qt/popup_menus.h"
#include "windows/qt/program_font.h"
#include "windows/window_module/window_entry.h"
#include "windows/window_module/window_type_settings.h"

namespace qm::windows::qt {

namespace {

constexpr int kSquareSize = 12;

GraphSettings LoadSettings(core::CoreContext& core, uint64_t uid) {
    if (!core.config) return {};
    const core::SettingsSection section = core.config->Open(kWindowSettingsFile, kGraphSection);
    return LoadGraphSettings(section, uid, core.dotsPerInch);
}

QPixmap TagSquare(uint32_t color) {
    QPixmap square(kSquareSize, kSquareSize);
    square.fill(ToQColor(color));
    QPainter painter(&square);
    painter.setPen(IsDark(color) ? Qt::white : Qt::black);
    painter.drawRect(0, 0, kSquareSize - 1, kSquareSize - 1);
    return square;
}

}  // namespace

GraphChartView::GraphChartView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    fonts_.label = GraphLabelFont();
}

void GraphChartView::SetChart(Chart chart, const GraphSettings& settings, const QFont& axisFont) {
    chart_ = std::move(chart);
    settings_ = settings;
    fonts_.axis = axisFont;
    picture_.reset();
    update();
}

const GraphPicture& GraphChartView::Picture() {
    if (!picture_)
        picture_ = LayOutGraph(chart_, settings_, width(), height(), MeasureWith(fonts_.label), MeasureWith(fonts_.axis));
    return *picture_;
}

QString GraphChartView::HoverText(const QPoint& at) {
    const std::optional<HoverSample> near = SampleNear(chart_, Picture(), PointF{double(at.x()), double(at.y())});
    return near ? QString::fromStdString(near->text) : QString();
}

void GraphChartView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    PaintGraph(painter, Picture(), chart_, settings_, fonts_);
}

void GraphChartView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    picture_.reset();
}

bool GraphChartView::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString text = HoverText(help->pos());
        if (text.isEmpty()) QToolTip::hideText();
        else QToolTip::showText(help->globalPos(), text, this);
        return true;
    }
    return QWidget::event(event);
}

GraphStatusBar::GraphStatusBar(QWidget* parent) : PartedStatusBar(parent) {}

void GraphStatusBar::Show(const std::vector<GraphStatusPart>& parts) {
    // Tags come and go with the settings: the parts are made anew when their number changes.
    if (parts.size() != Parts().size()) {
        squares_.clear();
        texts_.clear();
        std::vector<QWidget*> made;
        for (size_t i = 0; i < parts.size(); ++i) {
            auto* square = new QLabel(this);  // owned by its part
            square->setFixedSize(kSquareSize, kSquareSize);
            auto* text = new ElidedLabel(this);
            made.push_back(NewPart(square, text));
            squares_.push_back(square);
            texts_.push_back(text);
        }
        SetParts(std::move(made));
    }
    std::vector<int32_t> edges;
    int32_t right = 0;
    for (const GraphStatusPart& part : parts) edges.push_back(right += part.width);
    PlaceParts(edges);
    for (size_t i = 0; i < parts.size(); ++i) {
        texts_[i]->SetFullText(QString::fromStdString(parts[i].text));
        squares_[i]->setVisible(parts[i].penColor.has_value());
        if (parts[i].penColor) squares_[i]->setPixmap(TagSquare(*parts[i].penColor));
    }
}

QString GraphStatusBar::PartText(int part) const {
    if (part < 0 || part >= PartCount()) return {};
    return texts_[static_cast<size_t>(part)]->FullText();
}

QString GraphStatusBar::ShownText(int part) const {
    if (part < 0 || part >= PartCount()) return {};
    return texts_[static_cast<size_t>(part)]->text();
}

GraphContent::GraphContent(core::CoreContext& core, uint64_t uid, GraphHost host)
    : GraphContent(core, uid, std::move(host), LoadSettings(core, uid)) {}

GraphContent::GraphContent(core::CoreContext& core, uint64_t uid, GraphHost host, GraphSettings settings)
    : core_(core), uid_(uid), host_(std::move(host)), settings_(std::move(settings)) {
    shown_.assign(settings_.tags.size(), true);
    auto* layout = new QVBoxLayout(this);  // owned by this widget
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    chart_ = new GraphChartView(this);
    status_ = new GraphStatusBar(this);
    layout->addWidget(chart_, 1);
    layout->addWidget(status_);
    status_->setFont(WindowFont());
    connect(status_, &PartedStatusBar::Resized, this, &GraphContent::ShowStatus);

    connect(&refreshTimer_, &QTimer::timeout, this, [this] {
        if (ShouldRefresh()) Refresh();
    });
    connect(&countdownTimer_, &QTimer::timeout, this, &GraphContent::CountdownTick);
    refreshTimer_.start(settings_.RefreshTimerMs());
    countdownTimer_.start(1000);
    Refresh();
}

GraphContent::~GraphContent() {
    refreshTimer_.stop();
    countdownTimer_.stop();
}

QFont GraphContent::WindowFont() const { return FontOf(core_.settings.font, settings_.fontHeight); }

bool GraphContent::ShouldRefresh() const {
    const QWidget* top = window();
    return isVisible() && !(top && top->isMinimized());
}

void GraphContent::Refresh() {
    GraphReading reading;
    if (core_.values) reading = ReadShownTags(*core_.values, settings_, shown_);
    vendorCount_ = reading.vendorCount;
    chart_->SetChart(BuildChart(settings_, reading.shown, platform::UnixSecondsNow()), settings_, WindowFont());
    countdown_ = settings_.refreshTimeout / 1000;
    ShowStatus();
}

void GraphContent::CountdownTick() {
    if (countdown_ > 0) --countdown_;
    if (isVisible()) ShowStatus();
}

void GraphContent::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // A hidden graph was not refreshed: what it holds may be hours old.
    if (!event->spontaneous()) Refresh();
}

void GraphContent::ShowStatus() {
    status_->Show(GraphStatusParts(core_, settings_, vendorCount_, core_.settings.valueCollectorStackLimit, countdown_,
                                   status_->width()));
}

void GraphContent::ToggleTag(size_t tag) {
    if (tag >= shown_.size()) return;
    shown_[tag] = !shown_[tag];
    Refresh();
}

void GraphContent::contextMenuEvent(QContextMenuEvent* event) {
    const auto text = [this](uint32_t id) { return QString::fromStdString(core_.Text(id)); };
    const uint16_t frameParam = host_.frameParam ? host_.frameParam() : 0;
    QMenu menu;
    std::vector<QAction*> tags;
    for (size_t i = 0; i < settings_.tags.size(); ++i) {
        QAction* tag = menu.addAction(QString::fromStdString(settings_.tags[i].name));
        tag->setCheckable(true);
        tag->setChecked(shown_[i]);
        tags.push_back(tag);
    }
    if (!tags.empty()) menu.addSeparator();
    QAction* refresh = menu.addAction(text(core::str::kRefresh));
    menu.addSeparator();
    QAction* onTop = menu.addAction(text(core::str::kStayOnTop));
    onTop->setCheckable(true);
    onTop->setChecked(frameParam & kWindowOnTop);
    QAction* pin = menu.addAction(text(core::str::kPinWindow));
    pin->setCheckable(true);
    pin->setChecked(frameParam & kWindowPinned);

    const QPointer<GraphContent> self(this);
    QAction* chosen = RunPopupMenu(menu, *this, event->globalPos());
    if (!self || chosen == nullptr) return;
    if (chosen == refresh) Refresh();
    else if (chosen == onTop && host_.toggleFrameParam) host_.toggleFrameParam(kWindowOnTop);
    else if (chosen == pin && host_.toggleFrameParam) host_.toggleFrameParam(kWindowPinned);
    for (size_t i = 0; i < tags.size(); ++i)
        if (chosen == tags[i]) ToggleTag(i);
}

void GraphContent::ApplyTypeSettings(const WindowTypeSettings& given) {
    const GraphSettings* settings = given.Graph();
    if (!settings) return;
    settings_ = *settings;
    shown_.assign(settings_.tags.size(), true);
    status_->setFont(WindowFont());
    refreshTimer_.start(settings_.RefreshTimerMs());
    Refresh();
}

bool GraphContent::CurrentTypeSettings(WindowTypeSettings& out) const {
    out = WindowTypeSettings{settings_};
    return true;
}

void GraphContent::SaveTypeSettings() {
    if (!core_.config) return;
    core::SettingsSection section = core_.config->OpenToChange(kWindowSettingsFile, kGraphSection);
    SaveGraphSettings(section, uid_, settings_);
    section.File().WriteString(section.Name(), "Version", "2");
    section.Commit();
}

}  // namespace qm::windows::qt
