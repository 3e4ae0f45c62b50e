#pragma once
// The settings dialog's Script Editor page: the default script in a text box
// when the page is made, Run to hand the box's whole text to the program's
// script host, Cancel while it runs. The script runs on the host's worker;
// the page only learns of its end (a posted call), so the GUI never waits
// for a script. The report goes to the protocol window after every run,
// and a status line under the buttons says how it went.
#include <QPointer>
#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace qm::core {
struct CoreContext;
}

namespace qm::script {
class ScriptHost;
struct ScriptRun;
}

namespace qm::windows::qt {

class ScriptEditorPage : public QWidget {
    Q_OBJECT
public:
    // `scripts` (may be null: Run stays disabled) must outlive the page.
    ScriptEditorPage(core::CoreContext& core, script::ScriptHost* scripts, QWidget* parent = nullptr);

    QPlainTextEdit& Editor() { return *editor_; }
    QPushButton& RunButton() { return *run_; }
    QPushButton& CancelButton() { return *cancel_; }
    QString Status() const;

    void Run();
    void Cancel();

private:
    void Finished(const script::ScriptRun& run);
    void SetRunning(bool running);

    script::ScriptHost* const scripts_;
    QPlainTextEdit* editor_ = nullptr;  // widgets owned by this page
    QPushButton* run_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QLabel* status_ = nullptr;
};

}  // namespace qm::windows::qt
