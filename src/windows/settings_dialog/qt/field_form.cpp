#include "windows/settings_dialog/qt/field_form.h"

#include <algorithm>
#include <cstdint>
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
#include <QSpinBox>
#include <QVBoxLayout>

#include "core/core_context.h"
#include "windows/settings_dialog/qt/colour_button.h"

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

std::string NumberText(const core::FieldDef& field, uint64_t v) {
    return field.isSigned ? std::to_string(static_cast<int64_t>(v)) : std::to_string(v);
}

// A window's place as the user thinks of it; stored as its four edges.
FieldControlRow RectControl(const core::CoreContext& core, const core::FieldDef& field, const void* record,
                            QWidget* parent) {
    auto* box = new QWidget(parent);  // owned by the parent
    auto* line = new QHBoxLayout(box);
    line->setContentsMargins(0, 0, 0, 0);
    const std::vector<uint32_t> edges = ColoursOf(field, record);  // left, top, right, bottom
    const int64_t left = int32_t(edges[0]), top = int32_t(edges[1]);
    const int64_t parts[4] = {left, top, int64_t(int32_t(edges[2])) - left, int64_t(int32_t(edges[3])) - top};
    const uint32_t captions[4] = {core::str::kRectX, core::str::kRectY, core::str::kRectWidth, core::str::kRectHeight};
    static const char* kNames[4] = {"x", "y", "width", "height"};
    std::vector<QSpinBox*> spins;
    for (size_t i = 0; i < 4; ++i) {
        line->addWidget(new QLabel(Q(core.Text(captions[i])), box));
        auto* spin = new QSpinBox(box);
        // Edges of a stored rectangle may lie anywhere a 32-bit number reaches.
        spin->setRange(i < 2 ? INT32_MIN : 0, INT32_MAX);
        spin->setValue(int(std::clamp<int64_t>(parts[i], spin->minimum(), spin->maximum())));
        spin->setObjectName(kNames[i]);
        line->addWidget(spin, 1);
        spins.push_back(spin);
    }
    auto read = [&field, spins] {
        const int64_t x = spins[0]->value(), y = spins[1]->value();
        const int64_t right = x + spins[2]->value(), bottom = y + spins[3]->value();
        // An edge past what the record holds: no text the field takes, so the check names it.
        if (right > INT32_MAX || bottom > INT32_MAX) return std::string("-");
        return ColoursText(field, {uint32_t(int32_t(x)), uint32_t(int32_t(y)), uint32_t(int32_t(right)),
                                   uint32_t(int32_t(bottom))});
    };
    return {box, std::move(read)};
}

}  // namespace

FieldControlRow MakeFieldControl(const core::CoreContext& core, const FieldHint& hint, const core::FieldDef& f,
                                 const void* data, const std::vector<ListName>& lists, QWidget* parent) {
    const bool number = f.encoding == core::FieldEncoding::Struct && f.size <= 8;
    const uint64_t value = number ? static_cast<uint64_t>(core::FieldNumber(f, data)) : 0;
    const core::FieldDef* field = &f;
    switch (ControlFor(hint, f)) {
        case FieldControl::Bits: {
            auto* box = new QWidget(parent);  // owned by the parent
            auto* column = new QVBoxLayout(box);
            column->setContentsMargins(0, 0, 0, 0);
            std::vector<std::pair<uint64_t, QCheckBox*>> checks;
            for (const Named& n : hint.names) {
                auto* check = new QCheckBox(Q(NamedText(core, n)), box);
                check->setChecked((value & n.value) != 0);
                check->setObjectName(Q(f.key + "." + HexText(n.value)));
                check->setToolTip(Q(HexText(n.value)));
                column->addWidget(check);
                checks.emplace_back(n.value, check);
            }
            // Bits no name covers keep their stored value.
            auto now = [value, checks] {
                uint64_t v = value;
                for (const auto& [bit, check] : checks) v = check->isChecked() ? (v | bit) : (v & ~bit);
                return v;
            };
            // The whole value in the echo's digits, for whoever compares it with a script's output.
            auto mark = [box, now] { box->setToolTip(Q(HexText(now()))); };
            for (const auto& [bit, check] : checks) QObject::connect(check, &QCheckBox::toggled, box, mark);
            mark();
            return {box, [field, now] { return NumberText(*field, now()); }};
        }
        case FieldControl::Choice:
        case FieldControl::ListRef: {
            std::vector<std::pair<uint64_t, QString>> choices;
            if (ControlFor(hint, f) == FieldControl::Choice) {
                for (const Named& n : hint.names) choices.emplace_back(n.value, Q(NamedText(core, n)));
            } else {
                choices.emplace_back(0, Q(core.Text(core::str::kDialogNoList)));
                for (const ListName& l : lists) choices.emplace_back(l.uid, Q(l.name));
            }
            QComboBox* box = ChoiceBox(parent, choices, value);
            return {box, [box, field] { return NumberText(*field, box->currentData().toULongLong()); }};
        }
        case FieldControl::Flag: {
            auto* check = new QCheckBox(parent);  // owned by the parent
            check->setChecked(value != 0);
            return {check, [check] { return std::string(check->isChecked() ? "1" : "0"); }};
        }
        case FieldControl::Colours: {
            std::vector<QString> captions;
            for (const Named& n : f.names) {
                if (n.value >= captions.size()) captions.resize(n.value + 1);
                QString text = Q(NamedText(core, n));
                while (text.endsWith(':') || text.endsWith(' ')) text.chop(1);
                captions[n.value] = text;
            }
            ColourRow colours = MakeColourRow(parent, f, data, captions);
            return {colours.box, std::move(colours.read)};
        }
        case FieldControl::Rect: return RectControl(core, f, data, parent);
        case FieldControl::Line: break;
    }
    auto* edit = new QLineEdit(Q(ShownText(hint, f, data)), parent);  // owned by the parent
    // QLineEdit counts UTF-16 units, as the field's capacity does.
    if (f.encoding == core::FieldEncoding::String) edit->setMaxLength(int(f.size ? f.size - 1 : 0));
    return {edit, [edit, hint, field] { return StoredText(hint, *field, edit->text().trimmed().toStdString()); }};
}

FieldForm::FieldForm(const core::CoreContext& core, const PageLayout& page, core::RecordSet set,
                     const core::RecordCopy& record, std::vector<ListName> lists, bool godMode, QWidget* parent)
    : QWidget(parent) {
    layout_ = new QFormLayout(this);  // owned by this widget
    for (const core::FieldDef& f : record.Fields()) AddRow(core, HintFor(page, set, f), f, record, lists, godMode);
}

void FieldForm::AddRow(const core::CoreContext& core, const FieldHint& hint, const core::FieldDef& f,
                       const core::RecordCopy& record, const std::vector<ListName>& lists, bool godMode) {
    Row row;
    row.field = &f;
    FieldControlRow made = MakeFieldControl(core, hint, f, record.Data(), lists, this);
    row.control = made.control;
    row.read = std::move(made.read);
    const bool number = f.encoding == core::FieldEncoding::Struct && f.size <= 8;
    const bool kept = hint.look == FieldLook::ReadOnly || (f.kind == core::FieldKind::Blob && !number);
    row.control->setEnabled(godMode || !kept);
    row.control->setObjectName(Q(f.key));
    row.initial = row.read();
    auto* caption = new QLabel(Q(FieldCaption(core, hint, f)), this);  // owned by the form
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
