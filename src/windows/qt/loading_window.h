#pragma once
// The small borderless window that tells what start-up and shutdown are
// doing: the product name and one status line, bottom right of the screen.
#include <QString>
#include <QWidget>

namespace qm::windows::qt {

class LoadingWindow : public QWidget {
    Q_OBJECT
public:
    LoadingWindow();

    // Shows the window with these texts, grown to fit them (it never
    // shrinks) and moved back to the corner. GUI thread only; see Post.
    void SetText(const QString& title, const QString& message);
    // From any thread.
    static void Post(LoadingWindow* window, const std::string& title, const std::string& message);

    const QString& Title() const { return title_; }
    const QString& Message() const { return message_; }

protected:
    void paintEvent(QPaintEvent*) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void PlaceInCorner();

    QString title_;
    QString message_;
    QFont titleFont_;
    QFont messageFont_;
};

}  // namespace qm::windows::qt
