#include "windows/settings_dialog/qt/settings_dialog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "core/core_context.h"
#include "core/module.h"
#include "core/record_sets.h"
#include "windows/qt/application.h"
#include "windows/settings_dialog/qt/edits_question.h"
#include "windows/qt/icon_set.h"
#include "windows/settings_dialog/qt/record_page.h"
#include "windows/settings_dialog/record_page_layout.h"
#include "windows/settings_dialog/qt/script_editor_page.h"
#include "windows/window_module/dialog_place.h"

namespace qm::windows::qt {

namespace {

constexpr int kListWidth = 180;
constexpr int kWidth = 1000;
constexpr int kHeight = 640;

}  // namespace

SettingsDialog::SettingsDialog(core::CoreContext& core, script::ScriptHost* scripts)
    : QWidget(nullptr, Qt::Window), core_(core) {
    setObjectName("Quillmark_Settings");
    setWindowTitle(QString::fromStdString(core.Text(core::str::kSettings)));
    setWindowIcon(ProgramMainIcon());
    resize(kWidth, kHeight);

    auto* outer = new QVBoxLayout(this);  // owned by this widget
    auto* layout = new QHBoxLayout;
    list_ = new QListWidget(this);
    list_->setFixedWidth(kListWidth);
    pages_ = new QStackedWidget(this);
    layout->addWidget(list_);
    layout->addWidget(pages_, 1);
    outer->addLayout(layout, 1);
    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
        pages_->setCurrentIndex(row);
        // A page shows what the module holds now, not when it was made.
        if (auto* page = dynamic_cast<RecordPage*>(pages_->widget(row))) page->Refresh();
    });

    auto* transfers = new QHBoxLayout;
    export_ = new QPushButton(QString::fromStdString(core.Text(core::str::kDialogExport)), this);
    import_ = new QPushButton(QString::fromStdString(core.Text(core::str::kDialogImport)), this);
    transferStatus_ = new QLabel(this);
    // An answer names a path and every module: it may not widen the dialog,
    // and its whole text stays readable as the label's tool tip.
    transferStatus_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    transfers->addWidget(export_);
    transfers->addWidget(import_);
    transfers->addWidget(transferStatus_, 1);
    close_ = new QPushButton(QString::fromStdString(core.Text(core::str::kDialogClose)), this);
    close_->setObjectName("close");
    transfers->addWidget(close_);
    outer->addLayout(transfers);
    connect(export_, &QPushButton::clicked, this, [this] { Transfer(exportCall_, false); });
    connect(import_, &QPushButton::clicked, this, [this] { Transfer(importCall_, true); });
    // As the frame's close: unapplied edits are asked about first.
    connect(close_, &QPushButton::clicked, this, &QWidget::close);
    SetTransfers(nullptr, nullptr);

    for (const PageLayout& page : RecordPageLayouts()) {
        core::Module* module = core.registry ? core.registry->Find(page.module) : nullptr;
        if (module == nullptr || module->Records() == nullptr) continue;
        AddPage(QString::fromStdString(core.Text(page.title)), new RecordPage(core, page, *module));
    }
    AddPage(QString::fromStdString(core.Text(core::str::kScriptEditorTitle)), new ScriptEditorPage(core, scripts));
    OpenAtKeptPlace();
}

SettingsDialog::~SettingsDialog() {
    // The program ends with the dialog open: it opens there at the next start.
    if (isVisible()) KeepPlace();
}

void SettingsDialog::OpenAtKeptPlace() {
    if (!core_.config) return;
    std::vector<Rect> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect g = screen->availableGeometry();
        screens.push_back(Rect{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()});
    }
    const QSize least = minimumSizeHint();
    const std::optional<Rect> kept = DialogOpeningRect(LoadDialogPlace(*core_.config), core_.options.windowReset,
                                                       screens, least.width(), least.height());
    if (!kept) return;
    resize(kept->Width(), kept->Height());
    move(kept->left, kept->top);
}

void SettingsDialog::KeepPlace() const {
    if (!core_.config) return;
    // pos() is the frame's corner and size() the inner size: what move()
    // and resize() take back, whatever frame the window manager draws.
    const QPoint at = pos();
    const DialogPlace place{Rect{at.x(), at.y(), at.x() + width(), at.y() + height()}};
    if (!SaveDialogPlace(*core_.config, place))
        std::fprintf(stderr, "quillmark: the settings dialog's place could not be kept in %s (%s)\n",
                     core_.config->FileFor(kWindowSettingsFile).c_str(), std::strerror(errno));
}

void SettingsDialog::SetTransfers(SettingsTransfer exportSettings, SettingsTransfer importSettings) {
    exportCall_ = std::move(exportSettings);
    importCall_ = std::move(importSettings);
    export_->setVisible(static_cast<bool>(exportCall_));
    import_->setVisible(static_cast<bool>(importCall_));
}

QString SettingsDialog::TransferStatus() const { return transferStatus_->text(); }

void SettingsDialog::Transfer(const SettingsTransfer& call, bool reload) {
    if (!call) return;
    const bool started = transfer_.Run<SettingsTransferResult>(call, [this, reload](SettingsTransferResult result) {
        transferStatus_->setText(QString::fromStdString(result.message));
        transferStatus_->setToolTip(transferStatus_->text());
        export_->setEnabled(true);
        import_->setEnabled(true);
        if (!reload) return;
        for (int i = 0; i < pages_->count(); ++i)
            if (auto* page = dynamic_cast<RecordPage*>(pages_->widget(i))) page->Refresh();
    });
    if (!started) return;
    export_->setEnabled(false);
    import_->setEnabled(false);
    transferStatus_->setText(QString::fromStdString(core_.Text(core::str::kDialogWorking)));
}

void SettingsDialog::AddPage(const QString& title, QWidget* page) {
    pages_->addWidget(page);  // the stack takes it over
    list_->addItem(title);
    // Titles are longer in some languages: the list widens to show them whole.
    const int wanted = list_->sizeHintForColumn(0) + 2 * list_->frameWidth() + 8;
    if (wanted > list_->width()) list_->setFixedWidth(wanted);
    if (list_->count() == 1) list_->setCurrentRow(0);
}

void SettingsDialog::closeEvent(QCloseEvent* event) {
    if (!SettleEdits()) {
        event->ignore();
        return;
    }
    KeepPlace();
    event->accept();
}

bool SettingsDialog::SettleEdits() {
    std::vector<int> edited;
    for (int i = 0; i < pages_->count(); ++i)
        if (auto* page = dynamic_cast<RecordPage*>(pages_->widget(i)); page && page->HasUnappliedEdits()) edited.push_back(i);
    if (edited.empty()) return true;
    switch (AskAboutEdits(core_, this)) {
        case EditsAnswer::Cancel: return false;
        case EditsAnswer::Discard:
            for (int i : edited) static_cast<RecordPage*>(pages_->widget(i))->DiscardEdits();
            return true;
        case EditsAnswer::Apply: break;
    }
    for (int i : edited) {
        if (static_cast<RecordPage*>(pages_->widget(i))->ApplyEdits()) {
            // The page says why on its status line; the dialog stays on it.
            list_->setCurrentRow(i);
            return false;
        }
    }
    return true;
}

int SettingsDialog::PageCount() const { return pages_->count(); }

QWidget* SettingsDialog::Page(int index) const { return pages_->widget(index); }

bool SettingsDialog::ShowPage(const QString& title) {
    const QList<QListWidgetItem*> found = list_->findItems(title, Qt::MatchExactly);
    if (found.isEmpty()) return false;
    list_->setCurrentItem(found.front());
    return true;
}

void SettingsDialog::ShowAndRaise() {
    if (isMinimized()) showNormal();
    else show();
    if (CanRaiseWindows()) {
        raise();
        activateWindow();
    }
}

}  // namespace qm::windows::qt
