#pragma once
// The event list's filter bar, above the rows: a text in the message (plain
// or a regular expression, with or without regard to case), a lowest
// severity, a part of the sender or host, and a close button. It only
// collects what is asked for; the list's logic does the filtering. Esc in
// any of its controls, like the close button, asks to close it. GUI thread
// only.
#include <QTimer>
#include <QWidget>

#include "windows/event_list/row_filter.h"

class QComboBox;
class QLineEdit;
class QToolButton;

namespace qm::core {
struct CoreContext;
}

namespace qm::windows::qt {

class EventListFilterBar : public QWidget {
    Q_OBJECT
public:
    EventListFilterBar(const core::CoreContext& core, QWidget* parent);

    FilterTerms Terms() const;
    // Every control back to letting every row through, without a Changed.
    void Reset();
    // Marks the text as refused with the reason; an empty reason unmarks it.
    void ShowRefusal(const QString& reason);
    bool Refused() const { return refused_; }
    // Puts the caret into the text, all of it selected.
    void FocusText();

    // The controls (tests, the screenshot run).
    QLineEdit& Text() const { return *text_; }
    QToolButton& Regex() const { return *regex_; }
    QToolButton& MatchCase() const { return *matchCase_; }
    QComboBox& Severity() const { return *severity_; }
    QLineEdit& Source() const { return *source_; }
    QToolButton& CloseButton() const { return *close_; }

signals:
    // What is asked for changed: at once for a button or a level, a moment
    // after the last key for the texts, so each key does not filter anew.
    void Changed();
    void CloseRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLineEdit* text_ = nullptr;  // owned by this widget
    QToolButton* regex_ = nullptr;
    QToolButton* matchCase_ = nullptr;
    QComboBox* severity_ = nullptr;
    QLineEdit* source_ = nullptr;
    QToolButton* close_ = nullptr;
    QTimer settle_;
    bool refused_ = false;
};

}  // namespace qm::windows::qt
