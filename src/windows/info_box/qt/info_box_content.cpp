#include "windows/info_box/qt/info_box_content.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QPointer>
#include <QTextCursor>
#include <QVBoxLayout>

#include "core/core_context.h"
#include "platform/utf16.h"
#include "windows/info_box/highlight_finder.h"
#include "windows/qt/colors.h"
#include "windows/qt/icon_set.h"
#include "windows/qt/popup_menus.h"
#include "windows/qt/program_font.h"
#include "windows/window_module/window_type_settings.h"

namespace qm::windows::qt {

InfoBoxContent::InfoBoxContent(core::CoreContext& core, uint64_t uid, QWidget* frame)
    : core_(core), uid_(uid), frame_(frame) {
    if (core.config) settings_ = LoadInfoBoxSettings(*core.config, uid, core.dotsPerInch);
    auto* layout = new QVBoxLayout(this);  // owned by this widget
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    text_ = new QTextEdit(this);
    text_->setReadOnly(true);
    text_->setAcceptRichText(false);
    text_->setUndoRedoEnabled(false);
    text_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    text_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    text_->document()->setDocumentMargin(10);
    text_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(text_, &QWidget::customContextMenuRequested, this, &InfoBoxContent::ShowMenu);
    layout->addWidget(text_, 1);

    statusBar_ = new QWidget(this);
    auto* statusLayout = new QHBoxLayout(statusBar_);
    statusLayout->setContentsMargins(2, 1, 2, 1);
    statusLayout->setSpacing(2);
    statusIcon_ = new QLabel(statusBar_);
    statusIcon_->setFixedSize(16, 16);
    statusLayout->addWidget(statusIcon_);
    for (QLabel*& label : status_) {
        label = new QLabel(statusBar_);
        label->setTextFormat(Qt::PlainText);
        statusLayout->addWidget(label);
    }
    statusLayout->addStretch(1);
    layout->addWidget(statusBar_);
    ApplyColors();
    ApplyFont();
}

void InfoBoxContent::ApplyColors() {
    QPalette palette = text_->palette();
    palette.setColor(QPalette::Base, ToQColor(core_.settings.mainBgColor));
    palette.setColor(QPalette::Text, ToQColor(core_.settings.mainTextColor));
    text_->setPalette(palette);
}

void InfoBoxContent::ApplyFont() {
    const QFont font = FontOf(core_.settings.font, EffectiveFontHeight(settings_, core_.settings.font.height));
    text_->setFont(font);
    text_->document()->setDefaultFont(font);
    statusBar_->setFont(font);
}

void InfoBoxContent::ShowContent(const InfoContent& content) {
    ApplyColors();
    ApplyFont();
    if (frame_) frame_->setWindowTitle(QString::fromStdString(content.title));
    text_->setLineWrapMode(content.wordWrap ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
    // The document keeps one character per line end, so a CR LF pair
    // becomes one; positions found in the original text are mapped over.
    const std::u16string units = platform::Utf8ToUtf16(content.text);
    QString shown;
    shown.reserve(static_cast<qsizetype>(units.size()));
    documentPosition_.assign(units.size() + 1, 0);
    for (size_t i = 0; i < units.size(); ++i) {
        documentPosition_[i] = static_cast<int>(shown.size());
        if (units[i] == u'\r' && i + 1 < units.size() && units[i + 1] == u'\n') continue;
        shown.append(QChar(units[i] == u'\r' ? u'\n' : units[i]));
    }
    documentPosition_[units.size()] = static_cast<int>(shown.size());
    text_->setPlainText(shown);
    const QIcon icon = content.icon >= 0 ? ProgramIcons().Icon(content.icon) : QIcon();
    statusIcon_->setPixmap(icon.isNull() ? QPixmap() : icon.pixmap(16, 16));
    statusIcon_->setVisible(!icon.isNull());
    for (size_t i = 0; i < status_.size(); ++i) status_[i]->setText(QString::fromStdString(content.status[i]));
    ApplyHighlights(content);
    LayoutStatus();
}

void InfoBoxContent::ApplyHighlights(const InfoContent& content) {
    QTextCursor cursor(text_->document());
    for (const HighlightSpan& span : FindHighlights(content)) {
        const HighlightRule& rule = content.highlights[span.rule];
        QTextCharFormat format;
        if (rule.format.bold) format.setFontWeight(QFont::Bold);
        if (rule.format.italic) format.setFontItalic(true);
        if (rule.format.underline) format.setFontUnderline(true);
        if (rule.format.hasColor) format.setForeground(ToQColor(rule.format.color));
        if (span.span.unitEnd >= documentPosition_.size()) continue;
        cursor.setPosition(documentPosition_[span.span.unitBegin]);
        cursor.setPosition(documentPosition_[span.span.unitEnd], QTextCursor::KeepAnchor);
        cursor.mergeCharFormat(format);
    }
    cursor.clearSelection();
    text_->setTextCursor(QTextCursor(text_->document()));
}

void InfoBoxContent::LayoutStatus() {
    const std::array<int32_t, 4> edges = StatusPartEdges(settings_.statusParts, statusBar_->width());
    int32_t left = 0;
    for (size_t i = 0; i < status_.size(); ++i) {
        status_[i]->setFixedWidth(std::max(0, edges[i] - left - 2 - (i == 0 ? 18 : 0)));
        left = edges[i];
    }
}

void InfoBoxContent::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayoutStatus();
}

bool InfoBoxContent::ZoomIn() {
    if (!ZoomTextIn(settings_, core_.settings.font.height, core_.dotsPerInch)) return false;
    ApplyFont();
    return true;
}

bool InfoBoxContent::ZoomOut() {
    if (!ZoomTextOut(settings_, core_.settings.font.height, core_.dotsPerInch)) return false;
    ApplyFont();
    return true;
}

void InfoBoxContent::ShowMenu(const QPoint& at) {
    QMenu menu;
    QAction* in = menu.addAction(QString::fromStdString(core_.Text(core::str::kInfoBoxZoomIn)));
    QAction* out = menu.addAction(QString::fromStdString(core_.Text(core::str::kInfoBoxZoomOut)));
    const QPointer<InfoBoxContent> self(this);
    QAction* chosen = RunPopupMenu(menu, *this, text_->viewport()->mapToGlobal(at));
    if (!self || chosen == nullptr) return;
    if (chosen == in) ZoomIn();
    else if (chosen == out) ZoomOut();
}

void InfoBoxContent::ApplyTypeSettings(const WindowTypeSettings& given) {
    const InfoBoxSettings* settings = given.InfoBox();
    if (!settings) return;
    settings_ = *settings;
    ApplyFont();
    LayoutStatus();
}

bool InfoBoxContent::CurrentTypeSettings(WindowTypeSettings& out) const {
    out = WindowTypeSettings{settings_};
    return true;
}

void InfoBoxContent::SaveTypeSettings() {
    if (core_.config) SaveInfoBoxSettings(*core_.config, uid_, settings_);
}

}  // namespace qm::windows::qt
