#include "windows/settings_dialog/qt/record_page.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

#include "core/core_context.h"
#include "core/module.h"
#include "windows/settings_dialog/qt/edits_question.h"
#include "windows/settings_dialog/qt/window_type_form.h"
#include "windows/window_module/window_module.h"

namespace qm::windows::qt {

namespace {

using core::RecordSet;
namespace str = core::str;

QString Q(const std::string& text) { return QString::fromStdString(text); }

uint64_t NumberOf(const core::RecordCopy& record, std::string_view key) {
    const core::FieldDef* f = record.Find(key);
    return f ? static_cast<uint64_t>(core::FieldNumber(*f, record.Data())) : 0;
}

int SelectedRow(const QTableWidget* table) {
    if (table == nullptr) return -1;
    const QList<QTableWidgetItem*> selected = table->selectedItems();
    return selected.isEmpty() ? table->currentRow() : selected.front()->row();
}

}  // namespace

RecordPage::RecordPage(core::CoreContext& core, const PageLayout& page, core::Module& module, QWidget* parent)
    : QWidget(parent), core_(core), layout_(page), module_(module), records_(*module.Records()) {
    setObjectName("RecordPage");
    auto* outer = new QVBoxLayout(this);  // owned by this widget
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    scroll->setWidget(body);  // the scroll area takes it over
    outer->addWidget(scroll, 1);

    if (layout_.common) {
        auto* group = new QGroupBox(Q(core_.Text(str::kDialogCommon)), body);
        auto* column = new QVBoxLayout(group);
        commonBox_ = group;
        auto* apply = new QPushButton(Q(core_.Text(str::kDialogApply)), group);
        apply->setObjectName("apply");
        column->addWidget(apply, 0, Qt::AlignRight);
        connect(apply, &QPushButton::clicked, this, [this] {
            if (commonForm_) ApplyCommon(commonForm_->Changed());
        });
        layout->addWidget(group);
    }
    if (layout_.items) {
        layout->addWidget(MakeTable(RecordSet::Item, items_, str::kDialogRecords));
        GuardSelection(RecordSet::Item, items_, shownItem_);
    }
    auto* windows = dynamic_cast<WindowModule*>(&module_);
    if (layout_.windowType && items_ && windows) {
        typeForm_ = new WindowTypeForm(
            core_, *windows, *layout_.windowType, [this](const std::function<bool()>& operation) { return Change(operation); },
            [this](const std::string& text) { Say(text); }, body);
        layout->addWidget(typeForm_);
        // The window's own settings are the chosen record's panel: choosing
        // another window with them changed asks first.
        SetRecordEdits({[this] { return typeForm_->Pending(); },
                        [this] { return typeForm_->Apply(); },
                        [this] { ShowSelectedWindow(); }});
        connect(this, &RecordPage::RecordChosen, this, [this](RecordSet set, int) {
            if (set == RecordSet::Item) ShowSelectedWindow();
        });
    }
    if (layout_.lists) {
        layout->addWidget(MakeTable(RecordSet::List, lists_, str::kDialogLists));
        layout->addWidget(MakeTable(RecordSet::Entry, entries_, str::kDialogEntries));
        GuardSelection(RecordSet::List, lists_, shownList_);
    }
    if (layout_.service) {
        auto* line = new QHBoxLayout;
        auto* start = new QPushButton(Q(core_.Text(str::kStart)), body);
        auto* stop = new QPushButton(Q(core_.Text(str::kStop)), body);
        start->setObjectName("start");
        stop->setObjectName("stop");
        connect(start, &QPushButton::clicked, this, &RecordPage::StartService);
        connect(stop, &QPushButton::clicked, this, &RecordPage::StopService);
        line->addWidget(start);
        line->addWidget(stop);
        line->addStretch(1);
        layout->addLayout(line);
    }
    layout->addStretch(1);
    status_ = new QLabel(this);
    status_->setObjectName("status");
    status_->setWordWrap(true);
    outer->addWidget(status_);
    Refresh();
}

QWidget* RecordPage::MakeTable(RecordSet set, QTableWidget*& table, uint32_t title) {
    auto* group = new QGroupBox(Q(core_.Text(title)));
    auto* column = new QVBoxLayout(group);
    table = new QTableWidget(group);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->setVisible(false);
    table->setMinimumHeight(140);
    column->addWidget(table);
    auto* line = new QHBoxLayout;
    auto* add = new QPushButton(Q(core_.Text(str::kDialogAdd)), group);
    auto* edit = new QPushButton(Q(core_.Text(str::kDialogEdit)), group);
    auto* remove = new QPushButton(Q(core_.Text(str::kDialogDelete)), group);
    add->setObjectName("add");
    edit->setObjectName("edit");
    remove->setObjectName("delete");
    line->addWidget(add);
    line->addWidget(edit);
    line->addWidget(remove);
    line->addStretch(1);
    column->addLayout(line);
    QTableWidget* shown = table;
    const auto selected = [this, shown]() -> std::optional<int> {
        const int row = SelectedRow(shown);
        if (row < 0) Say(core_.Text(str::kDialogSelectRecord));
        return row < 0 ? std::nullopt : std::optional(row);
    };
    if (set == RecordSet::Entry) {
        connect(add, &QPushButton::clicked, this, [this] {
            if (SelectedRow(lists_) < 0) Say(core_.Text(str::kDialogSelectRecord));
            else OpenEntryForm(-1);
        });
        connect(edit, &QPushButton::clicked, this, [this, selected] {
            if (auto row = selected()) OpenEntryForm(*row);
        });
        connect(remove, &QPushButton::clicked, this, [this, selected] {
            if (auto row = selected()) ToggleEntryDeleted(SelectedRow(lists_), *row);
        });
        connect(table, &QTableWidget::cellDoubleClicked, this, [this](int row) { OpenEntryForm(row); });
    } else {
        connect(add, &QPushButton::clicked, this, [this, set] { OpenRecordForm(set, -1); });
        connect(edit, &QPushButton::clicked, this, [this, set, selected] {
            if (auto row = selected()) OpenRecordForm(set, *row);
        });
        connect(remove, &QPushButton::clicked, this, [this, set, selected] {
            if (auto row = selected()) ToggleDeleted(set, *row);
        });
        connect(table, &QTableWidget::cellDoubleClicked, this, [this, set](int row) { OpenRecordForm(set, row); });
    }
    return group;
}

void RecordPage::GuardSelection(RecordSet set, QTableWidget* table, int& shown) {
    connect(table, &QTableWidget::itemSelectionChanged, this, [this, set, table, &shown] {
        const int now = SelectedRow(table);
        if (filling_ || now == shown) return;
        if (recordEdits_.pending && recordEdits_.pending()) {
            const EditsAnswer answer = AskAboutEdits(core_, this);
            std::optional<std::string> refusal;
            if (answer == EditsAnswer::Apply) refusal = recordEdits_.apply();
            if (answer == EditsAnswer::Cancel || refusal) {
                if (refusal) Say(*refusal);
                // Back to the record the edits belong to.
                const QSignalBlocker quiet(table);
                if (shown >= 0 && shown < table->rowCount()) table->selectRow(shown);
                else table->clearSelection();
                return;
            }
            if (answer == EditsAnswer::Discard) recordEdits_.discard();
        }
        shown = SelectedRow(table);
        if (set == RecordSet::List) FillEntries();
        emit RecordChosen(set, shown);
    });
}

bool RecordPage::HasUnappliedEdits() const {
    return (commonForm_ && !commonForm_->Changed().empty()) ||
           (form_ && form_->isVisible() && !form_->Fields().Changed().empty()) ||
           (recordEdits_.pending && recordEdits_.pending());
}

std::optional<std::string> RecordPage::ApplyEdits() {
    if (commonForm_ && !commonForm_->Changed().empty())
        if (auto refusal = ApplyCommon(commonForm_->Changed())) return refusal;
    if (form_ && form_->isVisible() && !form_->Fields().Changed().empty()) {
        form_->Submit();
        // A refused record form stays open with its reason.
        if (form_ && form_->isVisible()) return form_->Message().toStdString();
    }
    if (recordEdits_.pending && recordEdits_.pending()) return recordEdits_.apply();
    return std::nullopt;
}

void RecordPage::DiscardEdits() {
    if (form_) form_->close();
    if (recordEdits_.pending && recordEdits_.pending()) recordEdits_.discard();
    // The form loses what was typed and then shows what the module holds now.
    FillCommon();
    Refresh();
}

QString RecordPage::Status() const { return status_->text(); }

void RecordPage::Say(const std::string& text) { status_->setText(Q(text)); }

bool RecordPage::GodMode() const { return core_.settings.godMode; }

std::vector<size_t>* RecordPage::RowsOf(RecordSet set) {
    return set == RecordSet::Item ? &itemRows_ : set == RecordSet::List ? &listRows_ : nullptr;
}

std::vector<core::RecordCopy>* RecordPage::RecordsOf(RecordSet set) {
    return set == RecordSet::Item ? &itemCopies_ : set == RecordSet::List ? &listCopies_ : nullptr;
}

void RecordPage::Refresh() {
    // The rows chosen are remembered by the records they show: rows move
    // when records come and go, and the old row number would now name
    // another record, for Edit and Delete as much as for a panel's edits.
    const std::optional<Chosen> chosenItem = ChosenAt(RecordSet::Item, shownItem_);
    const std::optional<Chosen> chosenList = ChosenAt(RecordSet::List, shownList_);
    bool busy = false;
    if (layout_.common) {
        if (auto copy = records_.Copy({RecordSet::Common}); copy && !copy->empty()) {
            common_ = std::move(copy->front());
            // What the user typed and has not applied stays as typed; Apply
            // puts only the changed fields on the record as it is now.
            if (!commonForm_ || commonForm_->Changed().empty()) FillCommon();
        } else {
            busy = true;
        }
    }
    if (layout_.items) {
        if (auto copy = records_.Copy({RecordSet::Item})) {
            itemCopies_ = std::move(*copy);
        } else {
            busy = true;
        }
    }
    bool listRefs = false;
    for (const FieldHint& h : layout_.hints) listRefs = listRefs || h.look == FieldLook::ListRef;
    if ((layout_.lists || listRefs) && records_.Has(RecordSet::List)) {
        if (auto copy = records_.Copy({RecordSet::List})) {
            listCopies_ = std::move(*copy);
        } else {
            busy = true;
        }
    }
    itemRows_.clear();
    for (size_t slot = 0; slot < itemCopies_.size(); ++slot)
        if (!layout_.windowType || layout_.everyWindow || NumberOf(itemCopies_[slot], "Type") == *layout_.windowType)
            itemRows_.push_back(slot);
    listRows_.clear();
    for (size_t slot = 0; slot < listCopies_.size(); ++slot) listRows_.push_back(slot);
    filling_ = true;
    // The records chosen stay chosen: a panel's edits belong to them.
    if (items_) {
        FillTable(*items_, RecordSet::Item, itemCopies_, itemRows_);
        shownItem_ = RowOf(RecordSet::Item, chosenItem);
        if (shownItem_ >= 0) items_->selectRow(shownItem_);
        else items_->clearSelection();
        shownItem_ = SelectedRow(items_);
        // Settings typed for the chosen window stay as typed; the rules it
        // may pick are those of now.
        if (typeForm_ && !busy && !typeForm_->Pending()) ShowSelectedWindow();
        if (typeForm_) typeForm_->OfferRules();
    }
    if (lists_) {
        FillTable(*lists_, RecordSet::List, listCopies_, listRows_);
        shownList_ = RowOf(RecordSet::List, chosenList);
        if (shownList_ >= 0) lists_->selectRow(shownList_);
        else lists_->clearSelection();
        shownList_ = SelectedRow(lists_);
        FillEntries();
    }
    filling_ = false;
    if (busy) Say(core_.Text(str::kDialogBusy));
}

void RecordPage::FillCommon() {
    if (!commonBox_ || !common_) return;
    delete commonForm_;
    commonForm_ = new FieldForm(core_, layout_, RecordSet::Common, *common_, ListNames(), GodMode(), commonBox_);
    static_cast<QVBoxLayout*>(commonBox_->layout())->insertWidget(0, commonForm_);
}

void RecordPage::FillTable(QTableWidget& table, RecordSet set, const std::vector<core::RecordCopy>& records,
                           const std::vector<size_t>& rows) {
    const core::RecordCopy blank = records_.Blank({set});
    if (!blank) return;
    const auto fields = blank.Fields();
    table.clear();
    table.setColumnCount(int(fields.size()) + 1);
    QStringList headers{Q(core_.Text(str::kDialogDeletedColumn))};
    std::vector<FieldHint> hints;
    for (const core::FieldDef& f : fields) {
        hints.push_back(HintFor(layout_, set, f));
        headers << Q(FieldCaption(core_, hints.back(), f));
    }
    table.setHorizontalHeaderLabels(headers);
    for (int c = 0; c < int(fields.size()); ++c) table.horizontalHeaderItem(c + 1)->setToolTip(Q(fields[size_t(c)].key));
    table.setRowCount(int(rows.size()));
    const std::vector<ListName> lists = ListNames();
    for (int r = 0; r < int(rows.size()); ++r) {
        const core::RecordCopy& record = records[rows[size_t(r)]];
        table.setItem(r, 0, new QTableWidgetItem(record.deleted ? "x" : ""));
        for (int c = 0; c < int(fields.size()); ++c) {
            const core::FieldDef& f = fields[size_t(c)];
            const FieldHint& hint = hints[size_t(c)];
            QString text = Q(ShownText(hint, f, record.Data()));
            QString tip;
            const bool number = f.encoding == core::FieldEncoding::Struct && f.size <= 8;
            const uint64_t value = number ? static_cast<uint64_t>(core::FieldNumber(f, record.Data())) : 0;
            switch (ControlFor(hint, f)) {
                case FieldControl::Bits:
                    text = Q(BitNames(core_, hint.names, value));
                    tip = Q(HexText(value));
                    break;
                case FieldControl::Choice:
                    for (const Named& n : hint.names)
                        if (n.value == value) text = Q(NamedText(core_, n));
                    break;
                case FieldControl::ListRef:
                    for (const ListName& l : lists)
                        if (l.uid == value && value != 0) text = Q(l.name);
                    break;
                case FieldControl::Flag: text = value != 0 ? QString(QChar(0x2713)) : QString(); break;
                case FieldControl::Colours: {
                    QStringList colours;
                    for (uint32_t c32 : ColoursOf(f, record.Data()))
                        colours << QColor(int(c32 & 0xFF), int((c32 >> 8) & 0xFF), int((c32 >> 16) & 0xFF)).name();
                    text = colours.join(' ');
                    break;
                }
                case FieldControl::Rect: {
                    const std::vector<uint32_t> e = ColoursOf(f, record.Data());
                    const int64_t left = int32_t(e[0]), top = int32_t(e[1]);
                    text = QString("%1, %2, %3 \u00D7 %4")
                               .arg(left)
                               .arg(top)
                               .arg(int64_t(int32_t(e[2])) - left)
                               .arg(int64_t(int32_t(e[3])) - top);
                    break;
                }
                case FieldControl::Line: break;
            }
            auto* item = new QTableWidgetItem(text);  // the table takes it over
            if (!tip.isEmpty()) item->setToolTip(tip);
            table.setItem(r, c + 1, item);
        }
    }
    table.resizeColumnsToContents();
}

void RecordPage::FillEntries() {
    if (!entries_) return;
    const int row = SelectedRow(lists_);
    std::vector<core::RecordCopy> none;
    const std::vector<core::RecordCopy>& entries =
        row >= 0 && size_t(row) < listRows_.size() ? listCopies_[listRows_[size_t(row)]].entries : none;
    std::vector<size_t> rows(entries.size());
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = i;
    FillTable(*entries_, RecordSet::Entry, entries, rows);
}

std::vector<ListName> RecordPage::ListNames() const {
    std::vector<ListName> names;
    for (const core::RecordCopy& list : listCopies_) {
        if (list.deleted) continue;
        names.push_back({NumberOf(list, layout_.listUidKey), list.Get(layout_.listNameKey).value_or("")});
    }
    return names;
}

std::optional<std::string> RecordPage::Change(const std::function<bool()>& operation,
                                              const std::function<std::string()>& why) {
    std::string said;
    switch (Attempt(core_.counters, operation)) {
        case Outcome::Busy:
            // Nothing changed, and the copies are still what the module holds.
            said = core_.Text(str::kDialogBusy);
            Say(said);
            return said;
        case Outcome::Refused:
            if (why) said = why();
            Refresh();
            if (said.empty()) said = core_.Text(str::kDialogNotAccepted);
            Say(said);
            return said;
        case Outcome::Done: break;
    }
    // Saved as the script's save does: without waiting for the lock.
    const bool saved = module_.SaveSection(platform::Blocking::No);
    Refresh();
    Say(core_.Text(saved ? str::kDialogSaved : str::kDialogNotSaved));
    return std::nullopt;
}

std::optional<std::string> RecordPage::ApplyCommon(const FieldTexts& texts) {
    if (!common_) {
        Refresh();
        if (!common_) return core_.Text(str::kDialogBusy);
    }
    const core::RecordCopy original = *common_;
    core::RecordCopy edited = original;
    if (auto refusal = ApplyFieldTexts(core_, layout_, RecordSet::Common, texts, GodMode(), edited)) {
        Say(*refusal);
        return refusal;
    }
    std::optional<std::string> refusal = Change([&] { return records_.Replace({RecordSet::Common}, 0, edited, original); });
    // Applied: the form shows the record as the module now holds it.
    if (!refusal) FillCommon();
    return refusal;
}

std::optional<std::string> RecordPage::AddRecord(RecordSet set, const FieldTexts& texts) {
    core::RecordCopy record = records_.Blank({set});
    if (!record) return core_.Text(str::kDialogNotAccepted);
    ApplyProposals(layout_, set, set == RecordSet::List ? records_.Blank({RecordSet::Entry}) : core::RecordCopy{}, record);
    if (auto refusal = ApplyFieldTexts(core_, layout_, set, texts, GodMode(), record)) {
        Say(*refusal);
        return refusal;
    }
    if (typeForm_ && set == RecordSet::Item) {
        // A window is added with its own settings, and shown selected.
        std::optional<size_t> added;
        std::optional<std::string> result = typeForm_->AddWindow(record, added);
        if (added) SelectSlot(*added);
        return result;
    }
    return Change([&] { return records_.Add({set}, record); },
                  [&] { return records_.Refusal({set}, record, std::nullopt); });
}

std::optional<std::string> RecordPage::EditRecord(RecordSet set, int row, const FieldTexts& texts) {
    std::vector<size_t>* rows = RowsOf(set);
    if (!rows || row < 0 || size_t(row) >= rows->size()) return core_.Text(str::kDialogSelectRecord);
    const size_t slot = (*rows)[size_t(row)];
    const core::RecordCopy original = (*RecordsOf(set))[slot];
    core::RecordCopy edited = original;
    std::optional<std::string> refusal = ApplyFieldTexts(core_, layout_, set, texts, GodMode(), edited);
    if (!refusal && typeForm_ && set == RecordSet::Item) refusal = typeForm_->EditRefusal(original, edited);
    if (refusal) {
        Say(*refusal);
        return refusal;
    }
    return Change([&] { return records_.Replace({set}, slot, edited, original); },
                  [&] { return records_.Refusal({set}, edited, slot); });
}

std::optional<std::string> RecordPage::ToggleDeleted(RecordSet set, int row) {
    std::vector<size_t>* rows = RowsOf(set);
    if (!rows || row < 0 || size_t(row) >= rows->size()) return core_.Text(str::kDialogSelectRecord);
    const size_t slot = (*rows)[size_t(row)];
    const core::RecordCopy original = (*RecordsOf(set))[slot];
    core::RecordCopy edited = original;
    edited.deleted = !edited.deleted;
    return Change([&] { return records_.Replace({set}, slot, edited, original); },
                  [&] { return records_.Refusal({set}, edited, slot); });
}

std::optional<std::string> RecordPage::ReplaceList(int listRow, core::RecordCopy list) {
    const size_t slot = listRows_[size_t(listRow)];
    const core::RecordCopy original = listCopies_[slot];
    return Change([&] { return records_.Replace({RecordSet::List}, slot, list, original); });
}

std::optional<std::string> RecordPage::AddEntry(int listRow, const FieldTexts& texts) {
    if (listRow < 0 || size_t(listRow) >= listRows_.size()) return core_.Text(str::kDialogSelectRecord);
    core::RecordCopy entry = records_.Blank({RecordSet::Entry});
    if (auto refusal = ApplyFieldTexts(core_, layout_, RecordSet::Entry, texts, GodMode(), entry)) {
        Say(*refusal);
        return refusal;
    }
    core::RecordCopy list = listCopies_[listRows_[size_t(listRow)]];
    list.entries.push_back(std::move(entry));
    return ReplaceList(listRow, std::move(list));
}

std::optional<std::string> RecordPage::EditEntry(int listRow, int entryRow, const FieldTexts& texts) {
    if (listRow < 0 || size_t(listRow) >= listRows_.size()) return core_.Text(str::kDialogSelectRecord);
    core::RecordCopy list = listCopies_[listRows_[size_t(listRow)]];
    if (entryRow < 0 || size_t(entryRow) >= list.entries.size()) return core_.Text(str::kDialogSelectRecord);
    if (auto refusal = ApplyFieldTexts(core_, layout_, RecordSet::Entry, texts, GodMode(), list.entries[size_t(entryRow)])) {
        Say(*refusal);
        return refusal;
    }
    return ReplaceList(listRow, std::move(list));
}

std::optional<std::string> RecordPage::ToggleEntryDeleted(int listRow, int entryRow) {
    if (listRow < 0 || size_t(listRow) >= listRows_.size()) return core_.Text(str::kDialogSelectRecord);
    core::RecordCopy list = listCopies_[listRows_[size_t(listRow)]];
    if (entryRow < 0 || size_t(entryRow) >= list.entries.size()) return core_.Text(str::kDialogSelectRecord);
    // An entry's mark takes it out of its list when the list goes back.
    list.entries[size_t(entryRow)].deleted = true;
    return ReplaceList(listRow, std::move(list));
}

void RecordPage::OpenRecordForm(RecordSet set, int row) {
    core::RecordCopy record;
    if (row < 0) {
        record = records_.Blank({set});
        ApplyProposals(layout_, set, set == RecordSet::List ? records_.Blank({RecordSet::Entry}) : core::RecordCopy{}, record);
    } else {
        std::vector<size_t>* rows = RowsOf(set);
        if (!rows || size_t(row) >= rows->size()) return;
        record = (*RecordsOf(set))[(*rows)[size_t(row)]];
    }
    if (!record) return;
    if (form_) form_->close();
    form_ = new RecordForm(core_, layout_, set, record, ListNames(), GodMode(),
                           [this, set, row](const FieldTexts& texts) {
                               return row < 0 ? AddRecord(set, texts) : EditRecord(set, row, texts);
                           },
                           this);
    form_->setAttribute(Qt::WA_DeleteOnClose);
    form_->open();
}

void RecordPage::OpenEntryForm(int entryRow) {
    const int listRow = SelectedRow(lists_);
    if (listRow < 0 || size_t(listRow) >= listRows_.size()) return;
    const core::RecordCopy& list = listCopies_[listRows_[size_t(listRow)]];
    core::RecordCopy entry;
    if (entryRow < 0) entry = records_.Blank({RecordSet::Entry});
    else if (size_t(entryRow) < list.entries.size()) entry = list.entries[size_t(entryRow)];
    if (!entry) return;
    if (form_) form_->close();
    form_ = new RecordForm(core_, layout_, RecordSet::Entry, entry, ListNames(), GodMode(),
                           [this, listRow, entryRow](const FieldTexts& texts) {
                               return entryRow < 0 ? AddEntry(listRow, texts) : EditEntry(listRow, entryRow, texts);
                           },
                           this);
    form_->setAttribute(Qt::WA_DeleteOnClose);
    form_->open();
}

void RecordPage::ShowSelectedWindow() {
    if (!typeForm_) return;
    const int row = SelectedRow(items_);
    std::optional<size_t> slot;
    uint64_t uid = 0;
    std::string name;
    if (row >= 0 && size_t(row) < itemRows_.size()) {
        slot = itemRows_[size_t(row)];
        uid = NumberOf(itemCopies_[*slot], "UID");
        name = itemCopies_[*slot].Get("Name").value_or("");
    }
    if (!typeForm_->ShowWindow(slot, uid, name)) Say(core_.Text(str::kDialogBusy));
}

std::optional<RecordPage::Chosen> RecordPage::ChosenAt(RecordSet set, int row) const {
    const std::vector<size_t>& rows = set == RecordSet::Item ? itemRows_ : listRows_;
    const std::vector<core::RecordCopy>& copies = set == RecordSet::Item ? itemCopies_ : listCopies_;
    if (row < 0 || size_t(row) >= rows.size() || rows[size_t(row)] >= copies.size()) return std::nullopt;
    Chosen chosen{rows[size_t(row)], std::nullopt};
    const core::RecordCopy& record = copies[chosen.slot];
    const std::string_view uidKey = set == RecordSet::List ? std::string_view(layout_.listUidKey) : "UID";
    if (record.Find(uidKey)) chosen.uid = NumberOf(record, uidKey);
    return chosen;
}

int RecordPage::RowOf(RecordSet set, const std::optional<Chosen>& chosen) const {
    if (!chosen) return -1;
    const std::vector<size_t>& rows = set == RecordSet::Item ? itemRows_ : listRows_;
    for (size_t row = 0; row < rows.size(); ++row) {
        if (rows[row] != chosen->slot) continue;
        const std::optional<Chosen> now = ChosenAt(set, int(row));
        return now && now->uid == chosen->uid ? int(row) : -1;
    }
    return -1;
}

void RecordPage::SelectSlot(size_t slot) {
    for (size_t row = 0; row < itemRows_.size(); ++row)
        if (itemRows_[row] == slot) items_->selectRow(int(row));
}

void RecordPage::StartService() { ServiceCall(true); }
void RecordPage::StopService() { ServiceCall(false); }

void RecordPage::ServiceCall(bool start) {
    core::Module* module = &module_;
    // Starting and stopping wait for the module's lock and its threads:
    // never on the GUI thread.
    const bool started = service_.Run<bool>(
        [module, start] {
            return start ? module->Start(platform::Blocking::Yes) : module->Stop(platform::Blocking::Yes);
        },
        [this, start](bool done) {
            if (start) Say(core_.Text(done ? str::kDialogServiceStarted : str::kDialogServiceNotStarted));
            else Say(core_.Text(done ? str::kDialogServiceStopped : str::kDialogServiceNotStopped));
        });
    if (started) Say(core_.Text(str::kDialogWorking));
}

}  // namespace qm::windows::qt
