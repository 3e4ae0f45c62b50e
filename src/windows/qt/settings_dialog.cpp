#include "windows/qt/settings_dialog.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QStackedWidget>

#include "core/core_context.h"
#include "windows/qt/application.h"
#include "windows/qt/icon_set.h"
#include "windows/qt/script_editor_page.h"

namespace qm::windows::qt {

namespace {

constexpr int kListWidth = 180;
constexpr int kWidth = 820;
constexpr int kHeight = 560;

}  // namespace

SettingsDialog::SettingsDialog(core::CoreContext& core, script::ScriptHost* scripts) : QWidget(nullptr, Qt::Window) {
    setObjectName("Quillmark_Settings");
    setWindowTitle(QString::fromStdString(core.Text(core::str::kSettings)));
    setWindowIcon(ProgramMainIcon());
    resize(kWidth, kHeight);

    auto* layout = new QHBoxLayout(this);  // owned by this widget
    list_ = new QListWidget(this);
    list_->setFixedWidth(kListWidth);
    pages_ = new QStackedWidget(this);
    layout->addWidget(list_);
    layout->addWidget(pages_, 1);
    connect(list_, &QListWidget::currentRowChanged, pages_, &QStackedWidget::setCurrentIndex);

    AddPage(QString::fromStdString(core.Text(core::str::kScriptEditorTitle)), new ScriptEditorPage(core, scripts));
}

void SettingsDialog::AddPage(const QString& title, QWidget* page) {
    pages_->addWidget(page);  // the stack takes it over
    list_->addItem(title);
    if (list_->count() == 1) list_->setCurrentRow(0);
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
