#pragma once
// A window's own settings on the settings dialog's window pages, for the
// window selected in the page's table or, with none selected, for the next
// window the page adds. A graph and an info window show the record fields
// of the type's field table (colours with the colour chooser, each number
// of a run in a box of its own), and a graph its vendor and tags, chosen
// from what the value collector knows now or typed, each tag with its pen
// colour. An event list shows its options, event types and columns as named check
// boxes and the rules it applies, picked from the rules module, in order.
// A window of another type than the page's is named with the page that
// edits it. Apply hands them to the window module's replace with type
// settings, so a running window takes them at once and the module writes
// them; the page's Add hands them to its add. GUI thread only; the module
// outlives the form.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QGroupBox>

#include "core/record_sets.h"
#include "windows/settings_dialog/field_values.h"
#include "windows/window_module/window_type_settings.h"

class QCheckBox;
class QComboBox;
class QListWidget;
class QTableWidget;

namespace qm::core {
struct CoreContext;
}

namespace qm::windows {
class WindowModule;
}

namespace qm::windows::qt {

class WindowTypeForm : public QGroupBox {
    Q_OBJECT
public:
    // Runs one module operation the way the page does (busy, refused, or
    // done and saved), giving the message when it did not happen.
    using Change = std::function<std::optional<std::string>(const std::function<bool()>&)>;
    // Shows a message on the page.
    using Say = std::function<void(const std::string&)>;

    WindowTypeForm(core::CoreContext& core, WindowModule& module, uint8_t type, Change change, Say say,
                   QWidget* parent);

    // The settings of the window in `slot` (known to the page by `uid`
    // and `name`), or a new window's defaults. False, the form unchanged,
    // when the module stays busy.
    bool ShowWindow(std::optional<size_t> slot, uint64_t uid, const std::string& name);
    bool ForNewWindow() const { return !slot_; }
    // The shown window's settings were changed and not applied (a new
    // window's are used at its Add, so they are never pending).
    bool Pending() const;

    // The settings as the controls hold them, or why they cannot be.
    std::optional<std::string> Collect(WindowTypeSettings& out) const;
    // The Apply button: the shown window gets the settings.
    std::optional<std::string> Apply();
    // The page's Add of a window: with the settings shown for a new window,
    // else with the defaults of the entry's type. `added` gets the new window's slot.
    std::optional<std::string> AddWindow(const core::RecordCopy& entry, std::optional<size_t>& added);
    // Why an edited entry cannot go to the module as it is (a window keeps
    // the type it was made with), or nothing.
    std::optional<std::string> EditRefusal(const core::RecordCopy& original, const core::RecordCopy& edited) const;
    // The rules offered for an event list, as the rules module holds them
    // now (kept as they were when it is busy); what is chosen stays.
    void OfferRules();

    // The controls (tests, focus).
    QWidget* Control(const std::string& key) const;
    QComboBox* Vendor() const { return vendor_; }
    QTableWidget* Tags() const { return tags_; }
    void AddTag(const std::string& name, uint32_t penColor);
    void RemoveTag(int row);
    // An event list's option or event type check box; its rules and the rules offered.
    QCheckBox* Option(const std::string& key, uint64_t bit) const;
    QListWidget* Rules() const { return rules_; }
    QComboBox* OfferedRules() const { return offeredRules_; }
    // The rule buttons: the offered rule added at the end, the chosen one
    // removed or moved up (-1) or down (+1).
    void AddRule();
    void RemoveRule();
    void MoveRule(int by);

private:
    struct Row {
        const core::FieldDef* field = nullptr;
        QWidget* control = nullptr;
        std::function<std::string()> read;  // the record's text form; empty when a box holds no number
        std::string initial;
    };
    void Build(const WindowTypeSettings& settings);
    void AddFieldRow(const core::FieldDef& field, const core::RecordCopy& record);
    void AddChart(const GraphSettings& graph);
    void AddEventList(const EventListSettings& list);
    void AddRuleRow(uint64_t uid);
    // What a rule is called in the lists: its name, else its UID.
    QString RuleText(uint64_t uid) const;
    // The tag names the chosen vendor has, offered in every tag row.
    void OfferTags();

    core::CoreContext& core_;
    WindowModule& module_;
    const uint8_t type_;
    Change change_;
    Say say_;
    std::optional<size_t> slot_;
    uint64_t uid_ = 0;
    WindowTypeSettings shown_;  // what the controls started from
    std::optional<WindowTypeSettings> baseline_;  // what they gave back then
    std::vector<Row> rows_;
    struct OptionCheck {
        std::string key;
        uint64_t bit = 0;
        QCheckBox* check = nullptr;
    };
    std::vector<OptionCheck> options_;
    struct RuleName {
        uint64_t uid = 0;
        std::string name;
        bool enabled = false;
    };
    std::vector<RuleName> ruleNames_;  // the live rules, as last copied
    // Widgets, owned by this box.
    QWidget* body_ = nullptr;
    QComboBox* vendor_ = nullptr;
    QTableWidget* tags_ = nullptr;
    QListWidget* rules_ = nullptr;
    QComboBox* offeredRules_ = nullptr;
    QWidget* apply_ = nullptr;
};

}  // namespace qm::windows::qt
