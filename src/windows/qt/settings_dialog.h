#pragma once
// The settings dialog: a list of pages on the left, the chosen page on the
// right. Each page is one widget added under its title; for now the only
// one is the Script Editor. Made on the GUI thread when the menu's Settings
// entry is first chosen, one per program, owned by the core window; closing
// it only hides it, and the program's end destroys it. It changes modules
// only through what its pages run, never by itself.
#include <QWidget>

class QListWidget;
class QStackedWidget;

namespace qm::core {
struct CoreContext;
}

namespace qm::script {
class ScriptHost;
}

namespace qm::windows::qt {

class SettingsDialog : public QWidget {
    Q_OBJECT
public:
    // `scripts` (may be null: scripts cannot run then) must outlive the dialog.
    SettingsDialog(core::CoreContext& core, script::ScriptHost* scripts);

    // Takes the page into the dialog, listed under `title`; the first page
    // added is the one shown first.
    void AddPage(const QString& title, QWidget* page);
    int PageCount() const;
    QWidget* Page(int index) const;
    // Shows the page with this title; false when there is none.
    bool ShowPage(const QString& title);
    // Shows the dialog, or brings it forward when it is already shown.
    void ShowAndRaise();

private:
    QListWidget* list_ = nullptr;      // owned by this widget
    QStackedWidget* pages_ = nullptr;  // owned by this widget
};

}  // namespace qm::windows::qt
