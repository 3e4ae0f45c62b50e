#pragma once
// One record's fields as controls, built from its field table: a check box
// for a flag, check boxes for named bits, a drop-down list for named values
// and list references, colour buttons (each with what it colours) that open
// the colour chooser, a rectangle as x, y, width and height, line edits
// limited to a text's capacity in UTF-16 units, labels with their units. Read-only fields stay
// disabled unless GodMode is on. The form only reads and shows values; the
// page checks and applies them. GUI thread only.
#include <functional>
#include <string>
#include <vector>

#include <QDialog>
#include <QWidget>

#include "core/record_sets.h"
#include "windows/settings_dialog/field_values.h"
#include "windows/settings_dialog/record_page_layout.h"

class QFormLayout;
class QLabel;

namespace qm::windows::qt {

struct ListName {
    uint64_t uid = 0;
    std::string name;
};

// One field's control (owned by `parent`) and how to read it back in the
// record's text form; both of the dialog's forms build their rows with it.
struct FieldControlRow {
    QWidget* control = nullptr;
    std::function<std::string()> read;
};
FieldControlRow MakeFieldControl(const core::CoreContext& core, const FieldHint& hint, const core::FieldDef& field,
                                 const void* record, const std::vector<ListName>& lists, QWidget* parent);

class FieldForm : public QWidget {
    Q_OBJECT
public:
    FieldForm(const core::CoreContext& core, const PageLayout& page, core::RecordSet set, const core::RecordCopy& record,
              std::vector<ListName> lists, bool godMode, QWidget* parent = nullptr);

    // The values whose controls were changed, in the record's text form.
    FieldTexts Changed() const;
    // The control of a field (for the tests and the focus), or null.
    QWidget* Control(const std::string& key) const;

private:
    struct Row {
        const core::FieldDef* field = nullptr;
        std::string initial;                // what read() gave when the form was made
        std::function<std::string()> read;  // the control's value in the record's text form
        QWidget* control = nullptr;         // owned by the form
    };
    void AddRow(const core::CoreContext& core, const FieldHint& hint, const core::FieldDef& field,
                const core::RecordCopy& record, const std::vector<ListName>& lists, bool godMode);

    std::vector<Row> rows_;
    QFormLayout* layout_ = nullptr;  // owned by this widget
};

// A record's form in a dialog of its own; OK hands the changed values to
// the acceptor, and the dialog closes only when the acceptor takes them
// (a refusal or a busy module is shown in the dialog, which stays open).
class RecordForm : public QDialog {
    Q_OBJECT
public:
    using Acceptor = std::function<std::optional<std::string>(const FieldTexts&)>;
    RecordForm(const core::CoreContext& core, const PageLayout& page, core::RecordSet set, const core::RecordCopy& record,
               std::vector<ListName> lists, bool godMode, Acceptor acceptor, QWidget* parent);

    FieldForm& Fields() { return *form_; }
    QString Message() const;
    // What the OK button does.
    void Submit();

private:
    FieldForm* form_ = nullptr;  // owned by the dialog
    QLabel* message_ = nullptr;
    Acceptor acceptor_;
};

}  // namespace qm::windows::qt
