#include "windows/event_list/qt/event_list_filter_bar.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

#include "core/core_context.h"
#include "core/event_record.h"

namespace qm::windows::qt {

namespace {

// Typing pauses shorter than this are one edit: a long list is tested once
// for the word, not once per letter.
constexpr int kSettleMs = 250;

QString Q(const std::string& text) { return QString::fromStdString(text); }

QToolButton* ToggleButton(const QString& text, const QString& tip, QWidget* parent) {
    auto* b = new QToolButton(parent);  // owned by the bar
    b->setText(text);
    b->setToolTip(tip);
    b->setCheckable(true);
    b->setAutoRaise(true);
    return b;
}

}  // namespace

EventListFilterBar::EventListFilterBar(const core::CoreContext& core, QWidget* parent) : QWidget(parent) {
    setObjectName("eventListFilter");
    auto* line = new QHBoxLayout(this);  // owned by this widget
    line->setContentsMargins(4, 2, 2, 2);
    line->setSpacing(4);

    // Short controls with tool tips: the bar fits the narrowest window.
    text_ = new QLineEdit(this);
    text_->setObjectName("filterText");
    text_->setPlaceholderText(Q(core.Text(core::str::kFilterText)));
    text_->setClearButtonEnabled(true);
    text_->setMinimumWidth(60);
    regex_ = ToggleButton(".*", Q(core.Text(core::str::kFilterRegex)), this);
    matchCase_ = ToggleButton("Aa", Q(core.Text(core::str::kFilterMatchCase)), this);
    auto* level = new QLabel(Q(core.Text(core::str::kFilterSeverity)), this);
    severity_ = new QComboBox(this);
    severity_->setObjectName("filterSeverity");
    severity_->addItem(Q(core.Text(core::str::kFilterAnySeverity)), QVariant::fromValue<uint>(kAnySeverity));
    for (uint32_t s = 0; s <= 7; ++s) severity_->addItem(Q(core.Text(core::SeverityNameId(s))), QVariant::fromValue<uint>(s));
    level->setBuddy(severity_);
    source_ = new QLineEdit(this);
    source_->setObjectName("filterSource");
    source_->setPlaceholderText(Q(core.Text(core::str::kFilterSource)));
    source_->setClearButtonEnabled(true);
    source_->setMinimumWidth(50);
    close_ = new QToolButton(this);
    close_->setText(QString(QChar(0x00D7)));
    close_->setToolTip(Q(core.Text(core::str::kFilterClose)));
    close_->setAutoRaise(true);

    line->addWidget(text_, 3);
    line->addWidget(regex_);
    line->addWidget(matchCase_);
    line->addWidget(level);
    line->addWidget(severity_);
    line->addWidget(source_, 1);
    line->addWidget(close_);

    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    connect(&settle_, &QTimer::timeout, this, &EventListFilterBar::Changed);
    connect(text_, &QLineEdit::textEdited, this, [this] { settle_.start(); });
    connect(source_, &QLineEdit::textEdited, this, [this] { settle_.start(); });
    // The clear buttons empty a text without an edit of it.
    connect(text_, &QLineEdit::textChanged, this, [this](const QString& t) {
        if (t.isEmpty()) settle_.start();
    });
    connect(source_, &QLineEdit::textChanged, this, [this](const QString& t) {
        if (t.isEmpty()) settle_.start();
    });
    for (QToolButton* b : {regex_, matchCase_}) connect(b, &QToolButton::toggled, this, &EventListFilterBar::Changed);
    connect(severity_, &QComboBox::activated, this, &EventListFilterBar::Changed);
    connect(close_, &QToolButton::clicked, this, &EventListFilterBar::CloseRequested);
}

FilterTerms EventListFilterBar::Terms() const {
    FilterTerms terms;
    terms.text = text_->text().toStdString();
    terms.regex = regex_->isChecked();
    terms.matchCase = matchCase_->isChecked();
    terms.severityAtLeast = severity_->currentData().toUInt();
    terms.source = source_->text().trimmed().toStdString();
    return terms;
}

void EventListFilterBar::Reset() {
    settle_.stop();
    const QSignalBlocker blockers[] = {QSignalBlocker(text_), QSignalBlocker(regex_), QSignalBlocker(matchCase_),
                                       QSignalBlocker(severity_), QSignalBlocker(source_)};
    text_->clear();
    regex_->setChecked(false);
    matchCase_->setChecked(false);
    severity_->setCurrentIndex(0);
    source_->clear();
    ShowRefusal({});
}

void EventListFilterBar::ShowRefusal(const QString& reason) {
    refused_ = !reason.isEmpty();
    QPalette palette = text_->palette();
    // The system's own colours back once the text is good again.
    palette.setColor(QPalette::Base, refused_ ? QColor(0xFF, 0xD8, 0xD8) : this->palette().color(QPalette::Base));
    text_->setPalette(palette);
    text_->setToolTip(reason);
}

void EventListFilterBar::FocusText() {
    text_->setFocus(Qt::ShortcutFocusReason);
    text_->selectAll();
}

void EventListFilterBar::keyPressEvent(QKeyEvent* event) {
    // The controls leave Esc to the bar.
    if (event->key() == Qt::Key_Escape) {
        emit CloseRequested();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace qm::windows::qt
