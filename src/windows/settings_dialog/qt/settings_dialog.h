#pragma once
// The settings dialog: a list of pages on the left, the chosen page on the
// right. Each page is one widget added under its title: a record page for
// every module that offers its records (built from the page table), then the
// Script Editor; under them Export and Import of all settings. Made on the GUI thread when the menu's Settings
// entry is first chosen, one per program, owned by the core window; closing
// it only hides it, and the program's end destroys it. It changes modules
// only through what its pages run, never by itself. Edits typed on a page
// and not applied stay while the user moves between pages; closing the
// dialog (its Close button or the frame's) with such edits asks whether to
// apply them, drop them or stay. Its place and size are kept for the next
// start each time it closes and when the program ends with it open.
#include <functional>
#include <string>

#include <QWidget>

#include "core/raw_settings.h"

#include "windows/qt/background_call.h"

class QLabel;
class QListWidget;
class QPushButton;
class QStackedWidget;

namespace qm::core {
struct CoreContext;
}

namespace qm::script {
class ScriptHost;
}

namespace qm::windows::qt {

// What an export or import of all settings answers.
using SettingsTransferResult = core::RawSettingsResult;
using SettingsTransfer = std::function<SettingsTransferResult()>;

class SettingsDialog : public QWidget {
    Q_OBJECT
public:
    // `scripts` (may be null: scripts cannot run then) must outlive the dialog.
    SettingsDialog(core::CoreContext& core, script::ScriptHost* scripts);
    ~SettingsDialog() override;

    // Takes the page into the dialog, listed under `title`; the first page
    // added is the one shown first.
    void AddPage(const QString& title, QWidget* page);
    int PageCount() const;
    QWidget* Page(int index) const;
    // Shows the page with this title; false when there is none.
    bool ShowPage(const QString& title);
    // Shows the dialog, or brings it forward when it is already shown.
    void ShowAndRaise();

    // The calls behind Export and Import; each button shows only while its
    // call is set. They run off the GUI thread, one at a time, and the
    // answer's message is shown under the pages.
    void SetTransfers(SettingsTransfer exportSettings, SettingsTransfer importSettings);
    QPushButton& ExportButton() { return *export_; }
    QPushButton& ImportButton() { return *import_; }
    QPushButton& CloseButton() { return *close_; }
    QString TransferStatus() const;
    bool TransferRunning() const { return transfer_.Busy(); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Settles the pages' unapplied edits as the user answers; false: stay open.
    bool SettleEdits();
    void Transfer(const SettingsTransfer& call, bool reload);
    // To the place kept from the last time, where there is one.
    void OpenAtKeptPlace();
    void KeepPlace() const;

    core::CoreContext& core_;
    QListWidget* list_ = nullptr;      // widgets owned by this widget
    QStackedWidget* pages_ = nullptr;
    QPushButton* export_ = nullptr;
    QPushButton* import_ = nullptr;
    QPushButton* close_ = nullptr;
    QLabel* transferStatus_ = nullptr;
    SettingsTransfer exportCall_;
    SettingsTransfer importCall_;
    BackgroundCall transfer_{*this};
};

}  // namespace qm::windows::qt
