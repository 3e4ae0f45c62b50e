#include "windows/settings_dialog/qt/script_editor_page.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/core_context.h"
#include "script/script_host.h"
#include "windows/qt/gui_thread.h"

namespace qm::windows::qt {

namespace {

QString DoneText(const script::ScriptRun& run) {
    if (run.cancelled) return "Cancelled";
    if (run.failures == 0) return "Done: no failures";
    return QString("Done: %1 failed statement(s)").arg(run.failures);
}

}  // namespace

ScriptEditorPage::ScriptEditorPage(core::CoreContext& core, script::ScriptHost* scripts, QWidget* parent)
    : QWidget(parent), scripts_(scripts) {
    setObjectName("ScriptEditorPage");
    auto* layout = new QVBoxLayout(this);  // owned by this widget
    editor_ = new QPlainTextEdit(this);
    // The platform's fixed font where it names one; off-screen drawing
    // names none, and the font matcher's own monospace is taken then.
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    const QFontMetrics metrics(font);
    if (metrics.horizontalAdvance("iiii") != metrics.horizontalAdvance("WWWW")) {
        font.setFamily("monospace");
        font.setStyleHint(QFont::Monospace);
        font.setFixedPitch(true);
    }
    editor_->setFont(font);
    editor_->setLineWrapMode(QPlainTextEdit::NoWrap);
    editor_->setPlainText(QString::fromStdString(script::ReadDefaultScript(core.paths.resourceFolder)));
    layout->addWidget(editor_, 1);

    auto* buttons = new QHBoxLayout;  // owned by the page's layout
    run_ = new QPushButton("Run", this);
    // Run without leaving the keyboard, as script editors do.
    run_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return));
    run_->setToolTip("Ctrl+Enter");
    cancel_ = new QPushButton("Cancel", this);
    status_ = new QLabel(this);
    buttons->addWidget(run_);
    buttons->addWidget(cancel_);
    buttons->addWidget(status_, 1);
    layout->addLayout(buttons);
    connect(run_, &QPushButton::clicked, this, &ScriptEditorPage::Run);
    connect(cancel_, &QPushButton::clicked, this, &ScriptEditorPage::Cancel);

    SetRunning(false);
    if (scripts_ == nullptr) {
        run_->setEnabled(false);
        status_->setText("Scripts cannot run here");
    }
}

QString ScriptEditorPage::Status() const { return status_->text(); }

void ScriptEditorPage::SetRunning(bool running) {
    run_->setEnabled(!running && scripts_ != nullptr);
    cancel_->setEnabled(running);
}

void ScriptEditorPage::Run() {
    if (scripts_ == nullptr || !run_->isEnabled()) return;
    // The page may be gone (the dialog closed at the program's end) by the
    // time the script ends: the answer is dropped then.
    const QPointer<ScriptEditorPage> self(this);
    const auto started = scripts_->Start(editor_->toPlainText().toStdString(), [self](const script::ScriptRun& run) {
        PostToGui([self, run] {
            if (self) self->Finished(run);
        });
    });
    switch (started) {
        case script::ScriptHost::Started::Yes:
            SetRunning(true);
            status_->setText("Running...");
            break;
        case script::ScriptHost::Started::Busy: status_->setText("Busy: another script is running"); break;
        case script::ScriptHost::Started::Closed: status_->setText("Scripts no longer run: the program is ending"); break;
    }
}

void ScriptEditorPage::Cancel() {
    if (scripts_ == nullptr || !cancel_->isEnabled()) return;
    scripts_->CancelStarted();
    status_->setText("Cancelling...");
}

void ScriptEditorPage::Finished(const script::ScriptRun& run) {
    SetRunning(false);
    status_->setText(DoneText(run));
}

}  // namespace qm::windows::qt
