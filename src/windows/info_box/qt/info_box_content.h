#pragma once
// The info box's inside: a read-only text pane and a four-part status bar.
// The body is set as plain text, so nothing in it is taken as markup; the
// highlighting rules format stretches of it afterwards.
#include <array>
#include <vector>

#include <QLabel>
#include <QTextEdit>
#include <QWidget>

#include "windows/info_box/info_box_settings.h"
#include "windows/qt/frame_content.h"

namespace qm::core {
struct CoreContext;
}

namespace qm::windows::qt {

class InfoBoxContent : public QWidget, public FrameContent {
    Q_OBJECT
public:
    InfoBoxContent(core::CoreContext& core, uint64_t uid, QWidget* frame);

    QWidget* Widget() override { return this; }
    void ShowContent(const InfoContent& content) override;
    void SaveTypeSettings() override;
    bool CurrentTypeSettings(WindowTypeSettings& out) const override;
    // A new font height and status parts take effect at once.
    void ApplyTypeSettings(const WindowTypeSettings& settings) override;

    QTextEdit& Text() { return *text_; }
    QString StatusText(int part) const { return status_[static_cast<size_t>(part)]->text(); }
    bool ZoomIn();
    bool ZoomOut();
    const InfoBoxSettings& Settings() const { return settings_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void ApplyColors();
    void ApplyFont();
    void ApplyHighlights(const InfoContent& content);
    void LayoutStatus();
    void ShowMenu(const QPoint& at);

    core::CoreContext& core_;
    const uint64_t uid_;
    QWidget* frame_;
    InfoBoxSettings settings_;
    QTextEdit* text_ = nullptr;  // owned by this widget
    QWidget* statusBar_ = nullptr;
    QLabel* statusIcon_ = nullptr;
    std::array<QLabel*, 4> status_{};
    // Document position of each UTF-16 unit of the last content's text.
    std::vector<int> documentPosition_;
};

}  // namespace qm::windows::qt
