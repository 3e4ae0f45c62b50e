#include "windows/qt/field_form.h"

#include <memory>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "core/core_context.h"
#include "windows/qt/colour_button.h"

namespace qm::windows::qt {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

QComboBox* ChoiceBox(QWidget* parent, const std::vector<std::pair<uint64_t, QString>>& choices, uint64_t current) {
    auto* box = new QComboBox(parent);  // owned by the form
    for (const auto& [value, text] : choices) box->addItem(text, QVariant::fromValue<qulonglong>(value));
    int at = box->findData(QVariant::fromValue<qulonglong>(current));
    if (at < 0) {
        // A stored value the list does not name stays as it is.
        box->addItem(QString::number(current), QVariant::fromValue<qulonglong>(current));
        at = box->count() - 1;
    }
    box->setCurrentIndex(at);
    return box;
}

}  // namespace

FieldForm::FieldForm(const core::CoreContext& core, const PageLayout& page, core::RecordSet set,
                     const core::RecordCopy& record, std::vector<ListName> lists, bool godMode, QWidget* parent)
    : QWidget(parent) {
    layout_ = new QFormLayout(this);  // owned by this widget
    for (const core::FieldDef& f : record.Fields()) AddRow(core, HintFor(page, set, f.key), f, record, lists, godMode);
}

void FieldForm::AddRow(const core::CoreContext& core, const FieldHint& hint, const core::FieldDef& f,
                       const core::RecordCopy& record, const std::vector<ListName>& lists, bool godMode) {
    Row row;
    row.field = &f;
    std::string label = FieldLabel(core, f);
    const void* data = record.Data();
    const bool number = f.encoding == core::FieldEncoding::Struct && f.size <= 8;
    const uint64_t value = number ? static_cast<uint64_t>(core::FieldNumber(f, data)) : 0;

    if (hint.look == FieldLook::Bits && number && !hint.names.empty()) {
        auto* box = new QWidget(this);  // owned by the form
        auto* column = new QVBoxLayout(box);
        column->setContentsMargins(0, 0, 0, 0);
        std::vector<std::pair<uint64_t, QCheckBox*>> checks;
        for (const Named& n : hint.names) {
            auto* check = new QCheckBox(Q(NamedText(core, n)), box);
            check->setChecked((value & n.value) != 0);
            column->addWidget(check);
            checks.emplace_back(n.value, check);
        }
        const core::FieldDef* field = &f;
        // Bits the page does not name keep their stored value.
        row.read = [field, value, checks] {
            uint64_t v = value;
            for (const auto& [bit, check] : checks) v = check->isChecked() ? (v | bit) : (v & ~bit);
            return field->isSigned ? std::to_string(static_cast<int64_t>(v)) : std::to_string(v);
        };
        row.control = box;
    } else if ((hint.look == FieldLook::Choice || hint.look == FieldLook::ListRef) && number) {
        std::vector<std::pair<uint64_t, QString>> choices;
        if (hint.look == FieldLook::Choice) {
            for (const Named& n : hint.names) choices.emplace_back(n.value, Q(NamedText(core, n)));
        } else {
            choices.emplace_back(0, Q(core.Text(core::str::kDialogNoList)));
            for (const ListName& l : lists) choices.emplace_back(l.uid, Q(l.name));
        }
        QComboBox* box = ChoiceBox(this, choices, value);
        const core::FieldDef* field = &f;
        row.read = [box, field] {
            const uint64_t v = box->currentData().toULongLong();
            return field->isSigned ? std::to_string(static_cast<int64_t>(v)) : std::to_string(v);
        };
        row.control = box;
    } else if (f.kind == core::FieldKind::Flag && number) {
        auto* check = new QCheckBox(this);  // owned by the form
        check->setChecked(value != 0);
        row.read = [check] { return std::string(check->isChecked() ? "1" : "0"); };
        row.control = check;
    } else if (f.kind == core::FieldKind::Colour && f.encoding == core::FieldEncoding::Struct && f.size % 4 == 0) {
        ColourRow colours = MakeColourRow(this, f, data);
        row.read = std::move(colours.read);
        row.control = colours.box;
    } else {
        auto* edit = new QLineEdit(Q(ShownText(hint, f, data)), this);  // owned by the form
        // QLineEdit counts UTF-16 units, as the field's capacity does.
        if (f.encoding == core::FieldEncoding::String) edit->setMaxLength(int(f.size ? f.size - 1 : 0));
        if (hint.look == FieldLook::Seconds) label = core.Text(core::str::kDialogInSeconds, label.c_str());
        row.read = [edit, hint] { return StoredText(hint, edit->text().toStdString()); };
        row.control = edit;
    }
    const bool kept = hint.look == FieldLook::ReadOnly || (f.kind == core::FieldKind::Blob && !number);
    row.control->setEnabled(godMode || !kept);
    row.control->setObjectName(Q(f.key));
    row.initial = row.read();
    auto* caption = new QLabel(Q(label), this);  // owned by the form
    caption->setToolTip(Q(f.key));  // the name scripts and the settings file use
    layout_->addRow(caption, row.control);
    rows_.push_back(std::move(row));
}

FieldTexts FieldForm::Changed() const {
    FieldTexts changed;
    for (const Row& row : rows_) {
        std::string now = row.read();
        if (now != row.initial) changed.emplace_back(row.field->key, std::move(now));
    }
    return changed;
}

QWidget* FieldForm::Control(const std::string& key) const {
    for (const Row& row : rows_)
        if (row.field->key == key) return row.control;
    return nullptr;
}

RecordForm::RecordForm(const core::CoreContext& core, const PageLayout& page, core::RecordSet set,
                       const core::RecordCopy& record, std::vector<ListName> lists, bool godMode, Acceptor acceptor,
                       QWidget* parent)
    : QDialog(parent), acceptor_(std::move(acceptor)) {
    setObjectName("RecordForm");
    setWindowTitle(Q(core.Text(core::str::kDialogRecordTitle, core.Text(page.title).c_str())));
    auto* layout = new QVBoxLayout(this);  // owned by the dialog
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    form_ = new FieldForm(core, page, set, record, std::move(lists), godMode);
    scroll->setWidget(form_);  // the scroll area takes it over
    layout->addWidget(scroll, 1);
    message_ = new QLabel(this);
    message_->setWordWrap(true);
    layout->addWidget(message_);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(Q(core.Text(core::str::kDialogOk)), QDialogButtonBox::AcceptRole);
    buttons->addButton(Q(core.Text(core::str::kDialogCancel)), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &RecordForm::Submit);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    resize(460, 520);
}

QString RecordForm::Message() const { return message_->text(); }

void RecordForm::Submit() {
    const std::optional<std::string> refusal = acceptor_ ? acceptor_(form_->Changed()) : std::nullopt;
    if (refusal) {
        message_->setText(Q(*refusal));
        return;
    }
    accept();
}

}  // namespace qm::windows::qt
