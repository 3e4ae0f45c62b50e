#include "windows/settings_dialog/qt/edits_question.h"

#include <QMessageBox>
#include <QPushButton>

#include "core/core_context.h"

namespace qm::windows::qt {

EditsAnswer AskAboutEdits(const core::CoreContext& core, QWidget* parent) {
    const auto q = [&](uint32_t id) { return QString::fromStdString(core.Text(id)); };
    QMessageBox box(QMessageBox::Question, q(core::str::kDialogUnappliedTitle), q(core::str::kDialogUnappliedText),
                    QMessageBox::NoButton, parent);
    box.setObjectName("UnappliedEdits");
    QPushButton* apply = box.addButton(q(core::str::kDialogApply), QMessageBox::AcceptRole);
    QPushButton* discard = box.addButton(q(core::str::kDialogDiscard), QMessageBox::DestructiveRole);
    QPushButton* cancel = box.addButton(q(core::str::kDialogCancel), QMessageBox::RejectRole);
    apply->setObjectName("apply");
    discard->setObjectName("discard");
    cancel->setObjectName("cancel");
    box.setDefaultButton(apply);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == apply) return EditsAnswer::Apply;
    if (box.clickedButton() == discard) return EditsAnswer::Discard;
    return EditsAnswer::Cancel;
}

}  // namespace qm::windows::qt
