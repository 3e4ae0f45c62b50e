#pragma once
// One record page of the settings dialog, built from a page entry and the
// module's field tables: the common settings with Apply, a table of the
// records, the lists with their entries, add / edit / delete (the module's
// deletion mark, which a second Delete lifts) and the service's start and
// stop. Every change goes through the module's RecordSets (copies out,
// Add/Replace back, each a three-try lock) and is then saved without
// waiting; a busy module shows a message instead of freezing the window.
// Start and stop run off the GUI thread. GUI thread only; the module must
// outlive the page.
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QPointer>
#include <QWidget>

#include "core/record_sets.h"
#include "windows/qt/background_call.h"
#include "windows/settings_dialog/qt/field_form.h"
#include "windows/settings_dialog/record_page_layout.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace qm::core {
struct CoreContext;
class Module;
}  // namespace qm::core

namespace qm::windows::qt {

class WindowTypeForm;

class RecordPage : public QWidget {
    Q_OBJECT
public:
    RecordPage(core::CoreContext& core, const PageLayout& page, core::Module& module, QWidget* parent = nullptr);

    const PageLayout& Layout() const { return layout_; }
    QString Status() const;

    // Copies the page's records out of the module again (kept as they were
    // when the module is busy).
    void Refresh();

    // The page's actions, as its buttons and forms run them; each gives the
    // message shown when the change did not happen, or nothing.
    std::optional<std::string> ApplyCommon(const FieldTexts& texts);
    // Rows count as the tables show them. Item and List sets only.
    std::optional<std::string> AddRecord(core::RecordSet set, const FieldTexts& texts);
    std::optional<std::string> EditRecord(core::RecordSet set, int row, const FieldTexts& texts);
    std::optional<std::string> ToggleDeleted(core::RecordSet set, int row);
    std::optional<std::string> AddEntry(int listRow, const FieldTexts& texts);
    std::optional<std::string> EditEntry(int listRow, int entryRow, const FieldTexts& texts);
    std::optional<std::string> ToggleEntryDeleted(int listRow, int entryRow);
    void StartService();
    void StopService();
    bool ServiceCallRunning() const { return service_.Busy(); }

    // Edits typed on this page and not applied yet: the common form's, an
    // open record form's, and those of a panel bound to the selected record.
    // They outlive a switch to another page and a Refresh.
    bool HasUnappliedEdits() const;
    // Applies them all (the first refusal's message, its edits kept), or
    // drops them and shows what the module holds.
    std::optional<std::string> ApplyEdits();
    void DiscardEdits();

    // A panel that edits the record selected in the items or lists table
    // reports its edits here; before the selection moves on while they are
    // pending, the page asks whether to apply them, drop them or stay.
    struct RecordEdits {
        std::function<bool()> pending;
        std::function<std::optional<std::string>()> apply;
        std::function<void()> discard;
    };
    void SetRecordEdits(RecordEdits edits) { recordEdits_ = std::move(edits); }

    FieldForm* CommonForm() { return commonForm_; }
    QTableWidget* Items() { return items_; }
    QTableWidget* Lists() { return lists_; }
    QTableWidget* Entries() { return entries_; }
    // The record form the Add or Edit button opened last, while it is open.
    RecordForm* OpenForm() { return form_; }
    // Opens the form as the Add and Edit buttons do (`row` -1: a new record).
    void OpenRecordForm(core::RecordSet set, int row);
    void OpenEntryForm(int entryRow);
    // Window pages: the selected window's own settings (null elsewhere).
    WindowTypeForm* TypeForm() { return typeForm_; }

signals:
    // The user chose another row of the items or lists table (-1: none),
    // after the question about pending record edits.
    void RecordChosen(core::RecordSet set, int row);

private:
    void GuardSelection(core::RecordSet set, QTableWidget* table, int& shown);
    QWidget* MakeTable(core::RecordSet set, QTableWidget*& table, uint32_t title);
    void FillTable(QTableWidget& table, core::RecordSet set, const std::vector<core::RecordCopy>& records,
                   const std::vector<size_t>& rows);
    void FillCommon();
    void FillEntries();
    std::vector<ListName> ListNames() const;
    std::vector<size_t>* RowsOf(core::RecordSet set);
    std::vector<core::RecordCopy>* RecordsOf(core::RecordSet set);
    bool GodMode() const;
    // Runs one module operation; then saved and refreshed, or the reason it did not happen.
    // `why`, when given, tells a module's own reason for refusing the change.
    std::optional<std::string> Change(const std::function<bool()>& operation,
                                      const std::function<std::string()>& why = {});
    std::optional<std::string> ReplaceList(int listRow, core::RecordCopy list);
    void Say(const std::string& text);
    void ServiceCall(bool start);
    void ShowSelectedWindow();
    void SelectSlot(size_t slot);
    // Which record a row shows: its slot, and its UID where the record has
    // one, since a slot given up can come back holding another record.
    struct Chosen {
        size_t slot = 0;
        std::optional<uint64_t> uid;
    };
    std::optional<Chosen> ChosenAt(core::RecordSet set, int row) const;
    // The row showing that record now, or -1 when none does.
    int RowOf(core::RecordSet set, const std::optional<Chosen>& chosen) const;

    core::CoreContext& core_;
    const PageLayout& layout_;
    core::Module& module_;
    core::RecordSets& records_;

    std::optional<core::RecordCopy> common_;
    std::vector<core::RecordCopy> itemCopies_, listCopies_;
    std::vector<size_t> itemRows_, listRows_;  // table row -> slot
    int shownItem_ = -1, shownList_ = -1;      // the rows the user chose last
    bool filling_ = false;                     // the tables are being refilled, not chosen in
    RecordEdits recordEdits_;

    // Widgets, owned by this page.
    FieldForm* commonForm_ = nullptr;
    QWidget* commonBox_ = nullptr;
    QTableWidget* items_ = nullptr;
    QTableWidget* lists_ = nullptr;
    QTableWidget* entries_ = nullptr;
    QLabel* status_ = nullptr;
    QPointer<RecordForm> form_;
    WindowTypeForm* typeForm_ = nullptr;
    BackgroundCall service_{*this};
};

}  // namespace qm::windows::qt
