#pragma once
// A one-line label that shows as much of its text as fits and ends a cut
// text with an ellipsis; the whole text is its tooltip then. It asks for no
// width of its own, so a fixed-width status part decides how much is shown.
#include <QLabel>
#include <QString>

namespace qm::windows::qt {

class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent);

    void SetFullText(const QString& text);
    const QString& FullText() const { return full_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void Elide();

    QString full_;
};

}  // namespace qm::windows::qt
